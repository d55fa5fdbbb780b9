#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UBSan, libFuzzer),
# replays each target's committed corpus (tools/fuzz/corpus/<target>) and
# then fuzzes each for a while: tools/fuzz.sh [SECONDS] [TARGET...]
# New inputs are kept in build-fuzz/corpus/<target>, findings in
# build-fuzz/findings/. `make test` runs it for 20 seconds a target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  targets=(fuzz_regedit4 fuzz_creg fuzz_resources fuzz_profile fuzz_startup_file fuzz_wildcard fuzz_drive_paths
    fuzz_manifest)
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUINQ_WERROR=ON -DUINQ_SANITIZE=ON -DUINQ_FUZZ=ON -DUINQ_BUILD_TESTS=OFF -DUINQ_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
# Only the targets and the libraries they link are built; fuzz_creg starts
# from deep, wide and many-profile files as well, which its seed generator writes.
build_targets=("${targets[@]}")
for target in "${targets[@]}"; do
  if [ "$target" = fuzz_creg ]; then build_targets+=(fuzz_creg_seeds); fi
done
cmake --build build-fuzz --target "${build_targets[@]}"

mkdir -p build-fuzz/findings
for target in "${targets[@]}"; do
  seeds=tools/fuzz/corpus/$target
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  log=build-fuzz/$target.log
  # SYSTEM.DAT seeds are up to 16 KiB, the generated ones up to 64 KiB.
  max_len=8192
  if [ "$target" = fuzz_creg ]; then
    max_len=65536
    build-fuzz/tools/fuzz/fuzz_creg_seeds "$work" >/dev/null
  fi
  echo "== $target"
  status=0
  # Every committed input first, each once; then new ones for the time asked.
  "build-fuzz/tools/fuzz/$target" -runs=0 -artifact_prefix="build-fuzz/findings/$target-" \
    "$seeds" >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    "build-fuzz/tools/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
      -artifact_prefix="build-fuzz/findings/$target-" -print_final_stats=1 \
      "$work" "$seeds" >"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "FAIL: $target found a fault (input in build-fuzz/findings/)" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$log" | tail -n 2
done
