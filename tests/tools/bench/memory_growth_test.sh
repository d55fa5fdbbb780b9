#!/usr/bin/env bash
# Runs the memory measurement and fails when a run's peak memory grows by more
# than three times the size of the registry keys added to the machine.
#   memory_growth_test.sh MEMORY_SH BUILD_DIR
set -euo pipefail
output=$(bash "$1" "$2")
echo "$output"
growth=$(sed -n 's/^Growth: \([0-9.]*\) times.*/\1/p' <<<"$output")
if [ -z "$growth" ]; then
  echo "FAIL: memory.sh printed no growth figure" >&2
  exit 1
fi
if ! awk -v g="$growth" 'BEGIN { exit !(g <= 3) }'; then
  echo "FAIL: peak memory grew by $growth times the added registry size (at most 3 allowed)" >&2
  exit 1
fi
