#!/usr/bin/env bash
# Fuzzes with libFuzzer (clang, ASan, UBSan) for SECONDS (default 600):
#   reply  the replies of every operation, from tests/fuzz/corpus (the default)
#   name   oxmeta_parse_name, from tests/fuzz/names and the name corpus
# New inputs go to build/fuzz/corpus-TARGET, crashes to build/fuzz/crash-*;
# copy a crash into the seed directory once fixed.
#   bash scripts/fuzz.sh [SECONDS] [reply|name] [more libFuzzer options]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
target=${2:-reply}
shift $(( $# > 2 ? 2 : $# )) || true
case "$target" in
  reply) binary=oxmeta_fuzz; seeds=(tests/fuzz/corpus) ;;
  name) binary=oxmeta_fuzz_name; seeds=(tests/fuzz/names) ;;
  *) echo "fuzz.sh: unknown target '$target' (reply or name)" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DOXMETA_SANITIZER=fuzzer -DOXMETA_BUILD_FUZZER=ON \
      -DOXMETA_BUILD_TESTS=OFF -DOXMETA_BUILD_TOOL=OFF
cmake --build build/fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "$binary"
mkdir -p "build/fuzz/corpus-$target"
"build/fuzz/$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=build/fuzz/ -print_final_stats=1 "$@" "build/fuzz/corpus-$target" "${seeds[@]}"
