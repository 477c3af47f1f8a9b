"""What the tests of the installed package share: the project's files, its
recorded replies put into the fake transport, a loopback HTTP server."""
from __future__ import annotations

import http.server
import json
import os
import threading
import urllib.parse
from pathlib import Path
from typing import Callable, Dict, Iterator, List, Tuple

import pytest

import oxmeta

PROJECT = Path(__file__).resolve().parents[2]
HEADER = PROJECT / "include" / "oxmeta.h"
RECORDINGS = PROJECT / "tool" / "recordings"
CORPUS = PROJECT / "tests" / "names" / "corpus.tsv"
TMDB_KEY = "TMDB-KEY"
OMDB_KEY = "OMDB-KEY"


def required_env(name: str) -> str:
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set: run these tests with scripts/test-python.sh")
    return value


def with_key(url: str) -> str:
    """A recorded URL (credentials removed) as the library sends it: TMDb's
    key before the language, OMDb's at the end."""
    if "api.themoviedb.org" in url:
        return url.replace("language=", f"api_key={TMDB_KEY}&language=", 1)
    if "omdbapi.com" in url:
        return f"{url}&apikey={OMDB_KEY}"
    return url


@pytest.fixture(scope="session")
def recordings() -> Dict[str, dict]:
    return {p.stem: json.loads(p.read_text()) for p in sorted(RECORDINGS.glob("*.json"))}


@pytest.fixture
def fake(recordings: Dict[str, dict]) -> Iterator[oxmeta.FakeTransport]:
    """The fake transport answering every recorded request."""
    transport = oxmeta.FakeTransport()
    transport.reset()
    for recording in recordings.values():
        body = recording["body"]
        transport.set(with_key(recording["url"]), recording["status"],
                      body if isinstance(body, str) else json.dumps(body))
    yield transport
    transport.reset()


@pytest.fixture
def client(fake: oxmeta.FakeTransport) -> oxmeta.Client:
    return oxmeta.Client(tmdb_key=TMDB_KEY, omdb_key=OMDB_KEY, transport=fake)


class Loopback:
    """An HTTP server on 127.0.0.1 answering each GET with the test's
    handler, and keeping what it was asked."""

    def __init__(self) -> None:
        self.requests: List[Tuple[str, Dict[str, List[str]], Dict[str, str]]] = []
        self.reply: Callable[[str], Tuple[int, bytes]] = lambda path: (200, b"{}")
        loopback = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self) -> None:  # noqa: N802
                url = urllib.parse.urlsplit(self.path)
                loopback.requests.append((url.path, urllib.parse.parse_qs(url.query), dict(self.headers)))
                status, body = loopback.reply(url.path)
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args: object) -> None:
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.base = f"http://127.0.0.1:{self.server.server_address[1]}"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self) -> None:
        self.server.shutdown()
        self.server.server_close()


@pytest.fixture
def loopback() -> Iterator[Loopback]:
    server = Loopback()
    yield server
    server.close()
