"""Parsing names from Python: parse_names and parse_name beside a floor,
a loop of str.split over the same names, measured side by side in one run.

    build/python/venv/bin/python bench/python_names.py [ROUNDS]

Run with the package installed (scripts/test-python.sh makes that
environment). Each figure is the best of ROUNDS (5) runs over the 512 names
of tests/names/corpus.tsv repeated to 51,200.
"""
from __future__ import annotations

import sys
import time
from pathlib import Path
from typing import Callable, List

import oxmeta

CORPUS = Path(__file__).resolve().parents[1] / "tests" / "names" / "corpus.tsv"


def names() -> List[str]:
    lines = CORPUS.read_text().splitlines()
    return [line.split("\t")[0] for line in lines if line.strip() and not line.startswith("#")] * 100


def best_rate(work: Callable[[List[str]], object], items: List[str], rounds: int) -> float:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        work(items)
        best = min(best, time.perf_counter() - start)
    return len(items) / best


def floor(items: List[str]) -> object:
    return [name.split(".") for name in items]


def one_by_one(items: List[str]) -> object:
    parse = oxmeta.parse_name
    return [parse(name) for name in items]


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    items = names()
    figures = [("str.split (floor)", best_rate(floor, items, rounds)),
               ("parse_names", best_rate(oxmeta.parse_names, items, rounds)),
               ("parse_name, one call each", best_rate(one_by_one, items, rounds))]
    base = figures[0][1]
    print(f"{len(items)} names, best of {rounds}")
    for label, rate in figures:
        print(f"{label:28} {rate:12,.0f} names/s  {base / rate:6.1f} x the floor's time")


if __name__ == "__main__":
    main()
