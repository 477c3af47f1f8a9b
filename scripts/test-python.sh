#!/usr/bin/env bash
# Tests the Python package as its users get it: the wheel built around the
# shared library of a build (build/default by default) is installed into a
# fresh virtual environment, and pytest runs the tests in python/tests
# against that installed package (recorded replies through the fake
# transport, a server on 127.0.0.1 through the default transport).
#   bash scripts/test-python.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
out=build/python
python=/usr/bin/python3

wheel=$(bash scripts/python-package.sh "$build" "$out")
venv=$PWD/$out/venv
rm -rf "$venv"
# Debian's pytest is seen from the environment; the package is its own.
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install --quiet --no-index --no-deps "$wheel"

export OXMETA_TEST_C_LIBRARY
OXMETA_TEST_C_LIBRARY=$(readlink -f "$build/liboxmeta.so")
export OXMETA_TEST_WHEEL=$PWD/$wheel
export OXMETA_TEST_TOOL=$PWD/$build/tool/oxmeta
unset OXMETA_LIBRARY
# From outside the source tree, so that only the installed package is importable.
cd "$out"
"$venv/bin/python" -m pytest -q -p no:cacheprovider "$OLDPWD/python/tests"
