#!/usr/bin/env bash
# Compares the DLL's export table with the public header: exactly the
# functions the header declares, as plain C names; and the DLL may import
# from system DLLs only (the C and C++ runtimes are linked in); and it has
# no emulated thread-local storage (each variable allocates per thread).
set -euo pipefail
dll=$1
header=$2
objdump=${3:-x86_64-w64-mingw32-objdump}

table=$("$objdump" -p "$dll")
exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^[ \t]*\[/ {print $NF; next} on && NF == 0 {on = 0}' <<< "$table" | sort -u)
declared=$(grep -E '^OXMETA_API' "$header" | grep -oE '\b(oxmeta|ox_fake)_[a-z0-9_]+ *\(' | sed 's/ *($//' | sort -u)
imports=$(awk '/DLL Name:/ {print $3}' <<< "$table" | sort -u)

fail=0
if [ -z "$declared" ]; then
  echo "no declarations found in $header"
  fail=1
fi
if [ "$exported" != "$declared" ]; then
  echo "the DLL's exports differ from the header's functions:"
  diff <(echo "$declared") <(echo "$exported") | sed 's/^</  declared only:/; s/^>/  exported only:/' | grep only || true
  fail=1
fi
while read -r name; do
  [ -n "$name" ] || continue
  case "$(tr '[:upper:]' '[:lower:]' <<< "$name")" in
    kernel32.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-*.dll|advapi32.dll|ntdll.dll|user32.dll|ws2_32.dll|bcrypt.dll) ;;
    *) echo "imports a DLL that is not a system DLL: $name"; fail=1 ;;
  esac
done <<< "$imports"
nm=${objdump%objdump}nm
if "$nm" "$dll" 2>/dev/null | grep -qE '__emutls_(v|t)\.'; then
  echo "the DLL has emulated thread-local storage:"
  "$nm" "$dll" | grep -E '__emutls_(v|t)\.'
  fail=1
fi
[ "$fail" -eq 0 ] && echo "oxmeta.dll exports the header's $(wc -l <<< "$declared") functions; imports: $(tr '\n' ' ' <<< "$imports")"
exit "$fail"
