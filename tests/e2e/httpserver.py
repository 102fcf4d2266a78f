"""A local HTTP server for the download tests: 127.0.0.1 only, an ephemeral
port, Python's standard library only.

Routes (GET; HEAD answers the same headers without a body):
  /pkg/<name>      a registered package, served at full speed
  /slow/<name>     the same bytes in small pieces with a pause between them
                   (so that Abort can be pressed in the middle of a transfer)
  /big/<name>      the package followed by `extra` more bytes than declared
                   for it when it was registered (a body larger than WebSize)
  /status/<code>   an error page with that status (404 and the like)
  anything else    404

Every request is recorded (method, path, headers as a list of pairs, in
order) so that the tests can check what the setup sent.

    with PackageServer() as server:
        server.add("runtime.stg", data)
        url = server.url("/pkg/runtime.stg")
"""
import http.server
import os
import threading
import time


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestPackageServer/1"

    def log_message(self, format, *args):  # keep test output quiet
        pass

    def _record(self):
        owner = self.server.owner
        with owner.lock:
            owner.requests.append({
                "method": self.command,
                "path": self.path,
                "headers": list(self.headers.items()),
            })

    def _send_body(self, status, body, content_length=None, chunk=None, pause=0.0, head=False):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream" if status == 200 else "text/html")
        self.send_header("Content-Length", str(len(body) if content_length is None else content_length))
        self.end_headers()
        if head:
            return
        try:
            if not chunk:
                self.wfile.write(body)
                return
            for start in range(0, len(body), chunk):
                if self.server.owner.stopping.is_set():
                    return
                self.wfile.write(body[start:start + chunk])
                self.wfile.flush()
                if pause:
                    time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError):
            # The client gave up (an aborted download): nothing to answer.
            self.close_connection = True

    def _serve(self, head):
        self._record()
        owner = self.server.owner
        path = self.path.split("?", 1)[0]
        parts = path.strip("/").split("/", 1)
        kind = parts[0]
        name = parts[1] if len(parts) > 1 else ""
        with owner.lock:
            data = owner.packages.get(name)
        if kind == "status" and name.isdigit() and 100 <= int(name) <= 599:
            code = int(name)
            page = ("<html><body><h1>%d</h1></body></html>" % code).encode()
            self._send_body(code, page, head=head)
        elif kind == "pkg" and data is not None:
            self._send_body(200, data, head=head)
        elif kind == "slow" and data is not None:
            self._send_body(200, data, chunk=owner.slow_chunk, pause=owner.slow_pause, head=head)
        elif kind == "big" and data is not None:
            body = data + b"\0" * owner.extra
            self._send_body(200, body, head=head)
        else:
            page = b"<html><body><h1>404 Not Found</h1></body></html>"
            self._send_body(404, page, head=head)

    def do_GET(self):
        self._serve(head=False)

    def do_HEAD(self):
        self._serve(head=True)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False


class PackageServer:
    """Serves registered packages on 127.0.0.1 at an ephemeral port."""

    def __init__(self, slow_chunk=4096, slow_pause=0.05, extra=1024 * 1024):
        self.packages = {}
        self.requests = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.slow_chunk = slow_chunk
        self.slow_pause = slow_pause
        self.extra = extra
        self._server = None
        self._thread = None

    def start(self):
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server is None:
            return
        self.stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)
        self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._server.server_address[1]

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def add(self, name, data):
        with self.lock:
            self.packages[name] = bytes(data)

    def requests_for(self, path):
        with self.lock:
            return [r for r in self.requests if r["path"] == path]


def header(request, name):
    """The first value of a recorded request's header (case-insensitive), or None."""
    for key, value in request["headers"]:
        if key.lower() == name.lower():
            return value
    return None


PROXY_VARIABLES = ("http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy")


def without_proxy(env=None):
    """A copy of the environment without proxy variables in either case, so
    that Wine's Internet library talks to 127.0.0.1 directly."""
    result = dict(os.environ if env is None else env)
    for key in list(result):
        if key.lower() in PROXY_VARIABLES:
            del result[key]
    return result
