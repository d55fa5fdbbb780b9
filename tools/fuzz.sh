#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UBSan, libFuzzer) and
# runs each for a while: tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUINQ_WERROR=ON -DUINQ_SANITIZE=ON -DUINQ_FUZZ=ON -DUINQ_BUILD_TESTS=OFF -DUINQ_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build build-fuzz --target fuzz_regedit4 fuzz_creg fuzz_resources uinq76-demo-machine uinq76-creg

# Seeds: the demo machine's registry (as text, and as SYSTEM.DAT in both
# styles, in one and in several blocks) and the program's own resource script.
mkdir -p build-fuzz/corpus/fuzz_regedit4 build-fuzz/corpus/fuzz_creg build-fuzz/corpus/fuzz_resources
rm -rf build-fuzz/seed-machine
build-fuzz/tools/demo/uinq76-demo-machine build-fuzz/seed-machine >/dev/null
cp build-fuzz/seed-machine/registry.reg build-fuzz/corpus/fuzz_regedit4/demo.reg
cp resources/uinq76.rc build-fuzz/corpus/fuzz_resources/uinq76.rc
for style in packed records; do
  for block in 4096 61440; do
    build-fuzz/tools/creg/uinq76-creg generate --style "$style" --block-size "$block" \
      build-fuzz/seed-machine/registry.reg "build-fuzz/corpus/fuzz_creg/demo-$style-$block.dat"
  done
done

for target in fuzz_regedit4 fuzz_creg fuzz_resources; do
  max_len=8192
  # The demo machine's SYSTEM.DAT is 16 KiB.
  if [ "$target" = fuzz_creg ]; then max_len=20000; fi
  echo "== $target"
  "build-fuzz/tools/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" \
    "build-fuzz/corpus/$target" 2>&1 | tail -n 3
done
