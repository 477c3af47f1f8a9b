#!/usr/bin/env bash
# Fuzzes the replies of every operation with libFuzzer (clang, ASan, UBSan)
# for SECONDS (default 600), starting from the seed corpus in
# tests/fuzz/corpus. New inputs go to build/fuzz/corpus, crashes to
# build/fuzz/crash-*; copy a crash into tests/fuzz/corpus once fixed.
#   bash scripts/fuzz.sh [SECONDS] [more libFuzzer options]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true

bash scripts/install-deps.sh
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DOXMETA_SANITIZER=fuzzer -DOXMETA_BUILD_FUZZER=ON \
      -DOXMETA_BUILD_TESTS=OFF -DOXMETA_BUILD_TOOL=OFF
cmake --build build/fuzz -j "$(nproc 2>/dev/null || echo 2)" --target oxmeta_fuzz
mkdir -p build/fuzz/corpus
build/fuzz/oxmeta_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=build/fuzz/ -print_final_stats=1 "$@" build/fuzz/corpus tests/fuzz/corpus
