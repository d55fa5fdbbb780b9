#!/usr/bin/env bash
# Writes a fresh demo machine with the Kivra Q76 driver software installed,
# runs the uninstall on it and shows what changed.
#   tools/demo.sh [BUILD_DIR]
# In a terminal the program asks its questions; without one (a pipe, CI) the
# answers Yes and OK are given for the user. With DISPLAY or WAYLAND_DISPLAY
# set the program opens its window instead.
set -euo pipefail
build=${1:-build}
machine="$build/demo-machine"
before="$build/demo-machine.before"

rm -rf "$machine" "$before"
"$build/tools/demo/uinq76-demo-machine" "$machine"
cp -a "$machine" "$before"

echo
echo "== Running: uinq76 --machine $machine"
if [ -t 0 ] || [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/app/uinq76" --machine "$machine"
else
  printf 'y\n\n' | "$build/app/uinq76" --machine "$machine" --ui text
fi

echo
echo "== What the uninstall changed in the registry (registry.reg)"
diff -u --strip-trailing-cr "$before/registry.reg" "$machine/registry.reg" || true
echo
echo "== What it changed on the drives"
diff -ru --strip-trailing-cr "$before/drive_c" "$machine/drive_c" || true
diff -ru --strip-trailing-cr "$before/drive_d" "$machine/drive_d" || true
echo
echo "== The run's backup (uinq76 --list-backups); --restore NAME puts the machine back"
"$build/app/uinq76" --machine "$machine" --list-backups
