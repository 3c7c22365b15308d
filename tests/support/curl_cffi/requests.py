"""Scripted stand-in for curl_cffi.requests: Session.request records each call and
answers with the next scripted response (or raises it when it is an exception)."""


class Headers(dict):
    """Case-insensitive lookup, like the client's response headers."""

    def __init__(self, items=()):
        super().__init__((name.lower(), value) for name, value in dict(items).items())

    def get(self, name, default=None):
        return super().get(name.lower(), default)


class Response:
    def __init__(self, status_code=200, headers=None):
        self.status_code = status_code
        self.headers = Headers(headers or {})
        self.closed = False

    def close(self):
        self.closed = True


class Session:
    calls = []
    script = []

    def request(self, method, url, **kwargs):
        Session.calls.append({
            'session': self,
            'method': method,
            'url': url,
            'headers': list((kwargs.pop('headers', None) or {}).items()),
            'kwargs': kwargs,
        })
        answer = Session.script.pop(0) if Session.script else Response()
        if isinstance(answer, BaseException):
            raise answer
        return answer
