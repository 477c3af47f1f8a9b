"""Parsing names from Python: parse_names and parse_name beside a floor,
a loop of str.split over the same names, measured side by side in one run;
and, as the ceiling of any binding, the bare ctypes calls of
oxmeta_parse_name into one reused record with nothing read back.

    build/python/venv/bin/python bench/python_names.py [ROUNDS]

Run with the package installed (scripts/test-python.sh makes that
environment). Each figure is the best of ROUNDS (20) runs over the 512 names
of tests/names/corpus.tsv repeated to 10,240, the works taking turns.
"""
from __future__ import annotations

import ctypes
import sys
import time
from pathlib import Path
from typing import Callable, List

import oxmeta

CORPUS = Path(__file__).resolve().parents[1] / "tests" / "names" / "corpus.tsv"


def names() -> List[str]:
    lines = CORPUS.read_text().splitlines()
    return [line.split("\t")[0] for line in lines if line.strip() and not line.startswith("#")] * 20


def best_rates(works: List[Callable[[List[str]], object]], items: List[str], rounds: int) -> List[float]:
    """Names a second of each work, the best of its rounds; the works take
    turns in every round, so that a busy machine slows them alike."""
    best = [float("inf")] * len(works)
    for _ in range(rounds):
        for i, work in enumerate(works):
            start = time.perf_counter()
            work(items)
            best[i] = min(best[i], time.perf_counter() - start)
    return [len(items) / b for b in best]


def floor(items: List[str]) -> object:
    return [name.split(".") for name in items]


def one_by_one(items: List[str]) -> object:
    parse = oxmeta.parse_name
    return [parse(name) for name in items]


def bare_calls() -> Callable[[List[str]], object]:
    parse = ctypes.CDLL(str(oxmeta.library_path())).oxmeta_parse_name
    record = ctypes.create_string_buffer(2048)
    ctypes.c_uint32.from_buffer(record).value = 1304  # sizeof(oxmeta_name), second version

    def run(items: List[str]) -> object:
        for name in items:
            parse(name.encode(), record)
        return None
    return run


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    items = names()
    labels = ["str.split (floor)", "parse_names", "parse_name, one call each", "bare calls, nothing read"]
    rates = best_rates([floor, oxmeta.parse_names, one_by_one, bare_calls()], items, rounds)
    figures = list(zip(labels, rates))
    base = figures[0][1]
    print(f"{len(items)} names, best of {rounds}")
    for label, rate in figures:
        print(f"{label:28} {rate:12,.0f} names/s  {base / rate:6.1f} x the floor's time")


if __name__ == "__main__":
    main()
