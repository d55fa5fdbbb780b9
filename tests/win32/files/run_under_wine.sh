#!/usr/bin/env bash
# Runs a Windows console test program under Wine in a prefix of its own, with
# a work folder it gets as Z:\...\ on its command line. Everything is removed
# and every Wine process of the prefix ended afterwards, also on failure.
#   run_under_wine.sh TEST.exe
set -euo pipefail

exe="$1"
# Runs again where Wine runs (in a namespace with qemu-i386 where the kernel
# refuses 32-bit programs), or exits 77 saying why it cannot.
if [ -z "${UINQ_WINE_RUNS:-}" ]; then
  exec python3 "$(dirname "$0")/../wine/wine_check.py" --exec bash "$0" "$@"
fi
# No dot in the path: the startup-file editor's temporary is cut at the first.
scratch="$(mktemp -d /tmp/uinq-files-XXXXXX)"
export WINEPREFIX="$scratch/prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  chmod -R u+w "$scratch" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/work"
if ! timeout 180 wineboot -i >/dev/null 2>&1; then
  echo "wineboot did not make the prefix within 180 s" >&2
  exit 1
fi
work="Z:$(echo "$scratch/work/" | tr / '\\')"
timeout 60 wine "$exe" "$work"
