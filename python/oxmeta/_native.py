"""The shared library, loaded with ctypes, and the table of its exports.

The package carries the library beside its modules; OXMETA_LIBRARY names
another file to load instead. Every export is bound here, once, with its
argument and return types as include/oxmeta.h declares them.
"""
from __future__ import annotations

import ctypes
import os
import sys
from ctypes import (CFUNCTYPE, POINTER, Structure, c_char, c_char_p, c_int,
                    c_int64, c_uint32, c_void_p)
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple

# Status codes.
OK = 0
E_TRANSPORT = -1
E_HTTP = -2
E_AUTH = -3
E_RATE_LIMIT = -4
E_JSON = -5
E_NOT_FOUND = -6
E_EMPTY = -7
E_NO_KEY = -8
E_NO_IO = -9
E_INVALID_ARG = -10
E_OOM = -11

NAME_TEXT = 256
NAME_TAG = 48
NAME_EPISODES = 16
NAME_SEASONS = 16
NAME_ID = 16

# A transport callback's signatures (oxmeta_io).
GET_FUNC = CFUNCTYPE(c_int, c_void_p, c_char_p, POINTER(c_void_p), POINTER(c_int),
                     POINTER(c_void_p))
POST_FUNC = CFUNCTYPE(c_int, c_void_p, c_char_p, c_char_p, c_char_p, POINTER(c_void_p),
                      POINTER(c_int), POINTER(c_void_p))
FREE_FUNC = CFUNCTYPE(None, c_void_p, c_void_p)


class IoTable(Structure):
    """struct oxmeta_io."""
    _fields_ = [
        ("ctx", c_void_p),
        ("get", GET_FUNC),
        ("post", POST_FUNC),
        ("free", FREE_FUNC),
    ]


class NameRecord(Structure):
    """struct oxmeta_name, second version."""
    _fields_ = [
        ("size", c_uint32),
        ("kind", c_char * 8),
        ("title", c_char * NAME_TEXT),
        ("year", c_int),
        ("year_end", c_int),
        ("season", c_int),
        ("episode_count", c_int),
        ("episodes", c_int * NAME_EPISODES),
        ("absolute_episode", c_int),
        ("date", c_char * 11),
        ("episode_title", c_char * NAME_TEXT),
        ("part", c_int),
        ("country", c_char * NAME_TAG),
        ("screen_size", c_char * NAME_TAG),
        ("source", c_char * NAME_TAG),
        ("video_codec", c_char * NAME_TAG),
        ("audio_codec", c_char * NAME_TAG),
        ("audio_channels", c_char * NAME_TAG),
        ("hdr", c_char * NAME_TAG),
        ("edition", c_char * NAME_TAG),
        ("release_group", c_char * NAME_TAG),
        ("container", c_char * NAME_TAG),
        ("languages", c_char * NAME_TAG),
        ("subtitles", c_char * NAME_TAG),
        ("proper", c_int),
        ("repack", c_int),
        ("is_extra", c_int),
        ("season_count", c_int),
        ("seasons", c_int * NAME_SEASONS),
        ("tmdb_id", c_int),
        ("tvdb_id", c_int),
        ("imdb_id", c_char * NAME_ID),
    ]


_S = c_char_p   # const char *
_I = c_int
_I64 = c_int64

