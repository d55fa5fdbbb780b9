#!/usr/bin/env bash
# The program on a FAT16 image mounted with fusefat, which keeps neither
# attributes nor short names and loses a renamed folder's files: the run must
# be refused and the image's files, attributes and short names stay as they
# were. (The kernel's own FAT driver is tested by fat/fat_drive_test.sh.)
#   fat_image_test.sh fusefat UINQ76 UINQ76-CREG UINQ76-DEMO-MACHINE
# Exits 77 (skipped), saying why, where fusefat or the FAT tools are missing.
set -euo pipefail
mode=$1
program=$2
# $3, the registry tool, is not needed here.
demo=$4
started=$SECONDS

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}

export PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat fsck.fat mcopy mattrib mdir; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (packages dosfstools, mtools)"
done
case $mode in
  fusefat)
    [ -e /dev/fuse ] || skip "no /dev/fuse on this machine"
    command -v fusefat >/dev/null || skip "fusefat is not installed (package fusefat)"
    command -v fusermount >/dev/null || skip "fusermount is not installed (package fuse)"
    ;;
  *) fail "unknown mode $mode" ;;
esac
# fusefat leaves the second FAT entry at 0x8000 (the "no disk errors" bit
# cleared) on every read-write mount; mtools refuses such an image without this.
export MTOOLS_SKIP_CHECK=1

work=$(mktemp -d)
mnt="$work/mnt"
fuse_pid=""
mounted=0
unmount() {
  [ "$mounted" -eq 1 ] || return 0
  mounted=0
  fusermount -u "$mnt" 2>/dev/null || true
  # fusefat writes the FAT as it ends: the image is read only after that.
  for _ in $(seq 100); do
    kill -0 "$fuse_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$fuse_pid" 2>/dev/null; then
    kill "$fuse_pid" 2>/dev/null || true
    fail "fusefat did not end within 10 s of the unmount"
  fi
  wait "$fuse_pid" 2>/dev/null || true
}
trap 'unmount; rm -rf "$work"' EXIT

# A 32 MB FAT16 image holding the demo drive, SYSTEM.DAT hidden, system and
# read-only, as Windows keeps it.
make_image() {
  local image=$1
  mkfs.fat -F 16 -C "$image" 32768 >/dev/null
  mcopy -s -m -i "$image" "$work/drive_c"/* ::/
  mattrib -i "$image" +h +s +r ::/WINDOWS/SYSTEM.DAT
}

mount_image() {
  local image=$1
  mkdir -p "$mnt"
  fusefat -f -o rw+ "$image" "$mnt" >"$work/fusefat.log" 2>&1 &
  fuse_pid=$!
  mounted=1
  for _ in $(seq 100); do
    if grep -q " $mnt fuse" /proc/self/mounts; then return 0; fi
    if ! kill -0 "$fuse_pid" 2>/dev/null; then
      mounted=0
      skip "fusefat could not mount the image: $(tr '\n' ' ' <"$work/fusefat.log")"
    fi
    sleep 0.1
  done
  fail "fusefat did not mount the image within 10 s"
}

# Every file of the image, unpacked; and every directory entry with its
# attributes and short name.
extract() {
  local image=$1 into=$2
  mkdir -p "$into"
  mcopy -s -n -m -i "$image" ::/ "$into/"
  mdir -/ -a -i "$image" ::/ | grep -v '^ *[0-9 ]* bytes free' >"$into.dir"
  mattrib -/ -i "$image" ::/ >"$into.attr"
}

"$demo" --win9x "$work/drive_c" >/dev/null
image="$work/drive.img"
make_image "$image"
mdir -a -i "$image" ::/WINDOWS | grep -q '^SYSTEM   DAT ' || fail "mcopy gave SYSTEM.DAT no short name"
extract "$image" "$work/before"

# The image's files, attributes and short names against those before.
unchanged() {
  local what=$1 before=$2 after=$3
  diff -r "$before" "$after" >"$work/unchanged.diff" ||
    fail "$what changed the drive's files: $(head -n 20 "$work/unchanged.diff")"
  cmp -s "$before.attr" "$after.attr" ||
    fail "$what changed attributes: $(diff "$before.attr" "$after.attr")"
  cmp -s "$before.dir" "$after.dir" ||
    fail "$what changed directory entries: $(diff "$before.dir" "$after.dir")"
}

cp "$work/drive_c/WINDOWS/SYSTEM.DAT" "$work/SYSTEM.DAT.before"
# Refused before anything is written, whatever the answers would have been.
mount_image "$image"
status=0
printf 'y\n\n\n' | timeout 60 "$program" --machine "$mnt" --ui lines >"$work/run.out" \
  2>"$work/run.err" || status=$?
unmount
[ "$status" -eq 2 ] || fail "the run on fusefat ended with status $status, not 2: $(cat "$work/run.err")"
grep -qF "$mnt/WINDOWS/SYSTEM.DAT is on a FAT drive mounted through FUSE (fuse.fusefat)" \
  "$work/run.err" || fail "the refusal does not name the file and fusefat: $(cat "$work/run.err")"
grep -qF "nothing was changed" "$work/run.err" || fail "the refusal: $(cat "$work/run.err")"
fsck.fat -n "$image" >"$work/fsck.out" 2>&1 || fail "fsck.fat finds faults: $(cat "$work/fsck.out")"
extract "$image" "$work/after"
unchanged "the refused run" "$work/before" "$work/after"
cmp -s "$work/SYSTEM.DAT.before" "$work/after/WINDOWS/SYSTEM.DAT" || fail "SYSTEM.DAT changed"
echo "fusefat image: the run was refused and the image's files kept, in $((SECONDS - started)) s"
exit 0
