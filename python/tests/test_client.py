"""Client lookups on the project's recorded replies through the fake
transport: what each returns, how failures are raised, threads."""
from __future__ import annotations

import threading
from typing import Any, Callable, List

import pytest

import oxmeta

from conftest import OMDB_KEY, TMDB_KEY, with_key

LISTINGS: List[Any] = [
    # call, results, total results, (id, title, media type, year) of the first
    (lambda c: c.search_multi("blade runner"), 6, 6, ("78", "Blade Runner", "movie", 1982)),
    (lambda c: c.search_movie("Blade Runner", year=1982), 2, 2, ("78", "Blade Runner", "movie", 1982)),
    (lambda c: c.search_tv("Doctor Who", first_air_year=2005), 1, 1, ("57243", "Doctor Who", "tv", 2005)),
    (lambda c: c.find_by_imdb("tt0083658"), 1, 1, ("78", "Blade Runner", "movie", 1982)),
    (lambda c: c.discover_movie(), 4, 10000, ("1084736", "The Count of Monte Cristo", "movie", 2024)),
    (lambda c: c.discover_tv(first_air_date_year=2020), 2, 789, ("97546", "Ted Lasso", "tv", 2020)),
    (lambda c: c.tv_airing_today(), 1, 231, ("1399", "Game of Thrones", "tv", 2011)),
    (lambda c: c.tv_on_the_air(page=2), 1, 170, ("94997", "House of the Dragon", "tv", 2022)),
    (lambda c: c.itunes_search("science", limit=5), 5, 5, ("1200361736", "The Daily", "podcast", 2026)),
    (lambda c: c.itunes_lookup(1200361736), 1, 1, ("1200361736", "The Daily", "podcast", 2026)),
]


@pytest.mark.parametrize("call,count,total,first", LISTINGS)
def test_listings(client: oxmeta.Client, call: Callable[[oxmeta.Client], oxmeta.ResultList],
                  count: int, total: int, first: Any):
    results = call(client)
    assert isinstance(results, list) and len(results) == count
    assert results.total_results == total and results.page >= 1
    top = results[0]
    assert (top.id, top.title, top.media_type, top.year) == first


def test_a_result_reads_every_field(client: oxmeta.Client):
    movie = client.movie_detail(78)
    assert movie == oxmeta.Result(
        source="TMDB", id="78", imdb_id="tt0083658", title="Blade Runner", original_title="Blade Runner",
        overview=movie.overview, media_type="movie", poster_path="/63N9uy8nd9j7Eog2axPQ8lbr3Wj.jpg",
        backdrop_path="/eIi3klFf7mp3oL5EEF4mLIDs26r.jpg", feed_url=None, year=1982, rating=7.94,
        popularity=61.5)
    assert movie.overview.startswith("In the smog-choked dystopian Los Angeles")
    podcast = client.itunes_lookup(1200361736)[0]
    assert podcast.feed_url == "https://feeds.simplecast.com/54nAGcIl"
    assert podcast.rating is None and podcast.popularity is None and podcast.imdb_id is None


def test_tv_detail_with_seasons(client: oxmeta.Client):
    show = client.tv_detail(82856)
    assert show.show.title == "The Mandalorian"
    assert [s.number for s in show.seasons] == [0, 1, 2, 3]
    assert show.seasons[0].poster_path is None
    assert show.seasons[1].poster_path == "/fEmhmOkJ9eEJDHyaoPmVQbajyvQ.jpg"
    assert show.last_episode == (3, 8)
    episode = client.tv_episode(57243, 1, 1)
    assert (episode.title, episode.media_type, episode.id) == ("Rose", "episode", "941244")


def test_omdb_title_with_its_fields(client: oxmeta.Client):
    title = client.omdb_by_imdb("tt0083658", fields=["Director", "NoSuchField"])
    assert (title.result.source, title.result.title, title.result.year) == ("OMDB", "Blade Runner", 1982)
    assert title.fields == {"Director": "Ridley Scott", "NoSuchField": None}
    assert (title.runtime_minutes, title.votes) == (117, 846334)
    assert client.omdb_by_title("Alien").result.title == "Alien"


def test_external_ids_and_image_addresses(client: oxmeta.Client):
    assert client.external_ids(78) == "tt0083658"
    assert client.image_url("/x.jpg") == "https://image.tmdb.org/t/p/w500/x.jpg"
    assert client.image_url("/x.jpg", "original") == "https://image.tmdb.org/t/p/original/x.jpg"
    assert client.image_url(None) is None


