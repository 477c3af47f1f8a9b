#!/usr/bin/env bash
# Makes the Debian packages liboxmeta0, liboxmeta-dev and oxmeta with CPack
# into build/package/debs, built with Debian's hardening flags, then checks
# each with lintian when it is installed.
#   bash scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build
# Debian's flags: fortified sources, stack protector, full RELRO (bind now).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

rm -rf build/package
cmake --preset package
cmake --build --preset package -j "$(nproc 2>/dev/null || echo 2)"
(cd build/package && cpack -G DEB -B "$PWD/debs" > cpack.log) || { cat build/package/cpack.log >&2; exit 1; }
rm -rf build/package/debs/_CPack_Packages

if command -v lintian > /dev/null; then
  lintian --info --no-tag-display-limit build/package/debs/*.deb | tee build/package/lintian.txt
  if grep -q '^E: ' build/package/lintian.txt; then
    echo "package: lintian reports errors" >&2
    exit 1
  fi
fi
ls build/package/debs/*.deb
