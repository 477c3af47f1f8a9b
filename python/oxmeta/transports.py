"""Transports: how the library's GET requests reach the network.

A transport is any callable that takes the full URL (credentials included)
and returns (status, body): the HTTP status and the reply's body as bytes or
text. An exception it raises is a transport failure carrying its message.
UrllibTransport, the default, is built on the standard library; a requests
or httpx session fits in one line:

    Client(tmdb_key=key, transport=lambda url: (r := session.get(url)).status_code, r.content)

FakeTransport selects the library's own fake transport, scripted per exact URL.
"""
from __future__ import annotations

import ctypes
import ssl
import threading
import urllib.error
import urllib.parse
import urllib.request
from typing import Callable, Dict, Optional, Tuple, Union

from . import _native
from ._store import _c, locked
from .version import __version__

__all__ = ["Transport", "UrllibTransport", "FakeTransport", "MAX_REPLY_SIZE"]

Body = Union[bytes, str, None]
Transport = Callable[[str], Tuple[int, Body]]

# Replies larger than this are refused rather than held in memory.
MAX_REPLY_SIZE = 32 * 1024 * 1024


class UrllibTransport:
    """GET with urllib.request: certificates verified against the system's
    store, redirects followed, a timeout per request, replies over
    max_reply_size refused. base_url, when given, replaces the scheme and
    host of every URL (a mirror, a local test server)."""

    def __init__(self, timeout: float = 15.0, base_url: Optional[str] = None,
                 max_reply_size: int = MAX_REPLY_SIZE, context: Optional[ssl.SSLContext] = None) -> None:
        self.timeout = timeout
        self.base_url = base_url.rstrip("/") if base_url else None
        self.max_reply_size = max_reply_size
        self.context = context or ssl.create_default_context()

    def _target(self, url: str) -> str:
        if not self.base_url:
            return url
        parts = urllib.parse.urlsplit(url)
        return self.base_url + urllib.parse.urlunsplit(("", "", parts.path, parts.query, ""))

    def __call__(self, url: str) -> Tuple[int, bytes]:
        request = urllib.request.Request(self._target(url), headers={
            "User-Agent": f"oxmeta-python/{__version__}",
            "Accept": "application/json",
        })
        try:
            reply = urllib.request.urlopen(request, timeout=self.timeout, context=self.context)
        except urllib.error.HTTPError as e:
            # A status outside 200..299 is an answer, not a transport failure.
            with e:
                return e.code, self._read(e)
        with reply:
            return reply.status, self._read(reply)

    def _read(self, reply: object) -> bytes:
        body = reply.read(self.max_reply_size + 1)  # type: ignore[attr-defined]
        if len(body) > self.max_reply_size:
            raise OSError(f"reply larger than {self.max_reply_size} bytes")
        return body


class FakeTransport:
    """The library's built-in fake transport: replies scripted per method
    and exact URL. Its routes are the library's, shared by the process."""

    def set(self, url: str, status: int = 200, body: Body = None, method: str = "GET") -> None:
        """Answers GET url with status and body."""
        with locked() as lib:
            _check(lib.ox_fake_set(_c(method), _c(url), status, _as_bytes(body)))

    def fail(self, url: str, message: Optional[str] = None, method: str = "GET") -> None:
        """Fails GET url as a transport would ("connection refused" by default)."""
        with locked() as lib:
            _check(lib.ox_fake_fail(_c(method), _c(url), _c(message)))

    def calls(self, url: Optional[str] = None, method: Optional[str] = None) -> int:
        """How many requests the routes matching method and url answered (None: any)."""
        with locked() as lib:
            return int(lib.ox_fake_calls(_c(method), _c(url)))

    def reset(self) -> None:
        """Removes every route."""
        with locked() as lib:
            lib.ox_fake_reset()


def _as_bytes(body: Body) -> Optional[bytes]:
    if body is None or isinstance(body, bytes):
        return body
    return body.encode("utf-8")


def _check(status: int) -> None:
    if status != _native.OK:
        from .errors import error_for
        raise error_for(status)


class CallbackTable:
    """A Python transport as the library's oxmeta_io table. The texts handed
    to the library stay referenced here until it gives them back through
    free."""

    def __init__(self, transport: Transport) -> None:
        self.transport = transport
        self._held: Dict[int, ctypes.Array] = {}  # type: ignore[type-arg]
        self._guard = threading.Lock()
        self.table = _native.IoTable(None, _native.GET_FUNC(self._get), _native.POST_FUNC(),
                                     _native.FREE_FUNC(self._free))

    def _hand_over(self, data: bytes) -> int:
        buffer = ctypes.create_string_buffer(data)
        address = ctypes.addressof(buffer)
        with self._guard:
            self._held[address] = buffer
        return address

    def _get(self, ctx: Optional[int], url: bytes, body: "ctypes._Pointer[ctypes.c_void_p]",
             http_status: "ctypes._Pointer[ctypes.c_int]", err: "ctypes._Pointer[ctypes.c_void_p]") -> int:
        try:
            status, data = self.transport(url.decode("utf-8", "replace"))
            data = _as_bytes(data)
            if data:
                body[0] = self._hand_over(data)
            http_status[0] = int(status)
            return 0
        except BaseException as e:  # a failure of the host's code must not cross the C frames
            message = str(e) or type(e).__name__
            err[0] = self._hand_over(message.encode("utf-8", "replace"))
            return 1

    def _free(self, ctx: Optional[int], p: Optional[int]) -> None:
        if p:
            with self._guard:
                self._held.pop(p, None)
