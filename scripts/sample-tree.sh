#!/usr/bin/env bash
# Creates the sample media library of tool/sample/tree.txt as empty files
# under DIR (default: a new temporary folder) and prints DIR.
#   bash scripts/sample-tree.sh [DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$(mktemp -d "${TMPDIR:-/tmp}/oxmeta-sample.XXXXXX")}
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  mkdir -p "$dir/$(dirname "$line")"
  : > "$dir/$line"
done < "$here/tool/sample/tree.txt"
echo "$dir"