def test_match_a_film_and_an_episode(client: oxmeta.Client):
    film = client.match("Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv")
    assert film.confident and film.best is not None and film.best.title == "Blade Runner"
    assert film.results[0].match_score >= 700
    assert [r.match_score for r in film.results] == sorted((r.match_score for r in film.results), reverse=True)
    assert film.episode_title is None
    episode = client.match("Doctor.Who.2005.S01E01.Rose.720p.mkv")
    assert episode.confident and episode.best.title == "Doctor Who"
    assert (episode.episode_title, episode.episode_id) == ("Rose", "941244")


def test_a_match_that_is_not_confident_keeps_its_candidates(fake: oxmeta.FakeTransport, client: oxmeta.Client):
    url = with_key("https://api.themoviedb.org/3/search/movie?query=Blade%20Runner&include_adult=false&page=1"
                   "&year=1990&language=en-US")
    body = '{"page":1,"total_pages":1,"total_results":1,"results":[{"id":9,"title":"Runner","release_date":"1990-01-01"}]}'
    fake.set(url, 200, body)
    for year in (1989, ):
        fake.set(url.replace("year=1990", f"year={year}"), 200, body)
    fake.set(url.replace("&year=1990", ""), 200, body)
    match = client.match("Blade.Runner.1990.mkv")
    assert not match.confident and match.best is None
    assert [r.title for r in match.results] == ["Runner"] and match.results[0].match_score < 700


def route(fake: oxmeta.FakeTransport, status: int, body: str) -> None:
    fake.set(with_key("https://api.themoviedb.org/3/search/multi?query=x&page=1&include_adult=false&language=en-US"),
             status, body)


@pytest.mark.parametrize("status,body,error,code", [
    (401, '{"status_message":"Invalid API key"}', oxmeta.AuthError, -3),
    (429, "{}", oxmeta.RateLimited, -4),
    (500, "{}", oxmeta.HttpError, -2),
    (200, "not json", oxmeta.JsonError, -5),
    (200, '{"page":1,"total_pages":0,"total_results":0,"results":[]}', oxmeta.NotFound, -6),
])
def test_failures_raise_with_status_and_message(fake: oxmeta.FakeTransport, client: oxmeta.Client,
                                                status: int, body: str, error: type, code: int):
    route(fake, status, body)
    with pytest.raises(error) as raised:
        client.search_multi("x")
    assert isinstance(raised.value, oxmeta.Error)
    assert raised.value.code == code and raised.value.http_status == status
    assert raised.value.message and str(raised.value) == raised.value.message


def test_a_transport_failure_carries_its_message(fake: oxmeta.FakeTransport, client: oxmeta.Client):
    fake.fail(with_key("https://api.themoviedb.org/3/search/multi?query=x&page=1&include_adult=false"
                       "&language=en-US"), "network down")
    with pytest.raises(oxmeta.TransportError, match="network down"):
        client.search_multi("x")
    with pytest.raises(oxmeta.TransportError, match="no route"):
        client.search_multi("nothing scripted")


def test_a_service_without_its_key(fake: oxmeta.FakeTransport):
    keyed = oxmeta.Client(tmdb_key=TMDB_KEY, omdb_key=OMDB_KEY, transport=fake)
    keyed.search_multi("blade runner")  # leaves the key set in the library
    unkeyed = oxmeta.Client(transport=fake)
    with pytest.raises(oxmeta.NoKey) as raised:
        unkeyed.search_multi("blade runner")
    assert raised.value.code == -8
    with pytest.raises(oxmeta.NoKey):
        unkeyed.omdb_by_imdb("tt0083658")
    assert len(unkeyed.itunes_lookup(1200361736)) == 1  # iTunes needs none


def test_invalid_arguments(client: oxmeta.Client):
    with pytest.raises(oxmeta.InvalidArgument):
        client.tv_detail(0)
    with pytest.raises(ValueError):
        client.search_multi("x", page=0)
    # A NUL would cut the text short in C: refused before any request.
    with pytest.raises(oxmeta.InvalidArgument, match="NUL"):
        client.search_multi("blade\0runner")
    with pytest.raises(oxmeta.InvalidArgument):
        client.match("Alien\0.mkv")


def test_threads_never_read_each_others_results(client: oxmeta.Client):
    """Two kinds of lookup at once: each thread must get its own results,
    though the library keeps one store for the process."""
    failures: List[str] = []

    def films() -> None:
        for _ in range(150):
            titles = {r.source for r in client.search_multi("blade runner")}
            if titles != {"TMDB"}:
                failures.append(f"films got {titles}")

    def podcasts() -> None:
        for _ in range(150):
            results = client.itunes_search("science", limit=5)
            if len(results) != 5 or {r.source for r in results} != {"ITUNES"}:
                failures.append(f"podcasts got {len(results)}")

    threads = [threading.Thread(target=f) for f in (films, podcasts, films, podcasts)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
