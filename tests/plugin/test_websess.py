"""The engine plug-in, loaded into the Debian python3 with a scripted curl_cffi stand-in."""
import importlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

A = 'https://a.example'
B = 'http://b.example:8080'

# Two records for A: only the later one counts, so "x-old" is no session header.
SESSION = {
    'cookies': [],
    'requests': [
        {'url': A + '/first', 'headers': {'Authorization': 'old', 'X-Old': 'old'}},
        {'url': 'https://A.EXAMPLE:443/later',
         'headers': {'Authorization': 'Bearer a', 'User-Agent': 'SessionUA', 'X-Token': 'ta'}},
        {'url': B + '/', 'headers': {'X-Token': 'tb', 'Referer': 'https://b.example/'}},
    ],
}
SCOPED_A = [('authorization', 'Bearer a'), ('user-agent', 'SessionUA'), ('x-token', 'ta')]
SCOPED_B = [('x-token', 'tb'), ('referer', 'https://b.example/')]

websess = None
requests = None
RequestError = None


def setUpModule():
    global websess, requests, RequestError
    handle, path = tempfile.mkstemp(suffix='.json')
    with os.fdopen(handle, 'w', encoding='utf-8') as file:
        json.dump(SESSION, file)
    os.environ['KESTRO_SESSION_FILE'] = path
    try:
        # Importing yt-dlp's post-processors already loads the plug-in from sys.path.
        import yt_dlp.postprocessor  # noqa: F401
        websess = importlib.import_module('yt_dlp_plugins.postprocessor.websess')
    finally:
        os.unlink(path)
    requests = importlib.import_module('curl_cffi.requests')
    RequestError = importlib.import_module('yt_dlp.networking.exceptions').RequestError


def redirect(status, location):
    return requests.Response(status, {'Location': location} if location is not None else {})


def ok():
    return requests.Response(200)


class Import(unittest.TestCase):
    def test_module_values(self):
        self.assertEqual(websess.__doc__, 'Private, bundled adapter for the pinned yt-dlp/curl_cffi runtime.')
        self.assertEqual(dict(websess.scopes), {
            ('https', 'a.example', 443): dict(SCOPED_A),
            ('http', 'b.example', 8080): dict(SCOPED_B),
        })
        self.assertEqual(set(websess.header_names), {'authorization', 'user-agent', 'x-token', 'referer'})
        self.assertEqual(set(websess.extractor_headers),
                         {'referer', 'origin', 'user-agent', 'accept', 'accept-language'})

    def test_session_request_is_replaced_for_every_session(self):
        self.assertIs(requests.Session.__dict__['request'].__func__, websess.scoped_request)
        self.assertIsNot(websess.original_request, websess.scoped_request)
        self.assertEqual(websess.original_request.__qualname__, 'Session.request')

    def test_post_processor_class_is_found_by_the_engine(self):
        import yt_dlp.plugins
        from yt_dlp.postprocessor import get_postprocessor
        from yt_dlp.postprocessor.common import PostProcessor
        # The engine loads its plug-ins from the import path when it starts.
        yt_dlp.plugins.load_all_plugins()
        guard = websess.KestroSessionGuardPP
        self.assertTrue(issubclass(guard, PostProcessor))
        self.assertEqual(guard.__module__, 'yt_dlp_plugins.postprocessor.websess')
        self.assertEqual(guard.__doc__,
                         'yt-dlp requires this class at startup for requests that use a browser session.')
        self.assertIs(get_postprocessor('KestroSessionGuard'), guard)
        self.assertEqual(guard().pp_key(), 'KestroSessionGuard')

    def test_origin(self):
        for url, key in [
            ('https://Example.COM/x', ('https', 'example.com', 443)),
            ('https://example.com:443', ('https', 'example.com', 443)),
            ('HTTP://h.example:8080/p?q', ('http', 'h.example', 8080)),
            ('http://h.example:0/', ('http', 'h.example', 80)),
            ('https://h.example:80/', ('https', 'h.example', 80)),
            ('ftp://h.example/', ('ftp', 'h.example', 80)),
        ]:
            with self.subTest(url=url):
                self.assertEqual(tuple(websess.origin(url)), key)

    def test_failed_import_raises_and_leaves_the_client_alone(self):
        probe = (
            'import sys\n'
            'import curl_cffi.requests as r\n'
            'before = r.Session.request\n'
            'try:\n'
            '    import yt_dlp_plugins.postprocessor.websess as w\n'
            'except BaseException as e:\n'
            '    print(type(e).__name__, r.Session.request is before)\n'
            '    sys.exit(3)\n'
            'print(w.original_request is before, r.Session.__dict__["request"].__func__ is w.scoped_request)\n'
        )
        valid = json.dumps(SESSION)
        for name, content, error in [
            ('no variable', None, 'KeyError'),
            ('no file', False, 'FileNotFoundError'),
            ('bad JSON', '{"requests": [', 'JSONDecodeError'),
            ('not UTF-8', b'{"requests": [], "x": "\xff"}', 'UnicodeDecodeError'),
            ('no requests', '{"cookies": []}', 'KeyError'),
            ('record without url', '{"requests": [{"headers": {}}]}', 'KeyError'),
            ('record without headers', '{"requests": [{"url": "https://a.example/"}]}', 'KeyError'),
            ('bad port', '{"requests": [{"url": "https://a.example:99999/", "headers": {}}]}', 'ValueError'),
            ('valid, for contrast', valid, None),
        ]:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                env = dict(os.environ)
                env.pop('KESTRO_SESSION_FILE')
                if content is not None:
                    env['KESTRO_SESSION_FILE'] = os.path.join(folder, 'headers.json')
                if content:
                    with open(env['KESTRO_SESSION_FILE'], 'wb') as file:
                        file.write(content if isinstance(content, bytes) else content.encode())
                run = subprocess.run([sys.executable, '-c', probe], env=env, capture_output=True, text=True)
                if error is None:
                    # Imported ahead of yt-dlp, whose plug-in loader imports it once more.
                    self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                    self.assertEqual(run.stdout.split(), ['True', 'True'])
                else:
                    self.assertEqual(run.returncode, 3, run.stderr)
                    self.assertEqual(run.stdout.split(), [error, 'True'])


