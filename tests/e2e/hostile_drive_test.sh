#!/usr/bin/env bash
# The program in text mode on Windows 95 drives whose SYSTEM.DAT a hostile
# user shaped, each about 10 MB (a quarter of that for a program built with
# AddressSanitizer; uinq76-creg grow adds the shapes to the
# demo's file):
# - a chain of nested keys deeper than the 512 levels a key path may have,
#   below a hardware profile and below Software, and a shorter one on a
#   512 KiB stack: refused at once with exit status 2 and a message naming
#   the file and the offset, SYSTEM.DAT untouched, the peak memory within
#   four times the file's size (and 4 MiB) above that of the demo drive's run;
# - the deepest chain a key path may have (on a 512 KiB stack), a key with
#   very many subkeys and very many hardware profiles: uninstalled from as
#   the demo drive is, in every profile, the file sound, the rest kept,
#   the peak memory within a bound linear in the file's size.
#   hostile_drive_test.sh UINQ76 UINQ76-DEMO-MACHINE UINQ76-CREG
set -euo pipefail
program=$1
demo=$2
creg=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
system_dat=WINDOWS/SYSTEM.DAT

fail() {
  echo "FAIL: $*"
  exit 1
}

"$demo" --win9x "$work/pristine" >/dev/null

# A copy of the demo drive at $work/NAME whose SYSTEM.DAT is grown with the
# options given; $drive names it, $size is its SYSTEM.DAT's size in KiB.
make_drive() {
  local name=$1
  shift
  drive=$work/$name
  cp -a "$work/pristine" "$drive"
  "$creg" grow "$work/pristine/$system_dat" "$drive/$system_dat" "$@"
  cp "$drive/$system_dat" "$work/$name.dat"
  size=$(($(stat -c %s "$drive/$system_dat") / 1024))
}

# An uninstall on $drive (yes, then OK to each note) with a stack of
# STACK_KB KiB; its status in $status, its peak memory in KiB in $peak.
run() {
  local stack_kb=$1
  status=0
  printf 'y\n\n\n' | (
    ulimit -s "$stack_kb"
    exec /usr/bin/time -f '%M' -o "$work/peak" timeout 60 "$program" --machine "$drive" --ui text
  ) >"$work/out" 2>"$work/err" || status=$?
  peak=$(tail -n 1 "$work/peak")
  [ "$status" -ne 124 ] || fail "$drive: the run did not end within 60 s"
}

cp -a "$work/pristine" "$work/demo"
drive=$work/demo
run 8192
[ "$status" -eq 0 ] || fail "the demo drive's uninstall ended with status $status: $(cat "$work/err")"
base=$peak
slack=4096 # KiB, for what a small file's run may allocate beyond the demo's.
# AddressSanitizer keeps freed memory aside and maps its own: there the
# bounds on memory say nothing, and are not checked.
# The files are a quarter the size there, which is as good a test of what
# it looks for.
scale=1
if ldd "$program" 2>/dev/null | grep -q libasan; then
  slack=100000000
  scale=4
  echo "built with AddressSanitizer: peak memory not checked, files a quarter the size"
fi
# The card's keys in a SYSTEM.DAT, those of the profiles added to the demo's
# (0003 on) under one name.
card_keys() {
  "$creg" dump "$1" | grep 'OPT0930MEDIA' |
    sed -E 's/^K \\Config\\(000[3-9]|00[1-9][0-9]|0[1-9][0-9]{2}|[1-9][0-9]{3})\\/K \\Config\\ADDED\\/' |
    sort -u
}
# What an uninstall leaves of the card (keys of other devices' entries) on
# the demo drive, and on it with two profiles added.
card_keys "$drive/$system_dat" >"$work/card-left"

refused() {
  local name=$1 stack_kb=$2
  shift 2
  make_drive "$name" "$@"
  run "$stack_kb"
  [ "$status" -eq 2 ] || fail "$name: status $status, not 2 (a refusal): $(head -c 600 "$work/err")"
  grep -q "$drive/$system_dat: offset 0x[0-9A-F]*: this key entry lies 513 levels below the root, deeper than the 512 a key path may have" "$work/err" ||
    fail "$name: not refused for its depth with the file and offset: $(head -c 600 "$work/err")"
  cmp -s "$drive/$system_dat" "$work/$name.dat" || fail "$name: SYSTEM.DAT was changed"
  [ ! -e "$drive/backups" ] || [ -z "$(ls -A "$drive/backups")" ] || fail "$name: a backup was written"
  [ $((peak - base)) -le $((4 * size + slack)) ] ||
    fail "$name: peak memory ${peak} KiB, over ${base} KiB, four times the ${size} KiB file and ${slack} KiB"
  echo "$name: refused, ${size} KiB file, peak ${peak} KiB (demo drive ${base} KiB)"
}

uninstalled() {
  local name=$1 stack_kb=$2 ratio=$3 kept=$4 card_left=$5
  shift 5
  make_drive "$name" "$@"
  run "$stack_kb"
  [ "$status" -eq 0 ] || fail "$name: status $status: $(head -c 600 "$work/err")"
  "$creg" check "$drive/$system_dat" >/dev/null || fail "$name: SYSTEM.DAT is not sound"
  "$creg" dump "$drive/$system_dat" >"$work/dump"
  # What the uninstall on the smaller drive leaves of the card, and no more,
  # every added profile alike.
  card_keys "$drive/$system_dat" >"$work/card"
  cmp -s "$work/card" "$work/$card_left" ||
    fail "$name: the card's keys left differ from those of the smaller drive: $(diff "$work/$card_left" "$work/card" | head -n 5)"
  grep -qi "$kept" "$work/dump" || fail "$name: $kept is gone from SYSTEM.DAT"
  [ $((peak - base)) -le $((ratio * size + slack)) ] ||
    fail "$name: peak memory ${peak} KiB, over ${base} KiB, ${ratio} times the ${size} KiB file and ${slack} KiB"
  echo "$name: uninstalled, ${size} KiB file, peak ${peak} KiB (demo drive ${base} KiB)"
}

make_drive two-profiles-added --profiles 2
run 8192
[ "$status" -eq 0 ] || fail "two-profiles-added: status $status: $(head -c 600 "$work/err")"
card_keys "$drive/$system_dat" >"$work/card-left-added"

chain=$((190000 / scale))
wide=$((120000 / scale))
profiles=$((5400 / scale))
refused chain-in-profile 8192 --chain "$chain" 'Config\0001\Enum'
refused chain-in-software 8192 --chain "$chain" 'Software'
refused short-chain-small-stack 512 --chain 5000 'Config\0001'
# Config\0001 lies two levels below the root: 510 more make 512.
uninstalled deepest-chain 512 20 '^K \\Config\\0001\\L1\\.*\\L510$' card-left \
  --chain 510 'Config\0001'
uninstalled wide-key 8192 20 "^K \\\\Software\\\\Wide\\\\W$((wide - 1))\$" card-left \
  --wide "$wide" 'Software\Wide'
uninstalled many-profiles 8192 20 "^K \\\\Config\\\\$(printf %04d $((2 + profiles)))\$" card-left-added \
  --profiles "$profiles"
