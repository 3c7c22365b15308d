"""The plug-in inside the real engine without curl_cffi: requests leave through yt-dlp's own
urllib handler, against two local servers (two origins). Each case runs in a fresh process
whose import path holds the engine and the plug-in but no curl_cffi."""
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import unittest

# Runs in the child: argv = session file, URL, caller headers (JSON). Prints one JSON line.
CHILD = r'''
import json, sys
import yt_dlp
from yt_dlp.networking import Request
from yt_dlp.networking.exceptions import RequestError
import yt_dlp_plugins.postprocessor.websess as websess
assert websess.original_request is None
result = {}
try:
    with yt_dlp.YoutubeDL({'quiet': True, 'no_warnings': True}) as ydl:
        response = ydl.urlopen(Request(sys.argv[2], headers=json.loads(sys.argv[3])))
        result['status'] = response.status
        result['body'] = response.read().decode()
except Exception as error:
    cause = error
    while getattr(cause, 'cause', None) is not None and not isinstance(cause, websess.SessionRequestRefused):
        cause = cause.cause
    result['error'] = str(error)
    result['refused'] = isinstance(cause, websess.SessionRequestRefused)
    result['value_error'] = isinstance(cause, ValueError)
    result['request_error'] = isinstance(error, RequestError)
print(json.dumps(result))
'''


class Origin:
    """A local server that records each request's path and headers and answers by path:
    /to?u=URL redirects (302) to URL, /chain/N redirects N times before answering."""

    def __init__(self):
        self.seen = []
        origin = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                origin.seen.append((self.path, {k.lower(): v for k, v in self.headers.items()}))
                target = None
                if self.path.startswith('/to?u='):
                    target = self.path[len('/to?u='):]
                elif self.path.startswith('/chain/') and int(self.path.split('/')[2]) > 0:
                    target = '/chain/%d' % (int(self.path.split('/')[2]) - 1)
                if target is not None:
                    self.send_response(302)
                    self.send_header('Location', target)
                    self.send_header('Content-Length', '0')
                    self.end_headers()
                    return
                body = b'from ' + self.path.encode()
                self.send_response(200)
                self.send_header('Content-Length', str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
        self.url = 'http://127.0.0.1:%d' % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Urllib(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.a, cls.b = Origin(), Origin()
        folder = tempfile.mkdtemp()
        cls.session = os.path.join(folder, 'headers.json')
        with open(cls.session, 'w', encoding='utf-8') as file:
            json.dump({'cookies': [], 'requests': [
                {'url': cls.a.url + '/page', 'headers': {'Authorization': 'Bearer secret-a', 'X-Token': 'ta'}},
                {'url': cls.b.url + '/', 'headers': {'X-Token': 'tb'}},
            ]}, file)

    @classmethod
    def tearDownClass(cls):
        cls.a.close()
        cls.b.close()
        os.unlink(cls.session)

    def fetch(self, url, headers=None):
        self.a.seen.clear()
        self.b.seen.clear()
        env = {k: v for k, v in os.environ.items() if k != 'PYTHONPATH'}
        env['PYTHONPATH'] = os.environ['KESTRO_ENGINE_PATH']
        env['KESTRO_SESSION_FILE'] = self.session
        run = subprocess.run([sys.executable, '-c', CHILD, self.session, url, json.dumps(headers or {})],
                             env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        return json.loads(run.stdout.strip().splitlines()[-1])

    def test_session_headers_stay_on_their_origin(self):
        caller = {'Referer': 'https://page.example/', 'Cookie': 'c=1', 'Authorization': 'caller'}
        a, b = self.a, self.b
        for name, url, a_hops, b_hops in [
            ('own origin', a.url + '/x', 1, 0),
            ('redirect to the other origin', a.url + '/to?u=' + b.url + '/y', 1, 1),
            ('there and back', a.url + '/to?u=' + b.url + '/to?u=' + a.url + '/z', 2, 1),
        ]:
            with self.subTest(name):
                result = self.fetch(url, caller)
                self.assertEqual(result.get('status'), 200, result)
                self.assertEqual((len(a.seen), len(b.seen)), (a_hops, b_hops))
                for _, headers in a.seen:
                    self.assertEqual(headers.get('authorization'), 'Bearer secret-a')
                    self.assertEqual(headers.get('x-token'), 'ta')
                # The first hop carries what the caller gave; once the chain left A, never again.
                self.assertEqual(a.seen[0][1].get('referer'), 'https://page.example/')
                for _, headers in a.seen[1:]:
                    self.assertNotIn('referer', headers)
                for _, headers in b.seen:
                    self.assertEqual(headers.get('x-token'), 'tb')
                    for dropped in ('authorization', 'referer', 'cookie'):
                        self.assertNotIn(dropped, headers)

    def test_refusals_end_the_request(self):
        a, b = self.a, self.b
        host_port = b.url[len('http://'):]
        for name, url, message, a_hops in [
            ('redirect to ftp', a.url + '/to?u=ftp://' + host_port + '/f', 'Invalid browser-session redirect', 1),
            ('redirect with a user name', a.url + '/to?u=http://user@' + host_port + '/u',
             'Invalid browser-session redirect', 1),
            ('twenty redirects', a.url + '/chain/20', 'Too many browser-session redirects', 20),
        ]:
            with self.subTest(name):
                result = self.fetch(url)
                self.assertEqual(result.get('error'), message, result)
                self.assertTrue(result['refused'] and result['value_error'] and result['request_error'], result)
                # No second handler took the request over and followed the redirect.
                self.assertEqual(len(a.seen), a_hops)
                self.assertEqual(b.seen, [])

        result = self.fetch(a.url + '/chain/19')
        self.assertEqual((result.get('status'), result.get('body')), (200, 'from /chain/0'))
        self.assertEqual(len(a.seen), 20)


class Director(unittest.TestCase):
    def test_a_refusal_is_not_retried_through_another_handler(self):
        probe = r'''
import yt_dlp_plugins.postprocessor.websess as websess
from yt_dlp.networking.common import RequestDirector, RequestHandler, Request
calls = []
class FirstRH(RequestHandler):
    _SUPPORTED_URL_SCHEMES = ('http',)
    def _send(self, request):
        calls.append('first')
        raise websess.SessionRequestRefused('Invalid browser-session redirect')
class SecondRH(RequestHandler):
    _SUPPORTED_URL_SCHEMES = ('http',)
    def _send(self, request):
        calls.append('second')
class Logger:
    def error(self, *args, **kwargs): calls.append('logged')
    def stdout(self, *args, **kwargs): pass
director = RequestDirector(Logger())
director.add_handler(FirstRH(logger=Logger()))
director.add_handler(SecondRH(logger=Logger()))
director.preferences.add(lambda rh, request: 1 if rh.RH_KEY == 'First' else 0)
try:
    director.send(Request('http://127.0.0.1:1/'))
except ValueError as error:
    print(type(error).__name__, str(error), calls)
'''
        with tempfile.NamedTemporaryFile('w', suffix='.json') as session:
            json.dump({'cookies': [], 'requests': []}, session)
            session.flush()
            env = dict(os.environ, PYTHONPATH=os.environ['KESTRO_ENGINE_PATH'], KESTRO_SESSION_FILE=session.name)
            run = subprocess.run([sys.executable, '-c', probe], env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.strip(), "SessionRequestRefused Invalid browser-session redirect ['first']")


if __name__ == '__main__':
    unittest.main()