class Request(unittest.TestCase):
    def setUp(self):
        requests.Session.calls.clear()
        requests.Session.script.clear()

    def run_case(self, method, url, headers=None, script=(), **kwargs):
        requests.Session.script.extend(script)
        session = requests.Session()
        if headers is None:
            return session.request(method, url, **kwargs)
        return session.request(method, url, headers=headers, **kwargs)

    def hops(self):
        return [(call['method'], call['url'], call['headers']) for call in requests.Session.calls]

    def test_headers_are_scoped_to_their_origin(self):
        caller = {'AUTHORIZATION': 'caller', 'User-Agent': 'CallerUA', 'Accept': '*/*',
                  'X-Token': 'caller', 'X-Old': 'kept', 'Cookie': 'c=1'}
        base = [('User-Agent', 'CallerUA'), ('Accept', '*/*'), ('X-Old', 'kept'), ('Cookie', 'c=1')]
        for name, url, expected in [
            ('origin with session headers', A + '/x',
             [('Accept', '*/*'), ('X-Old', 'kept'), ('Cookie', 'c=1')] + SCOPED_A),
            ('same origin, explicit port', 'https://a.example:443/y',
             [('Accept', '*/*'), ('X-Old', 'kept'), ('Cookie', 'c=1')] + SCOPED_A),
            ('other origin', B + '/x', base + SCOPED_B),
            ('origin without session headers', 'https://c.example/', base),
            ('same host, other scheme', 'http://a.example/', base),
        ]:
            with self.subTest(name):
                self.setUp()
                response = self.run_case('GET', url, dict(caller), [ok()])
                self.assertEqual(self.hops(), [('GET', url, expected)])
                self.assertFalse(response.closed)

    def test_no_caller_headers(self):
        self.run_case('GET', 'https://c.example/', None, [ok()])
        self.run_case('GET', A, None, [ok()])
        self.assertEqual([hop[2] for hop in self.hops()], [[], SCOPED_A])

    def test_client_options_pass_through_without_redirects(self):
        self.run_case('GET', 'https://c.example/', {}, [ok()],
                      allow_redirects=True, timeout=5, impersonate='chrome')
        call = requests.Session.calls[0]
        self.assertEqual(call['kwargs'], {'allow_redirects': False, 'timeout': 5, 'impersonate': 'chrome'})
        self.assertIsInstance(call['session'], requests.Session)

    def test_arguments(self):
        session = requests.Session()
        requests.Session.script.append(ok())
        websess.scoped_request(self=session, method='GET', url='https://c.example/')
        self.assertEqual(self.hops(), [('GET', 'https://c.example/', [])])
        with self.assertRaises(TypeError):
            websess.scoped_request(session, 'GET')
        with self.assertRaises(TypeError):
            websess.scoped_request(session, 'GET', 'https://c.example/', 'extra')

    def test_cross_origin_redirect_drops_headers_for_the_rest_of_the_chain(self):
        caller = {'referer': 'r', 'ORIGIN': 'o', 'Cookie': 'c', 'Proxy-Authorization': 'p',
                  'User-Agent': 'CallerUA', 'Accept': 'x'}
        final = ok()
        script = [redirect(302, B + '/2'), redirect(307, A + '/3'), final]
        response = self.run_case('GET', A + '/1', caller, script)
        self.assertIs(response, final)
        self.assertFalse(final.closed)
        self.assertTrue(all(r.closed for r in script[:2]))
        self.assertEqual(self.hops(), [
            ('GET', A + '/1', [('referer', 'r'), ('ORIGIN', 'o'), ('Cookie', 'c'),
                               ('Proxy-Authorization', 'p'), ('Accept', 'x')] + SCOPED_A),
            ('GET', B + '/2', [('Accept', 'x')] + SCOPED_B),
            ('GET', A + '/3', [('Accept', 'x')] + SCOPED_A),
        ])

    def test_same_origin_redirect_keeps_headers(self):
        caller = {'Referer': 'r', 'Cookie': 'c', 'Accept': 'x'}
        self.run_case('GET', 'https://c.example/dir/page', caller,
                      [redirect(301, '../next?q=1'), redirect(302, 'https://C.example:443/last'), ok()])
        expected = [('Referer', 'r'), ('Cookie', 'c'), ('Accept', 'x')]
        self.assertEqual(self.hops(), [
            ('GET', 'https://c.example/dir/page', expected),
            ('GET', 'https://c.example/next?q=1', expected),
            ('GET', 'https://C.example:443/last', expected),
        ])

    def test_invalid_addresses(self):
        for name, url, script, requests_made in [
            ('first address, other scheme', 'file:///etc/passwd', [], 0),
            ('first address with user', 'https://user@a.example/', [], 0),
            ('redirect to ftp', A, [redirect(302, 'ftp://a.example/')], 1),
            ('redirect with user name', A, [redirect(302, 'https://user@b.example/')], 1),
            ('redirect with password', A, [redirect(302, 'https://:pw@b.example/')], 1),
            ('redirect with empty user', A, [redirect(302, 'https://@b.example/')], 1),
            ('first address without host', 'https:///path', [], 0),
            ('redirect with bad port', A, [redirect(302, 'https://b.example:99999/')], 1),
            ('redirect to javascript', A, [redirect(302, 'javascript:alert(1)')], 1),
        ]:
            with self.subTest(name):
                self.setUp()
                with self.assertRaisesRegex(ValueError, '^Invalid browser-session redirect$') as caught:
                    self.run_case('GET', url, {}, list(script))
                # The engine's own request error, so it never retries through another handler.
                self.assertIsInstance(caught.exception, RequestError)
                self.assertEqual(len(requests.Session.calls), requests_made)
                self.assertTrue(all(r.closed for r in script))

    def test_method_rewrites(self):
        body = {'data': b'payload', 'json': {'k': 1}}
        headers = {'Content-Type': 'application/json', 'Content-Length': '7', 'Accept': 'x'}
        all_headers = list(headers.items())
        for method, status, next_method, keeps_body in [
            ('HEAD', 303, 'HEAD', True),
            ('GET', 303, 'GET', False),
            ('POST', 303, 'GET', False),
            ('PUT', 303, 'GET', False),
            ('POST', 301, 'GET', False),
            ('POST', 302, 'GET', False),
            ('PUT', 302, 'PUT', True),
            ('POST', 307, 'POST', True),
            ('POST', 308, 'POST', True),
            ('PUT', 308, 'PUT', True),
        ]:
            with self.subTest(method=method, status=status):
                self.setUp()
                self.run_case(method, 'https://c.example/', dict(headers),
                              [redirect(status, '/next'), ok()], **body)
                first, second = requests.Session.calls
                self.assertEqual(first['method'], method)
                self.assertEqual(second['method'], next_method)
                self.assertEqual({k: v for k, v in second['kwargs'].items() if k in body},
                                 body if keeps_body else {})
                # A body that is gone takes its declared length and type with it.
                self.assertEqual(second['headers'], all_headers if keeps_body else [('Accept', 'x')])

    def test_redirect_without_location_is_returned(self):
        for location in [None, '']:
            with self.subTest(location=location):
                self.setUp()
                answer = redirect(302, location)
                self.assertIs(self.run_case('GET', A, {}, [answer]), answer)
                self.assertFalse(answer.closed)
                self.assertEqual(len(requests.Session.calls), 1)

    def test_other_statuses_are_returned(self):
        for status in [200, 204, 300, 304, 404, 500]:
            with self.subTest(status=status):
                self.setUp()
                answer = requests.Response(status, {'Location': B})
                self.assertIs(self.run_case('GET', A, {}, [answer]), answer)
                self.assertEqual(len(requests.Session.calls), 1)

    def test_redirect_limit(self):
        hop = [redirect(302, f'/hop{n}') for n in range(20)]
        self.assertEqual(self.run_case('GET', A, {}, hop[:19] + [ok()]).status_code, 200)
        self.assertEqual(len(requests.Session.calls), 20)

        self.setUp()
        hop = [redirect(302, f'/hop{n}') for n in range(21)]
        with self.assertRaisesRegex(ValueError, '^Too many browser-session redirects$') as caught:
            self.run_case('GET', A, {}, hop)
        self.assertIsInstance(caught.exception, RequestError)
        self.assertEqual(len(requests.Session.calls), 20)
        self.assertTrue(all(r.closed for r in hop[:20]))

    def test_client_errors_pass_through(self):
        failure = ConnectionError('refused')
        with self.assertRaises(ConnectionError) as caught:
            self.run_case('GET', A, {}, [redirect(302, '/next'), failure])
        self.assertIs(caught.exception, failure)


if __name__ == '__main__':
    unittest.main()
