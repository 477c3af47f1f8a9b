#!/usr/bin/env bash
# The Debian packages as a user gets them: made by scripts/package.sh
# (lintian without errors), their dependencies resolved by apt on this
# machine (a simulated `apt-get install ./*.deb`), installed by dpkg into a
# scratch root; then the tool is run from the root's /usr/bin, a C program
# is built with pkg-config and a CMake project with find_package(oxmeta),
# each run against the installed library.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/../.."

bash scripts/package.sh > build/package-test.log 2>&1 || { cat build/package-test.log; exit 1; }
debs=(build/package/debs/*.deb)
[ ${#debs[@]} -eq 3 ] || { echo "expected 3 packages, found ${#debs[@]}"; exit 1; }
echo "lintian: $(grep -c '^E: ' build/package/lintian.txt || true) errors, $(grep -c '^W: ' build/package/lintian.txt || true) warnings"

fail=0
check() {  # check DESCRIPTION COMMAND...: runs the command, says how it went
  local what=$1; shift
  if "$@" > "$work/out.txt" 2>&1; then
    echo "ok: $what"
  else
    echo "FAILED: $what"; cat "$work/out.txt"; fail=1
  fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root

# apt resolves every dependency of the three packages from this machine's archive.
check "apt-get install ./*.deb resolves" apt-get install --simulate -qq "${debs[@]/#/./}"

# dpkg installs them into an empty root; their maintainer scripts run
# outside it (the root has no shell), with DPKG_ROOT naming it.
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/triggers"
: > "$root/var/lib/dpkg/status"
check "dpkg --root installs the packages" dpkg --root="$root" --force-depends --force-script-chrootless \
  --force-not-root --log=/dev/null -i "${debs[@]}"
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for p in liboxmeta0 liboxmeta-dev oxmeta; do
  check "$p is installed" bash -c "dpkg-query --root='$root' -W -f='\${Status}' $p | grep -q 'install ok installed'"
done
check "the library under its SONAME" test -f "$libdir/liboxmeta.so.0" -a -L "$libdir/liboxmeta.so"
export LD_LIBRARY_PATH=$libdir

# The tool from the root's /usr/bin: its recordings from the root's /usr/share.
check "oxmeta --offline tmdb search from /usr/bin" bash -c \
  "'$root/usr/bin/oxmeta' --offline tmdb search 'blade runner' | grep -q 'Blade Runner'"
check "the man page and completions" test -f "$root/usr/share/man/man1/oxmeta.1.gz" \
  -a -f "$root/usr/share/bash-completion/completions/oxmeta"

# A C program with pkg-config's flags for the root.
check "a C program built with pkg-config" bash -c "
  flags=\$(PKG_CONFIG_SYSROOT_DIR='$root' PKG_CONFIG_LIBDIR='$libdir/pkgconfig' pkg-config --cflags --libs oxmeta)
  cc -std=c99 -Wall -Werror -o '$work/hello' '$here/hello.c' \$flags && '$work/hello'"

# A CMake project with find_package(oxmeta).
check "a CMake project with find_package(oxmeta)" bash -c "
  cmake -S '$here' -B '$work/consumer' -DCMAKE_PREFIX_PATH='$root/usr' -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF &&
  grep -qx 'oxmeta_DIR:PATH=$libdir/cmake/oxmeta' '$work/consumer/CMakeCache.txt' &&
  cmake --build '$work/consumer' && '$work/consumer/hello'"

# And out again.
check "dpkg --root removes them" dpkg --root="$root" --force-depends --force-script-chrootless --force-not-root \
  --log=/dev/null --purge oxmeta liboxmeta-dev liboxmeta0
check "nothing of them is left" bash -c "[ -z \"\$(find '$root/usr' -type f 2>/dev/null)\" ]"
exit $fail
