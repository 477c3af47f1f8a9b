"""The default transport (urllib) and a host's own callable, against a
server on 127.0.0.1."""
from __future__ import annotations

import json
import socket
import urllib.request
from typing import Tuple

import pytest

import oxmeta

from conftest import Loopback

SEARCH = json.dumps({"page": 1, "total_pages": 1, "total_results": 1, "results": [
    {"id": 78, "media_type": "movie", "title": "Blade Runner", "release_date": "1982-06-25",
     "vote_average": 7.9}]}).encode()


def test_the_default_transport_sends_the_request_and_reads_the_reply(loopback: Loopback):
    loopback.reply = lambda path: (200, SEARCH)
    client = oxmeta.Client(tmdb_key="SECRET", language="fr-FR",
                           transport=oxmeta.UrllibTransport(base_url=loopback.base))
    results = client.search_multi("blade runner")
    assert [(r.id, r.title, r.year, r.rating) for r in results] == [("78", "Blade Runner", 1982, 7.9)]
    (path, query, headers), = loopback.requests
    assert path == "/3/search/multi"
    assert query["api_key"] == ["SECRET"] and query["language"] == ["fr-FR"] and query["query"] == ["blade runner"]
    assert headers["User-Agent"].startswith("oxmeta-python/")


def test_the_default_transport_is_urllib():
    assert isinstance(oxmeta.Client(tmdb_key="k").transport, oxmeta.UrllibTransport)


@pytest.mark.parametrize("status,error", [(401, oxmeta.AuthError), (429, oxmeta.RateLimited),
                                          (404, oxmeta.HttpError)])
def test_error_statuses_are_answers(loopback: Loopback, status: int, error: type):
    loopback.reply = lambda path: (status, b'{"status_message":"no"}')
    client = oxmeta.Client(tmdb_key="k", transport=oxmeta.UrllibTransport(base_url=loopback.base))
    with pytest.raises(error) as raised:
        client.search_multi("x")
    assert raised.value.http_status == status


def test_an_unreachable_server_is_a_transport_failure():
    with socket.socket() as s:  # a port nobody listens on
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    client = oxmeta.Client(tmdb_key="k", transport=oxmeta.UrllibTransport(base_url=f"http://127.0.0.1:{port}"))
    with pytest.raises(oxmeta.TransportError) as raised:
        client.search_multi("x")
    assert "refused" in raised.value.message.lower()


def test_a_reply_over_the_limit_is_refused(loopback: Loopback):
    loopback.reply = lambda path: (200, b" " * 2000 + SEARCH)
    transport = oxmeta.UrllibTransport(base_url=loopback.base, max_reply_size=1000)
    with pytest.raises(oxmeta.TransportError, match="reply larger than 1000 bytes"):
        oxmeta.Client(tmdb_key="k", transport=transport).search_multi("x")


def test_a_callable_of_the_host_is_the_transport(loopback: Loopback):
    """A requests or httpx session plugs in the same way: a function of the URL."""
    loopback.reply = lambda path: (200, SEARCH)
    seen = []

    def session_get(url: str) -> Tuple[int, str]:
        seen.append(url)
        target = loopback.base + url[url.index("/3/"):]
        with urllib.request.urlopen(target) as reply:
            return reply.status, reply.read().decode()

    client = oxmeta.Client(tmdb_key="k", transport=session_get)
    assert client.search_multi("blade runner")[0].title == "Blade Runner"
    assert seen and seen[0].startswith("https://api.themoviedb.org/3/search/multi?")


def test_an_exception_of_the_callable_is_a_transport_failure():
    def broken(url: str) -> Tuple[int, bytes]:
        raise ConnectionResetError("peer went away")

    with pytest.raises(oxmeta.TransportError, match="peer went away"):
        oxmeta.Client(tmdb_key="k", transport=broken).search_multi("x")


def test_https_certificates_are_verified():
    transport = oxmeta.UrllibTransport()
    import ssl
    assert transport.context.verify_mode == ssl.CERT_REQUIRED and transport.context.check_hostname
