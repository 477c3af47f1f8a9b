"""parse_name and parse_names through the installed package."""
from __future__ import annotations

import dataclasses
import json
import subprocess
import threading
from pathlib import Path
from typing import Any, Dict, List

import pytest

import oxmeta

from conftest import CORPUS, required_env

# name -> the fields it must give (the others are checked by the corpus test).
CASES: List[Any] = [
    ("Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv",
     dict(kind="movie", title="Dark City", year=1998, year_end=None, season=None, episodes=(),
          episode_count=0, edition="Director's Cut", screen_size="1080p", release_group="GRP",
          container="mkv", country=None, proper=0, is_extra=False, tmdb_id=None, imdb_id=None)),
    ("Show/Season 02/05 - Name.mkv",
     dict(kind="episode", title="Show", season=2, episodes=(5,), episode_count=1, episode_title="Name")),
    ("Doctor.Who.2005.S01E01E02.720p.HDTV.mkv",
     dict(kind="episode", title="Doctor Who", year=2005, season=1, episodes=(1, 2), episode_count=2)),
    ("Pulp Fiction (1994) [imdbid-tt0110912] [tmdbid-680].mkv",
     dict(title="Pulp Fiction", year=1994, imdb_id="tt0110912", tmdb_id=680, tvdb_id=None)),
    ("Alien.1979.sample.mkv", dict(title="Alien", is_extra=True)),
]


@pytest.mark.parametrize("path,fields", CASES, ids=[c[0] for c in CASES])
def test_a_name_gives_its_fields(path: str, fields: Dict[str, Any]):
    name = oxmeta.parse_name(path)
    assert {k: getattr(name, k) for k in fields} == fields
    assert oxmeta.parse_names([path]) == [name]


def test_name_is_a_frozen_dataclass():
    name = oxmeta.parse_name("Alien.1979.mkv")
    with pytest.raises(dataclasses.FrozenInstanceError):
        name.title = "x"  # type: ignore[misc]
    assert dataclasses.replace(name, year=1980).year == 1980
    assert hash(name) == hash(oxmeta.parse_name("Alien.1979.mkv"))


def test_paths_as_bytes_and_path_objects():
    assert oxmeta.parse_name(Path("Films/Alien (1979)/Alien.mkv")).title == "Alien"
    assert oxmeta.parse_name(b"Alien.1979.mkv").year == 1979
    # A file-system name that is not UTF-8 comes back with U+FFFD, as from C.
    assert oxmeta.parse_name(b"Caf\xe9.1999.mkv").title == "Caf\ufffd"
    assert oxmeta.parse_name("Caf\udce9.1999.mkv").title == "Caf\ufffd"


@pytest.mark.parametrize("path", ["Alien\0.mkv", b"Alien\0.mkv"])
def test_a_nul_in_the_path_is_refused(path: Any):
    with pytest.raises(oxmeta.InvalidArgument) as raised:
        oxmeta.parse_name(path)
    assert isinstance(raised.value, ValueError) and raised.value.code == -10
    with pytest.raises(oxmeta.InvalidArgument):
        oxmeta.parse_names(["Alien.mkv", path])


def corpus_names() -> List[str]:
    return [line.split("\t")[0] for line in CORPUS.read_text().splitlines()
            if line.strip() and not line.startswith("#")]


def test_every_field_of_the_corpus_is_what_the_tool_reads():
    """The binding's Name against the tool's JSON Lines for the same names:
    a C host of the same library, so every field of every name must agree."""
    names = [n for n in corpus_names() if "\n" not in n]
    tool = required_env("OXMETA_TEST_TOOL")
    lines = subprocess.run([tool, "parse", "-", "--json"], input="\n".join(names) + "\n", capture_output=True,
                           text=True, check=True).stdout.splitlines()
    parsed = oxmeta.parse_names(names)
    assert len(lines) == len(parsed) == len(names)
    checked = set()
    for line, name in zip(lines, parsed):
        expected = json.loads(line)
        for key, value in expected.items():
            if key == "input" or not hasattr(name, key):
                continue
            got = getattr(name, key)
            if key in ("episodes", "seasons", "languages", "subtitles"):
                value = tuple(value or ())
            elif key == "is_extra":
                value = bool(value)
            elif value is None and key in ("proper", "repack"):
                value = 0
            assert got == value, f"{expected['input']}: {key}"
            checked.add(key)
    assert {"title", "episodes", "release_group", "is_extra"} <= checked


def test_threads_parse_at_once():
    names = corpus_names()
    expected = oxmeta.parse_names(names)
    results: List[List[oxmeta.Name]] = []

    def work() -> None:
        results.append(oxmeta.parse_names(names))
        results.append([oxmeta.parse_name(n) for n in names])

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 8 and all(r == expected for r in results)
