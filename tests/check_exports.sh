#!/usr/bin/env bash
# Compares the shared library's exported symbols with the public header:
# every defined dynamic symbol must be a plain C name beginning with oxmeta_
# or ox_fake_, and every function the header declares must be exported;
# nothing runs at load or unload, and there is no thread-local storage.
set -euo pipefail
lib=$1
header=$2

exported=$(nm -D --defined-only "$lib" | awk 'NF >= 3 {print $3}' | sed 's/@.*//' | sort -u)
declared=$(grep -E '^OXMETA_API' "$header" | grep -oE '\b(oxmeta|ox_fake)_[a-z0-9_]+ *\(' \
           | sed 's/ *($//' | sort -u)

fail=0
while read -r sym; do
  [ -n "$sym" ] || continue
  if ! [[ $sym =~ ^(oxmeta|ox_fake)_[a-z0-9_]+$ ]]; then
    echo "unexpected exported symbol: $sym"
    fail=1
  fi
done <<< "$exported"

while read -r fn; do
  [ -n "$fn" ] || continue
  if ! grep -qx "$fn" <<< "$exported"; then
    echo "declared in the header but not exported: $fn"
    fail=1
  fi
done <<< "$declared"

# Nothing of the library may run at load or unload: no static constructors
# or destructors.
if nm "$lib" 2>/dev/null | grep -qE '_GLOBAL__(sub_I|D)_'; then
  echo "the library has static initialisers or finalisers:"
  nm "$lib" | grep -E '_GLOBAL__(sub_I|D)_'
  fail=1
fi

# No thread-local storage: in a library loaded at run time every thread's
# first use of it makes the loader allocate (and, out of memory, end the
# process), and each access is a call into the loader.
if readelf -SW "$lib" | grep -qE '\.(tbss|tdata)\b' || readelf -lW "$lib" | grep -qE '^ *TLS '; then
  echo "the library has thread-local storage:"
  readelf -SW "$lib" | grep -E '\.(tbss|tdata)\b' || true
  fail=1
fi
if nm -D --undefined-only "$lib" | grep -q '__tls_get_addr'; then
  echo "the library calls __tls_get_addr"
  fail=1
fi

if [ -z "$declared" ]; then
  echo "no declarations found in $header"
  fail=1
fi
[ "$fail" -eq 0 ] && echo "exports match the header: $(wc -l <<< "$declared") functions; no thread-local storage"
exit "$fail"
