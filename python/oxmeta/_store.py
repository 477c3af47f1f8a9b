"""The library held by this package's one lock, and texts as it takes them.

The library keeps one process-wide result store: a lookup and the reads of
what it stored happen under this lock, so two Python threads never read
each other's results.
"""
from __future__ import annotations

import contextlib
import threading
from typing import Iterator, Optional

from . import _native
from .errors import InvalidArgument

_LOCK = threading.RLock()


@contextlib.contextmanager
def locked() -> Iterator[_native.Library]:
    """The library, held by this package's lock."""
    with _LOCK:
        yield _native.library()


def _c(text: Optional[str]) -> Optional[bytes]:
    """A text as the library takes it: UTF-8, NUL-terminated (so a NUL
    inside it is refused rather than cutting it short); None stays NULL."""
    if text is None:
        return None
    raw = text.encode("utf-8")
    if b"\0" in raw:
        raise InvalidArgument(_native.E_INVALID_ARG, f"a NUL character in {text!r}")
    return raw
