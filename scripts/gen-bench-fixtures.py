#!/usr/bin/env python3
"""Writes the benchmark replies under bench/fixtures, in the services' real
shapes: a TMDb listing page of 20 items, a TMDb TV detail with 30 seasons, an
iTunes podcast search of 200 items and an OMDb title. The output depends on
nothing but this file: run it again and the files come out byte for byte the
same."""
import json
import os
import random

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench", "fixtures")
rng = random.Random(20261210)
WORDS = ("star night river glass empire shadow winter garden signal harbor crown last "
         "silent iron paper ghost city ocean storm little golden broken secret wild").split()
LOREM = ("A young archivist uncovers a decades-old broadcast that predicts events in her town. "
         "As the signal grows stronger, she must decide whom to trust before the final transmission.")


def overview():
    extra = " ".join(title(rng.randint(4, 9)).lower() + "." for _ in range(rng.randint(8, 14)))
    return LOREM + " " + extra.capitalize()


def title(n):
    return " ".join(rng.choice(WORDS).capitalize() for _ in range(n))


def path():
    chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    return "/" + "".join(rng.choice(chars) for _ in range(27)) + ".jpg"


def date():
    return "%04d-%02d-%02d" % (rng.randint(1950, 2026), rng.randint(1, 12), rng.randint(1, 28))


def tmdb_item(i):
    kind = ("movie", "tv", "movie", "person")[i % 4]
    item = {"adult": False, "id": rng.randint(10, 1_200_000), "media_type": kind,
            "popularity": round(rng.uniform(0.6, 900), 3)}
    if kind == "person":
        item.update({"name": title(2), "original_name": title(2), "gender": 2,
                     "known_for_department": "Acting", "profile_path": path(),
                     "known_for": [{"id": rng.randint(10, 99999), "title": title(3), "media_type": "movie"}]})
        return item
    name_keys = ("title", "original_title", "release_date") if kind == "movie" else \
        ("name", "original_name", "first_air_date")
    t = title(rng.randint(1, 4))
    item.update({"backdrop_path": path(), name_keys[0]: t, "original_language": "en", name_keys[1]: t,
                 "overview": overview(), "poster_path": path(), "genre_ids": [18, 53, 9648][: rng.randint(1, 3)],
                 name_keys[2]: date(), "vote_average": rng.choice([round(rng.uniform(3, 9.5), 3), rng.randint(5, 9)]),
                 "vote_count": rng.randint(0, 30000)})
    if kind == "movie":
        item["video"] = False
    else:
        item["origin_country"] = ["US"]
    return item


def tmdb_listing():
    return {"page": 1, "results": [tmdb_item(i) for i in range(20)], "total_pages": 500, "total_results": 10000}


def tmdb_tv_detail():
    seasons = [{"air_date": date(), "episode_count": rng.randint(6, 24), "id": 3000 + s, "name": "Season %d" % s,
                "overview": LOREM[: rng.randint(0, 120)], "poster_path": path() if s else None, "season_number": s,
                "vote_average": round(rng.uniform(5, 9), 1)} for s in range(30)]
    return {"adult": False, "backdrop_path": path(), "created_by": [{"id": 1, "name": title(2)}],
            "episode_run_time": [42], "first_air_date": "1994-09-22",
            "genres": [{"id": 35, "name": "Comedy"}], "homepage": "https://example.org/show", "id": 1668,
            "in_production": False, "languages": ["en"], "last_air_date": "2024-05-06",
            "last_episode_to_air": {"id": 9, "name": title(3), "overview": LOREM, "air_date": "2024-05-06",
                                    "episode_number": 18, "season_number": 29, "show_id": 1668},
            "name": "Neighbours of the Long Street", "next_episode_to_air": None,
            "number_of_episodes": 512, "number_of_seasons": 30, "origin_country": ["US"],
            "original_language": "en", "original_name": "Neighbours of the Long Street", "overview": LOREM,
            "popularity": 412.281, "poster_path": path(), "seasons": seasons, "status": "Ended",
            "tagline": "", "type": "Scripted", "vote_average": 8.45, "vote_count": 8120}


def itunes_podcast(i):
    cid = rng.randint(100_000_000, 1_800_000_000)
    name = title(rng.randint(1, 4))
    art = "https://is1-ssl.mzstatic.com/image/thumb/Podcasts%d/v4/%02x/%02x/mza_%d.jpg" % (
        rng.randint(100, 221), rng.randint(0, 255), rng.randint(0, 255), cid)
    return {"wrapperType": "track", "kind": "podcast", "collectionId": cid, "trackId": cid,
            "artistName": title(2), "collectionName": name, "trackName": name,
            "collectionCensoredName": name, "trackCensoredName": name,
            "collectionViewUrl": "https://podcasts.apple.com/us/podcast/id%d?uo=4" % cid,
            "feedUrl": "https://feeds.example.org/%d/rss.xml" % cid,
            "trackViewUrl": "https://podcasts.apple.com/us/podcast/id%d?uo=4" % cid,
            "artworkUrl30": art + "/30x30bb.jpg", "artworkUrl60": art + "/60x60bb.jpg",
            "artworkUrl100": art + "/100x100bb.jpg", "collectionPrice": 0.0, "trackPrice": 0.0,
            "releaseDate": date() + "T10:00:00Z", "collectionExplicitness": "notExplicit",
            "trackExplicitness": "cleaned", "trackCount": rng.randint(1, 900), "country": "USA",
            "currency": "USD", "primaryGenreName": "Science", "artworkUrl600": art + "/600x600bb.jpg",
            "genreIds": ["1533", "26"], "genres": ["Science", "Podcasts"]}


def itunes_search():
    return {"resultCount": 200, "results": [itunes_podcast(i) for i in range(200)]}


def omdb_title():
    return {"Title": "The Long Street", "Year": "1999", "Rated": "R", "Released": "31 Mar 1999",
            "Runtime": "136 min", "Genre": "Action, Sci-Fi", "Director": title(2), "Writer": title(2),
            "Actors": ", ".join(title(2) for _ in range(3)), "Plot": LOREM, "Language": "English",
            "Country": "United States", "Awards": "Won 4 Oscars. 42 wins & 51 nominations total",
            "Poster": "https://m.media-amazon.example/images/M/poster.jpg",
            "Ratings": [{"Source": "Internet Movie Database", "Value": "8.7/10"}], "Metascore": "73",
            "imdbRating": "8.7", "imdbVotes": "2,089,446", "imdbID": "tt0133093", "Type": "movie",
            "DVD": "N/A", "BoxOffice": "$172,076,928", "Production": "N/A", "Website": "N/A", "Response": "True"}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, make in (("tmdb_listing.json", tmdb_listing), ("tmdb_tv_detail.json", tmdb_tv_detail),
                       ("itunes_search.json", itunes_search), ("omdb_title.json", omdb_title)):
        text = json.dumps(make(), ensure_ascii=False, separators=(",", ":"))
        with open(os.path.join(OUT, name), "w", encoding="utf-8") as f:
            f.write(text)
        print("%-22s %7d bytes" % (name, len(text.encode("utf-8"))))


if __name__ == "__main__":
    main()
