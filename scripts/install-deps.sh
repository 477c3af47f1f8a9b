#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for one profile:
#   build  the library and the oxmeta tool: g++, CMake, pkg-config, yyjson >= 0.12, SQLite,
#          CLI11, libcurl (OpenSSL), utf8proc, toml++, tinyxml2, xxHash, help2man and CA certificates;
#          the Python package (venv, setuptools, wheel) and the Debian packages
#          (dpkg-dev for the shared library dependencies, file)
#   test   all of build, and what the test command uses besides: clang with its
#          sanitizer and libFuzzer runtimes, GoogleTest, Google Benchmark,
#          cpp-httplib, binutils, pytest, lintian, and for the Windows cross-build
#          mingw-w64, Wine and GoogleTest's source (the default)
# Does nothing on a machine that already has them.
#   bash scripts/install-deps.sh [build|test]
set -euo pipefail

profile=${1:-test}
case "$profile" in
  build|test) ;;
  *) echo "install-deps: unknown profile '$profile' (expected build or test)" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

need_apt=()
want() { for p in "$@"; do installed "$p" || need_apt+=("$p"); done; }

# build: the library and the tool
command -v g++ >/dev/null 2>&1 || need_apt+=(g++)
command -v cmake >/dev/null 2>&1 || need_apt+=(cmake)
command -v pkg-config >/dev/null 2>&1 || need_apt+=(pkg-config)
want libcli11-dev libcurl4-openssl-dev libsqlite3-dev libutf8proc-dev libtomlplusplus-dev libtinyxml2-dev libxxhash-dev help2man ca-certificates
# the Python package and the Debian packages
want python3-venv python3-setuptools python3-wheel dpkg-dev file

if [ "$profile" = test ]; then
  command -v clang++ >/dev/null 2>&1 || need_apt+=(clang)
  command -v nm >/dev/null 2>&1 || need_apt+=(binutils)
  command -v git >/dev/null 2>&1 || need_apt+=(git)
  want libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev zlib1g-dev
  # the Python package's tests, and the check of the Debian packages
  want python3-pytest lintian
  # clang's sanitizer and libFuzzer runtimes, for scripts/fuzz.sh
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need_apt+=(libclang-rt-14-dev)
  # The Windows cross-build: mingw-w64 (posix threads), Wine to run it, and
  # GoogleTest's source to build for it.
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need_apt+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ] || need_apt+=(wine wine64)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need_apt+=(googletest)
fi

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#need_apt[@]} -gt 0 ]; then
  echo "install-deps: installing ${need_apt[*]}"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${need_apt[@]}"
fi

# yyjson: Debian 12 has none; the unstable suite of the same archive ships 0.12.
yyjson_ok() {
  local v
  v=$(dpkg-query -W -f='${Version}' libyyjson-dev 2>/dev/null || true)
  [ -n "$v" ] && dpkg --compare-versions "$v" ge 0.12.0
}

if ! yyjson_ok; then
  # The archive URI is the one this machine already uses for its own Debian suite.
  uri=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk '/^URIs:/ {for (i = 2; i <= NF; i++) if ($i !~ /security/) {print $i; exit}}' "$f")
    [ -n "$uri" ] && break
  done
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /^(https?|ftp):/) {print $i; exit}}' /etc/apt/sources.list)
  fi
  if [ -z "$uri" ]; then
    echo "install-deps: cannot find a Debian archive URI in the apt sources" >&2
    exit 1
  fi

  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/lists/partial" "$tmp/debs"
  chmod -R a+rwx "$tmp"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  echo "deb [signed-by=$keyring] $uri unstable main" > "$tmp/sources.list"
  aptopts=(-o "Dir::Etc::sourcelist=$tmp/sources.list" -o "Dir::Etc::sourceparts=-"
           -o "Dir::State::Lists=$tmp/lists" -o "APT::Get::List-Cleanup=0")
  echo "install-deps: fetching yyjson from the unstable suite"
  as_root apt-get "${aptopts[@]}" update -qq
  (cd "$tmp/debs" && as_root apt-get "${aptopts[@]}" download libyyjson0 libyyjson-dev)
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "$tmp"/debs/libyyjson0_*.deb "$tmp"/debs/libyyjson-dev_*.deb
  yyjson_ok || { echo "install-deps: yyjson >= 0.12 still missing" >&2; exit 1; }
fi
echo "install-deps: all dependencies for '$profile' present"
