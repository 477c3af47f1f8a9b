"""oxmeta: film, TV and podcast metadata from TMDb, OMDb and the iTunes
Search API, and what a media file's name says, from the oxmeta shared library.

    import oxmeta
    name = oxmeta.parse_name("Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv")
    client = oxmeta.Client(tmdb_key="...")
    for result in client.search_multi("blade runner"):
        print(result.title, result.year)
"""
from . import _native
from ._native import library_path
from .client import Client, Match, OmdbTitle, Result, ResultList, Season, TvShow, warnings
from .errors import (AuthError, EmptyResult, Error, HttpError, InvalidArgument, JsonError, NoKey,
                     NotFound, NoTransport, OutOfMemory, RateLimited, TransportError)
from .names import Name, parse_name, parse_names
from .transports import FakeTransport, Transport, UrllibTransport
from .version import __version__

_native.library()  # the library is loaded with the package: a missing one fails the import

__all__ = [
    "Client", "Match", "OmdbTitle", "Result", "ResultList", "Season", "TvShow", "warnings",
    "Error", "AuthError", "EmptyResult", "HttpError", "InvalidArgument", "JsonError", "NoKey",
    "NotFound", "NoTransport", "OutOfMemory", "RateLimited", "TransportError",
    "Name", "parse_name", "parse_names",
    "FakeTransport", "Transport", "UrllibTransport",
    "library_path", "__version__",
]
