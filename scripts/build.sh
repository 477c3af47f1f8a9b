#!/usr/bin/env bash
# Sets up a fresh machine, builds the release library and installs it with
# its header, CMake package and pkg-config file under PREFIX (default
# ./dist).
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-$PWD/dist}

bash scripts/install-deps.sh build
cmake --preset release -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
cmake --install build/release
echo "installed oxmeta into $prefix"
