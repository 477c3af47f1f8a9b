#!/usr/bin/env bash
# Sets up a fresh machine, then builds and runs the whole test suite four
# times: with g++ (then the Python package's tests on that build, and the
# Debian packages made, installed into a scratch root and used), with
# clang, under AddressSanitizer + UndefinedBehaviorSanitizer, and under
# ThreadSanitizer; then cross-builds
# the Windows DLL and runs its tests under Wine; then builds the benchmarks
# and runs each for a few iterations.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
summary=build/test-summary.txt
: > "$summary"
# Runs one test preset; its counts go into the summary.
run_tests() {
  ctest --preset "$@" | tee build/ctest-last.txt
  grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' build/ctest-last.txt >> "$summary"
}

# Runs a step that is not a ctest run, counted in the summary as one test
# in ctest's words.
run_step() {
  if "$@"; then
    echo "100% tests passed, 0 tests failed out of 1" >> "$summary"
  else
    echo "0% tests passed, 1 tests failed out of 1" >> "$summary"
    return 1
  fi
}

for preset in default clang asan tsan; do
  echo "=== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  run_tests "$preset" -j "$jobs"
  if [ "$preset" = default ]; then
    # The Python package around the library just tested, installed into a
    # fresh virtual environment, and its tests.
    echo "=== python"
    run_step bash scripts/test-python.sh build/default
    # The Debian packages: made, checked by lintian, installed into a
    # scratch root and used from there.
    echo "=== packages"
    run_step bash tests/packages/test-packages.sh
  fi
done

# The Windows DLL, cross-built with mingw-w64, its tests run under Wine.
yyjson_src=../shared/third_party/yyjson-0.12.0
if [ -f "$yyjson_src/yyjson.c" ]; then
  echo "=== windows"
  export WINEDEBUG=-all WINEPREFIX="$PWD/build/windows/wineprefix"
  cmake --preset windows
  cmake --build --preset windows -j "$jobs"
  [ -f "$WINEPREFIX/system.reg" ] || timeout 300 wine wineboot --init > /dev/null 2>&1 || true
  run_tests windows
else
  echo "=== windows: skipped: no yyjson source in $yyjson_src (the Windows build compiles yyjson 0.12.0's yyjson.c and yyjson.h into the DLL; see the README)"
fi

# The benchmarks build and run a few iterations each, so that they cannot
# rot; the full run is documented in docs/performance.md.
echo "=== bench (smoke run)"
cmake --preset bench
cmake --build --preset bench -j "$jobs"
build/bench/bench/oxmeta_bench --benchmark_min_time=0.001 > build/bench/smoke.txt
tail -n 20 build/bench/smoke.txt
build/bench/bench/oxmeta_name_bench --benchmark_min_time=0.001 --benchmark_filter=ParseName > build/bench/name-smoke.txt
tail -n 1 build/bench/name-smoke.txt
build/bench/bench/oxmeta_match_bench --benchmark_min_time=0.001 > build/bench/match-smoke.txt
tail -n 1 build/bench/match-smoke.txt
OXMETA_SCAN_BENCH_FILES=300 build/bench/bench/oxmeta_scan_bench > build/bench/scan-smoke.txt
tail -n 2 build/bench/scan-smoke.txt

# One closing line for all the test runs above.
awk '{total += $NF; failed += $(NF - 5)} END {printf "%d passed, %d failed\n", total - failed, failed}' "$summary"
