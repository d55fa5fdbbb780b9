#!/usr/bin/env bash
# Peak memory of a full text-mode uninstall on the small demo machine and on
# the same machine with the benchmark's 100,000 keys added to its registry.
# Prints both peaks and the growth as a multiple of the added registry size
# (goal: at most 3). Needs GNU time (package `time`).
#   tools/bench/memory.sh [BUILD_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d "${TMPDIR:-/tmp}/uinq-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/tools/demo/uinq76-demo-machine" "$work/small" >/dev/null
"$build/tools/demo/uinq76-demo-machine" "$work/big" >/dev/null
"$build/tools/bench/bench_registry" --write-registry "$work/keys.reg"
# The generated file's keys follow the demo registry's; its REGEDIT4 line and
# the blank line after it are left out.
tail -n +3 "$work/keys.reg" >>"$work/big/registry.reg"

peak_kb() {
  printf 'y\n\n' | /usr/bin/time -f '%M' -o "$work/time.txt" \
    "$build/app/uinq76" --machine "$1" --ui text >/dev/null 2>&1
  if grep -q 'KivraQ76' "$1/registry.reg"; then
    echo "memory.sh: the uninstall on $1 did not run through" >&2
    exit 1
  fi
  cat "$work/time.txt"
}

small_kb=$(peak_kb "$work/small")
big_kb=$(peak_kb "$work/big")
added_bytes=$(stat -c %s "$work/keys.reg")
awk -v s="$small_kb" -v b="$big_kb" -v a="$added_bytes" 'BEGIN {
  printf "Peak memory: small demo machine %.1f MB, with %.1f MB of keys added %.1f MB\n",
    s / 1024, a / 1048576, b / 1024
  printf "Growth: %.2f times the added registry size (goal: at most 3 times)\n",
    (b - s) * 1024 / a
}'
