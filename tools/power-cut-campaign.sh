#!/usr/bin/env bash
# The whole power-cut campaign on the kernel's FAT driver, on demand (CI runs a
# share of it): a Windows 95 drive and a machine directory, each on FAT16 and
# FAT32, the machine stopped right after every
# durable call of an uninstall, of the finishing of a cut-off run and of a
# restore, and at random moments of each; after every cut fsck.fat, the next
# start and a restore are checked. Takes about half a minute a cut.
#   bash tools/power-cut-campaign.sh [RANDOM-MOMENTS]   (default 8)
set -euo pipefail
cd "$(dirname "$0")/.."
randoms=${1:-8}
make build >/dev/null
b=build
status=0
for form in drive machine; do
  for bits in 16 32; do
    for case_name in uninstall finishing restore; do
      bash tests/e2e/fat/power_cut_test.sh --form "$form" --case "$case_name" --calls all \
        --random "$randoms" --seed "$bits" "$bits" "$b/app/uinq76" "$b/tools/creg/uinq76-creg" \
        "$b/tools/demo/uinq76-demo-machine" "$b/tests/crash/libuinq_crash_shim.so" || status=1
    done
  done
done
exit "$status"