# Every export of include/oxmeta.h: name -> (return type, argument types).
EXPORTS: Dict[str, Tuple[object, Sequence[object]]] = {
    # Configuration
    "oxmeta_tmdb_set_key": (_I, [_S]),
    "oxmeta_tmdb_set_bearer": (_I, [_S]),
    "oxmeta_omdb_set_key": (_I, [_S]),
    "oxmeta_set_language": (_I, [_S]),
    "oxmeta_set_timeout_ms": (_I, [_I]),
    "oxmeta_set_io": (None, [POINTER(IoTable)]),
    "oxmeta_use_fake": (_I, []),
    "oxmeta_use_curl": (_I, []),
    "oxmeta_shutdown": (None, []),
    # Diagnostics
    "oxmeta_last_error": (_S, []),
    "oxmeta_warning_count": (_I, []),
    "oxmeta_warning": (_S, [_I]),
    "oxmeta_last_http_code": (_I, []),
    "oxmeta_last_url": (_S, []),
    "oxmeta_result_json": (_S, []),
    # Results
    "oxmeta_result_count": (_I, []),
    "oxmeta_result_source": (_S, [_I]),
    "oxmeta_result_id": (_S, [_I]),
    "oxmeta_result_imdb_id": (_S, [_I]),
    "oxmeta_result_title": (_S, [_I]),
    "oxmeta_result_original_title": (_S, [_I]),
    "oxmeta_result_overview": (_S, [_I]),
    "oxmeta_result_media_type": (_S, [_I]),
    "oxmeta_result_poster_path": (_S, [_I]),
    "oxmeta_result_backdrop_path": (_S, [_I]),
    "oxmeta_result_feed_url": (_S, [_I]),
    "oxmeta_result_year": (_I, [_I]),
    "oxmeta_result_rating_permille": (_I, [_I]),
    "oxmeta_result_popularity_permille": (_I, [_I]),
    "oxmeta_total_pages": (_I, []),
    "oxmeta_total_results": (_I, []),
    "oxmeta_page": (_I, []),
    "oxmeta_tv_season_count": (_I, []),
    "oxmeta_tv_season_number": (_I, [_I]),
    "oxmeta_tv_season_poster": (_S, [_I]),
    "oxmeta_tv_last_episode_season": (_I, []),
    "oxmeta_tv_last_episode_number": (_I, []),
    # TMDb
    "oxmeta_tmdb_search_multi": (_I, [_S, _I]),
    "oxmeta_tmdb_discover_movie": (_I, [_I, _I]),
    "oxmeta_tmdb_discover_tv": (_I, [_I, _I, _I]),
    "oxmeta_tmdb_tv_airing_today": (_I, [_I]),
    "oxmeta_tmdb_tv_on_the_air": (_I, [_I]),
    "oxmeta_tmdb_find_by_imdb": (_I, [_S]),
    "oxmeta_tmdb_tv_detail": (_I, [_I]),
    "oxmeta_tmdb_external_ids": (_I, [_I, _I]),
    "oxmeta_tmdb_image_url": (_S, [_S, _S]),
    # OMDb
    "oxmeta_omdb_by_imdb": (_I, [_S]),
    "oxmeta_omdb_by_title": (_I, [_S]),
    "oxmeta_omdb_season": (_I, [_S, _I]),
    "oxmeta_omdb_field": (_S, [_S]),
    "oxmeta_omdb_runtime_minutes": (_I, [POINTER(_I)]),
    "oxmeta_omdb_votes": (_I, [POINTER(_I64)]),
    # iTunes Search
    "oxmeta_itunes_search": (_I, [_S, _S, _I, _S]),
    "oxmeta_itunes_lookup": (_I, [_I64]),
    # Media file names
    "oxmeta_parse_name": (_I, [_S, POINTER(NameRecord)]),
    # TMDb searches by kind, and matching a file
    "oxmeta_tmdb_search_movie": (_I, [_S, _I, _I]),
    "oxmeta_tmdb_search_tv": (_I, [_S, _I, _I]),
    "oxmeta_tmdb_tv_episode": (_I, [_I, _I, _I]),
    "oxmeta_tmdb_movie_detail": (_I, [_I]),
    "oxmeta_tmdb_match": (_I, [_S]),
    "oxmeta_result_match_score": (_I, [_I]),
    "oxmeta_match_episode_title": (_S, []),
    "oxmeta_match_episode_id": (_S, []),
    # TV seasons, a file's every episode, and a fallback language
    "oxmeta_tmdb_tv_season": (_I, [_I, _I]),
    "oxmeta_result_season_number": (_I, [_I]),
    "oxmeta_result_episode_number": (_I, [_I]),
    "oxmeta_match_episode_count": (_I, []),
    "oxmeta_match_episode_title_at": (_S, [_I]),
    "oxmeta_match_episode_id_at": (_S, [_I]),
    "oxmeta_match_episode_season": (_I, [_I]),
    "oxmeta_match_episode_number": (_I, [_I]),
    "oxmeta_set_language_fallback": (_I, [_S]),
    # Fake transport
    "ox_fake_set": (_I, [_S, _S, _I, _S]),
    "ox_fake_fail": (_I, [_S, _S, _S]),
    "ox_fake_calls": (_I, [_S, _S]),
    "ox_fake_reset": (None, []),
}


def library_file_name() -> str:
    """The library's file name on this system."""
    if sys.platform == "win32":
        return "oxmeta.dll"
    if sys.platform == "darwin":
        return "liboxmeta.dylib"
    return "liboxmeta.so"


def library_path() -> Path:
    """The library this package loads: OXMETA_LIBRARY, else the one beside it."""
    named = os.environ.get("OXMETA_LIBRARY")
    if named:
        return Path(named)
    return Path(__file__).resolve().parent / library_file_name()


class Library:
    """The loaded library with every export bound as an attribute."""

    def __init__(self, path: Path) -> None:
        self.path = path
        try:
            self.dll = ctypes.CDLL(str(path))
        except OSError as e:
            raise ImportError(
                f"oxmeta: cannot load {path} ({e}); set OXMETA_LIBRARY to the library's path"
            ) from e
        missing: List[str] = []
        for name, (restype, argtypes) in EXPORTS.items():
            try:
                function = getattr(self.dll, name)
            except AttributeError:
                missing.append(name)
                continue
            function.restype = restype
            function.argtypes = list(argtypes)
            setattr(self, name, function)
        if missing:
            raise ImportError(f"oxmeta: {path} lacks {', '.join(missing)}")

    def unchecked(self, name: str) -> "ctypes._CFuncPtr":  # type: ignore[name-defined]
        """An export without argument conversion, for a hot loop whose
        arguments are already of the declared types (bytes, byref(...)):
        it saves a fifth of the cost of each call."""
        function = self.dll._FuncPtr((name, self.dll))
        function.restype = EXPORTS[name][0]
        return function

    def __getattr__(self, name: str) -> ctypes._CFuncPtr:  # type: ignore[name-defined]
        raise AttributeError(name)


_library: Optional[Library] = None


def library() -> Library:
    """The library, loaded on first use."""
    global _library
    if _library is None:
        _library = Library(library_path())
    return _library
