#!/usr/bin/env bash
# Sets up a fresh machine, then builds and runs the whole test suite four
# times: with g++, with clang, under AddressSanitizer +
# UndefinedBehaviorSanitizer, and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in default clang asan tsan; do
  echo "=== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
