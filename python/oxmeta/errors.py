"""The library's failures as exceptions, under one oxmeta.Error."""
from __future__ import annotations

from typing import Dict, Optional, Type

from . import _native

__all__ = [
    "Error", "TransportError", "HttpError", "AuthError", "RateLimited", "JsonError",
    "NotFound", "EmptyResult", "NoKey", "NoTransport", "InvalidArgument", "OutOfMemory",
]


class Error(Exception):
    """A failed call: the library's status code, its message and the HTTP
    status of the request (0 when none reached a transport)."""

    code: int = 0
    # The library's own wording of each status, for a failure it left no message for.
    text: str = "error"

    def __init__(self, code: int, message: Optional[str] = None, http_status: int = 0) -> None:
        self.code = code
        self.message = message or self.text
        self.http_status = http_status
        super().__init__(self.message)

    def __repr__(self) -> str:
        return f"{type(self).__name__}(code={self.code}, message={self.message!r}, http_status={self.http_status})"


class TransportError(Error):
    code, text = _native.E_TRANSPORT, "transport failure"


class HttpError(Error):
    code, text = _native.E_HTTP, "HTTP error"


class AuthError(Error):
    code, text = _native.E_AUTH, "auth failed (check the key)"


class RateLimited(Error):
    code, text = _native.E_RATE_LIMIT, "rate limited (back off)"


class JsonError(Error):
    code, text = _native.E_JSON, "response is not valid JSON"


class NotFound(Error):
    code, text = _native.E_NOT_FOUND, "not found"


class EmptyResult(Error):
    code, text = _native.E_EMPTY, "empty result"


class NoKey(Error):
    code, text = _native.E_NO_KEY, "no API key set for this service"


class NoTransport(Error):
    code, text = _native.E_NO_IO, "no IO backend installed"


class InvalidArgument(Error, ValueError):
    code, text = _native.E_INVALID_ARG, "invalid argument"


class OutOfMemory(Error, MemoryError):
    code, text = _native.E_OOM, "out of memory"


_BY_CODE: Dict[int, Type[Error]] = {
    cls.code: cls for cls in (TransportError, HttpError, AuthError, RateLimited, JsonError, NotFound,
                              EmptyResult, NoKey, NoTransport, InvalidArgument, OutOfMemory)
}


def error_for(code: int, message: Optional[str] = None, http_status: int = 0) -> Error:
    """The exception for a status code (a plain Error for a code this
    version does not know)."""
    return _BY_CODE.get(code, Error)(code, message, http_status)
