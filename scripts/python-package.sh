#!/usr/bin/env bash
# Builds the Python package's wheel around the shared library of a build
# (build/default by default): the library is copied as it is, byte for byte,
# beside the package's modules. Prints the wheel's path.
#   bash scripts/python-package.sh [BUILD_DIR] [OUT_DIR]
# Needs Debian's python3-venv, python3-setuptools and python3-wheel
# (scripts/install-deps.sh build); makes no network access.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
out=${2:-build/python}
python=/usr/bin/python3

library=$(readlink -f "$build/liboxmeta.so")
[ -f "$library" ] || { echo "python-package: no $build/liboxmeta.so: build the default preset first" >&2; exit 1; }

rm -rf "$out/stage" "$out/dist" "$out/tools"
mkdir -p "$out/stage" "$out/dist"
cp -r python/pyproject.toml python/setup.py python/README.md python/oxmeta "$out/stage/"
find "$out/stage" -name __pycache__ -prune -exec rm -rf {} +
rm -f "$out/stage/oxmeta/"liboxmeta.so* "$out/stage/oxmeta/oxmeta.dll"
cp "$library" "$out/stage/oxmeta/liboxmeta.so"

# pip from a virtual environment that sees Debian's setuptools and wheel.
"$python" -m venv --system-site-packages "$out/tools" >&2
"$out/tools/bin/python" -m pip wheel --quiet --no-build-isolation --no-index --no-deps \
  --wheel-dir "$out/dist" "$out/stage" >&2
ls "$out"/dist/oxmeta-*.whl
