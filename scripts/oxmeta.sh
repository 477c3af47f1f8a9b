#!/usr/bin/env bash
# The main job: sets up a fresh machine, builds the library and the oxmeta
# tool (release), and runs the tool with the arguments given, for example
#   bash scripts/oxmeta.sh --offline tmdb search "blade runner"
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build >&2
cmake --preset release >&2
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" >&2
exec build/release/tool/oxmeta "$@"
