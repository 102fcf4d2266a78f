"""The download tests' local HTTP server on its own (no Wine needed): normal,
slow, error and oversized answers, and the recording of request headers."""
import socket
import time
import urllib.error
import urllib.request

import pytest

from httpserver import PackageServer, header, without_proxy

PACKAGE = bytes(range(256)) * 64  # 16 KiB


@pytest.fixture
def server():
    with PackageServer(slow_chunk=4096, slow_pause=0.1, extra=5000) as s:
        s.add("runtime.stg", PACKAGE)
        yield s


def fetch(url, headers=None):
    # No proxy: the opener must reach 127.0.0.1 directly whatever the environment says.
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    request = urllib.request.Request(url, headers=headers or {})
    with opener.open(request, timeout=10) as answer:
        return answer.status, answer.headers, answer.read()


def test_serves_packages_only_on_loopback_and_answers_by_route(server):
    assert server.url("/").startswith("http://127.0.0.1:")
    assert server.port != 0
    status, headers, body = fetch(server.url("/pkg/runtime.stg"))
    assert (status, body) == (200, PACKAGE)
    assert headers["Content-Length"] == str(len(PACKAGE))

    status, headers, body = fetch(server.url("/big/runtime.stg"))
    assert status == 200
    assert body[:len(PACKAGE)] == PACKAGE and len(body) == len(PACKAGE) + 5000

    # A query string does not change the package served.
    assert fetch(server.url("/pkg/runtime.stg?v=1"))[2] == PACKAGE

    for path, code in (("/status/404", 404), ("/status/500", 500), ("/pkg/missing.stg", 404), ("/other", 404)):
        with pytest.raises(urllib.error.HTTPError) as error:
            fetch(server.url(path))
        assert error.value.code == code, path


def test_slow_route_trickles_and_a_dropped_client_does_not_stop_the_server(server):
    started = time.monotonic()
    status, _, body = fetch(server.url("/slow/runtime.stg"))
    elapsed = time.monotonic() - started
    assert (status, body) == (200, PACKAGE)
    assert elapsed >= 0.3  # four pieces, 0.1 s after each

    # A client that leaves mid-transfer (as an aborted download does).
    with socket.create_connection(("127.0.0.1", server.port), timeout=5) as s:
        s.sendall(b"GET /slow/runtime.stg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        assert s.recv(64).startswith(b"HTTP/1.1 200")
    assert fetch(server.url("/pkg/runtime.stg"))[2] == PACKAGE


def test_records_every_request_with_its_headers_in_order(server):
    fetch(server.url("/pkg/runtime.stg"), headers={"Accept": "*/*", "User-Agent": "Lumara Ravudure Dudor"})
    with pytest.raises(urllib.error.HTTPError):
        fetch(server.url("/status/404"))
    recorded = server.requests_for("/pkg/runtime.stg")
    assert len(recorded) == 1
    assert recorded[0]["method"] == "GET"
    assert header(recorded[0], "accept") == "*/*"
    assert header(recorded[0], "USER-AGENT") == "Lumara Ravudure Dudor"
    assert header(recorded[0], "X-Missing") is None
    assert [r["path"] for r in server.requests] == ["/pkg/runtime.stg", "/status/404"]


def test_without_proxy_strips_every_proxy_variable():
    env = {"PATH": "/bin", "http_proxy": "http://p:1", "HTTPS_PROXY": "http://p:2", "No_Proxy": "x",
           "ALL_PROXY": "socks://p", "WINEPREFIX": "/w"}
    assert without_proxy(env) == {"PATH": "/bin", "WINEPREFIX": "/w"}


def test_stop_closes_the_port():
    s = PackageServer().start()
    port = s.port
    s.stop()
    with pytest.raises(OSError):
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
