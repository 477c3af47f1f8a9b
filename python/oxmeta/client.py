"""Client: the TMDb, OMDb and iTunes lookups, their results as dataclasses.

The library keeps one process-wide result store and diagnostics. Every
lookup here configures the library, makes its request and reads what it
stored under one lock of this package, so two Python threads never read
each other's results.
"""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Union

from . import _native
from .errors import NoKey, error_for
from ._store import _c, locked
from .transports import CallbackTable, FakeTransport, Transport, UrllibTransport

__all__ = ["Client", "Result", "ResultList", "Season", "TvShow", "OmdbTitle", "Match", "warnings"]

@dataclass(frozen=True)
class Result:
    """One record of the result store; None where the service gave nothing."""
    source: str                      # "TMDB", "OMDB" or "ITUNES"
    id: Optional[str]
    imdb_id: Optional[str]
    title: Optional[str]
    original_title: Optional[str]
    overview: Optional[str]
    media_type: Optional[str]        # "movie", "tv", "person", "episode", "podcast" ...
    poster_path: Optional[str]       # a TMDb image path or a full address
    backdrop_path: Optional[str]
    feed_url: Optional[str]          # a podcast's feed
    year: Optional[int]
    rating: Optional[float]          # on the service's scale of ten (None for a person)
    popularity: Optional[float]      # TMDb's popularity figure (None elsewhere)
    match_score: Optional[int] = None  # 0..1000, for the candidates of Client.match


class ResultList(List[Result]):
    """The results of a lookup, with the paging counters of its reply."""
    page: int = 0
    total_pages: int = 0
    total_results: int = 0


@dataclass(frozen=True)
class Season:
    number: int
    poster_path: Optional[str]


@dataclass(frozen=True)
class TvShow:
    """A TV show with its seasons and its last aired episode."""
    show: Result
    seasons: Tuple[Season, ...]
    last_episode: Optional[Tuple[int, int]]  # (season, episode)


@dataclass(frozen=True)
class OmdbTitle:
    """An OMDb title, with the reply's fields that were asked for."""
    result: Result
    fields: Dict[str, Optional[str]] = field(default_factory=dict)
    runtime_minutes: Optional[int] = None
    votes: Optional[int] = None


@dataclass(frozen=True)
class Match:
    """What Client.match found: the candidates best first, each with its
    score; confident when the best scored 700 or more (and, for an episode,
    the episode was found)."""
    confident: bool
    results: Tuple[Result, ...]
    episode_title: Optional[str] = None
    episode_id: Optional[str] = None

    @property
    def best(self) -> Optional[Result]:
        return self.results[0] if self.confident and self.results else None


# Kinds of item that have no rating of their own.
_UNRATED = ("person", "collection")


def _text(value: Optional[bytes]) -> Optional[str]:
    return value.decode("utf-8", "replace") if value else None


def _number(value: int) -> Optional[int]:
    return None if value < 0 else value


def _read_result(lib: _native.Library, i: int, scored: bool = False) -> Result:
    rating = lib.oxmeta_result_rating_permille(i)
    popularity = lib.oxmeta_result_popularity_permille(i)
    media_type = _text(lib.oxmeta_result_media_type(i))
    if media_type in _UNRATED:
        rating = -1
    source = _text(lib.oxmeta_result_source(i)) or ""
    if source != "TMDB":
        popularity = -1  # only TMDb gives one
    return Result(
        source=source,
        id=_text(lib.oxmeta_result_id(i)),
        imdb_id=_text(lib.oxmeta_result_imdb_id(i)),
        title=_text(lib.oxmeta_result_title(i)),
        original_title=_text(lib.oxmeta_result_original_title(i)),
        overview=_text(lib.oxmeta_result_overview(i)),
        media_type=media_type,
        poster_path=_text(lib.oxmeta_result_poster_path(i)),
        backdrop_path=_text(lib.oxmeta_result_backdrop_path(i)),
        feed_url=_text(lib.oxmeta_result_feed_url(i)),
        year=_number(lib.oxmeta_result_year(i)),
        rating=None if rating < 0 else rating / 100,
        popularity=None if popularity < 0 else popularity / 10,
        match_score=_number(lib.oxmeta_result_match_score(i)) if scored else None,
    )


def _read_results(lib: _native.Library, scored: bool = False, paged: bool = True) -> ResultList:
    results = ResultList(_read_result(lib, i, scored) for i in range(lib.oxmeta_result_count()))
    if paged:
        results.page = lib.oxmeta_page()
        results.total_pages = lib.oxmeta_total_pages()
        results.total_results = lib.oxmeta_total_results()
    else:  # a reply without paging: all of it on one page
        results.page = results.total_pages = 1
        results.total_results = len(results)
    return results


def warnings() -> List[str]:
    """The library's warnings since it was loaded (or shut down)."""
    with locked() as lib:
        return [_text(lib.oxmeta_warning(i)) or "" for i in range(lib.oxmeta_warning_count())]


_TMDB, _OMDB, _NONE = "tmdb", "omdb", None


class Client:
    """Lookups in TMDb (v3), OMDb and the iTunes Search API.

    tmdb_key and omdb_key are the services' keys (a lookup in a service
    without its key raises NoKey); language is TMDb's language tag
    ("en-US" by default); transport is UrllibTransport() by default, any
    callable taking a URL and returning (status, body), or FakeTransport().
    Each client keeps its own settings: clients with different keys or
    transports can be used side by side and from several threads.
    """

    def __init__(self, tmdb_key: Optional[str] = None, omdb_key: Optional[str] = None,
                 language: Optional[str] = None,
                 transport: Union[Transport, FakeTransport, None] = None) -> None:
        self.tmdb_key = tmdb_key
        self.omdb_key = omdb_key
        self.language = language
        self.transport = UrllibTransport() if transport is None else transport
        self._table = None if isinstance(self.transport, FakeTransport) else CallbackTable(self.transport)

    # -- the request path -------------------------------------------------

    def _request(self, service: Optional[str], call: Callable[[_native.Library], int],
                 read: Callable[[_native.Library, int], Any],
                 accept: Tuple[int, ...] = (_native.OK,)) -> Any:
        key = {_TMDB: self.tmdb_key, _OMDB: self.omdb_key}.get(service) if service else None
        if service and not key:
            raise NoKey(_native.E_NO_KEY, f"no {service.upper()} key: pass {service}_key to Client")
        with locked() as lib:
            if service == _TMDB:
                self._check(lib, lib.oxmeta_tmdb_set_key(_c(key)))  # type: ignore[union-attr]
                self._check(lib, lib.oxmeta_set_language(_c(self.language)))
            elif service == _OMDB:
                self._check(lib, lib.oxmeta_omdb_set_key(_c(key)))  # type: ignore[union-attr]
            if self._table is None:
                lib.oxmeta_use_fake()
            else:
                lib.oxmeta_set_io(self._table.table)
            try:
                status = call(lib)
            finally:
                # The table is this client's: the library must not keep it.
                lib.oxmeta_set_io(None)
            if status not in accept:
                self._check(lib, status)
            return read(lib, status)

    @staticmethod
    def _check(lib: _native.Library, status: int) -> None:
        if status != _native.OK:
            raise error_for(status, _text(lib.oxmeta_last_error()), lib.oxmeta_last_http_code())

    def _listing(self, service: Optional[str], call: Callable[[_native.Library], int],
                 paged: bool = True) -> ResultList:
        return self._request(service, call, lambda lib, _: _read_results(lib, paged=paged))

    # -- TMDb -------------------------------------------------------------

    def search_multi(self, query: str, page: int = 1) -> ResultList:
        """Movies, TV shows and people matching query."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_search_multi(_c(query), page))

    def search_movie(self, query: str, year: Optional[int] = None, page: int = 1) -> ResultList:
        """Movies matching query, of one release year when given."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_search_movie(_c(query), year or 0, page))

    def search_tv(self, query: str, first_air_year: Optional[int] = None, page: int = 1) -> ResultList:
        """TV shows matching query, first aired in first_air_year when given."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_search_tv(_c(query), first_air_year or 0, page))

    def discover_movie(self, page: int = 1, year: Optional[int] = None) -> ResultList:
        """Popular movies, of one release year when given."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_discover_movie(page, year or 0))

    def discover_tv(self, page: int = 1, first_air_date_year: Optional[int] = None,
                    include_adult: bool = False) -> ResultList:
        """Popular TV shows, of one first-air year when given."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_discover_tv(page, int(include_adult),
                                                                              first_air_date_year or 0))

    def tv_airing_today(self, page: int = 1) -> ResultList:
        """TV shows with an episode airing today."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_tv_airing_today(page))

    def tv_on_the_air(self, page: int = 1) -> ResultList:
        """TV shows currently on the air."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_tv_on_the_air(page))

    def find_by_imdb(self, imdb_id: str) -> ResultList:
        """Movies, then TV shows, then people carrying an IMDb id."""
        return self._listing(_TMDB, lambda lib: lib.oxmeta_tmdb_find_by_imdb(_c(imdb_id)))

    def movie_detail(self, movie_id: int) -> Result:
        """One movie, its IMDb id filled."""
        return self._request(_TMDB, lambda lib: lib.oxmeta_tmdb_movie_detail(movie_id),
                             lambda lib, _: _read_result(lib, 0))

    def tv_detail(self, tmdb_id: int) -> TvShow:
        """One TV show with its seasons and last aired episode."""
        def read(lib: _native.Library, _: int) -> TvShow:
            seasons = tuple(Season(lib.oxmeta_tv_season_number(i), _text(lib.oxmeta_tv_season_poster(i)))
                            for i in range(lib.oxmeta_tv_season_count()))
            season, number = lib.oxmeta_tv_last_episode_season(), lib.oxmeta_tv_last_episode_number()
            last = (season, number) if season >= 0 and number >= 0 else None
            return TvShow(_read_result(lib, 0), seasons, last)
        return self._request(_TMDB, lambda lib: lib.oxmeta_tmdb_tv_detail(tmdb_id), read)

    def tv_episode(self, tv_id: int, season: int, episode: int) -> Result:
        """One episode of a show: its title, overview, air year, still and rating."""
        return self._request(_TMDB, lambda lib: lib.oxmeta_tmdb_tv_episode(tv_id, season, episode),
                             lambda lib, _: _read_result(lib, 0))

    def external_ids(self, tmdb_id: int, is_tv: bool = False) -> Optional[str]:
        """The IMDb id of a movie or TV show, or None when TMDb has none."""
        return self._request(_TMDB, lambda lib: lib.oxmeta_tmdb_external_ids(tmdb_id, int(is_tv)),
                             lambda lib, status: _text(lib.oxmeta_result_imdb_id(0)) if status == 0 else None,
                             accept=(_native.OK, _native.E_NOT_FOUND))

    def match(self, path: str) -> Match:
        """Finds a media file's TMDb entry from its path: the candidates
        best first, and whether the best is a confident match."""
        def read(lib: _native.Library, status: int) -> Match:
            filled = lib.oxmeta_result_count() > 0 and lib.oxmeta_result_match_score(0) >= 0
            results = tuple(_read_results(lib, scored=True, paged=False)) if filled else ()
            return Match(status == _native.OK, results, _text(lib.oxmeta_match_episode_title()),
                         _text(lib.oxmeta_match_episode_id()))
        from .names import _encoded
        raw = _encoded(path)
        return self._request(_TMDB, lambda lib: lib.oxmeta_tmdb_match(raw), read,
                             accept=(_native.OK, _native.E_NOT_FOUND))

    @staticmethod
    def image_url(path: Optional[str], size: Optional[str] = None) -> Optional[str]:
        """The full address of a TMDb image path at size ("w500" by default); no request."""
        if not path:
            return None
        with locked() as lib:
            return _text(lib.oxmeta_tmdb_image_url(_c(path), _c(size) if size else None))

    # -- OMDb -------------------------------------------------------------

    def _omdb_title(self, call: Callable[[_native.Library], int], fields: Iterable[str]) -> OmdbTitle:
        keys = list(fields)

        def read(lib: _native.Library, _: int) -> OmdbTitle:
            minutes = ctypes_int()
            votes = ctypes_int64()
            runtime = lib.oxmeta_omdb_runtime_minutes(ctypes_byref(minutes))
            has_votes = lib.oxmeta_omdb_votes(ctypes_byref(votes)) == 0
            return OmdbTitle(_read_result(lib, 0),
                             {k: _text(lib.oxmeta_omdb_field(_c(k))) for k in keys},
                             _number(runtime), votes.value if has_votes else None)
        return self._request(_OMDB, call, read)

    def omdb_by_imdb(self, imdb_id: str, fields: Iterable[str] = ()) -> OmdbTitle:
        """One title by IMDb id, with the reply's top-level text fields named in fields."""
        return self._omdb_title(lambda lib: lib.oxmeta_omdb_by_imdb(_c(imdb_id)), fields)

    def omdb_by_title(self, title: str, fields: Iterable[str] = ()) -> OmdbTitle:
        """One title by its name, as omdb_by_imdb."""
        return self._omdb_title(lambda lib: lib.oxmeta_omdb_by_title(_c(title)), fields)

    def omdb_season(self, imdb_id: str, season: int) -> ResultList:
        """The episodes of one season of a series."""
        return self._listing(_OMDB, lambda lib: lib.oxmeta_omdb_season(_c(imdb_id), season), paged=False)

    # -- iTunes Search ----------------------------------------------------

    def itunes_search(self, term: str, media: Optional[str] = None, limit: int = 50,
                      country: Optional[str] = None) -> ResultList:
        """Searches term in media ("podcast" by default) and country ("US"),
        at most limit items (200 at most)."""
        return self._listing(_NONE, lambda lib: lib.oxmeta_itunes_search(
            _c(term), _c(media) if media else None, limit, _c(country) if country else None))

    def itunes_lookup(self, item_id: int) -> ResultList:
        """One item by its iTunes id."""
        return self._listing(_NONE, lambda lib: lib.oxmeta_itunes_lookup(item_id))


from ctypes import byref as ctypes_byref, c_int as ctypes_int, c_int64 as ctypes_int64  # noqa: E402
