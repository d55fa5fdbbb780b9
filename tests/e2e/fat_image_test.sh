#!/usr/bin/env bash
# The program on a real FAT16 file system: the demo's Windows 95 drive C:
# copied into an image (mkfs.fat, mcopy), SYSTEM.DAT given the attributes
# Windows gives it (hidden, system, read-only), and the image mounted.
#   fat_image_test.sh fusefat|kernel UINQ76 UINQ76-CREG UINQ76-DEMO-MACHINE
# fusefat: mounted with fusefat, which keeps neither attributes nor short
#   names and loses a renamed folder's files; the run must be refused and the
#   image's files, attributes and short names stay as they were.
# kernel: mounted with the kernel's FAT driver (root, mount -o loop); the
#   uninstall runs, and the unmounted image is checked: fsck.fat, SYSTEM.DAT
#   by our check and two independent readers, the files against the same run
#   on a plain folder, and SYSTEM.DAT's attributes and short name, kept. A
#   declined run leaves the image's files as they were.
# Exits 77 (skipped), saying why, where the mount, its driver, the FAT tools
# or a registry reader are missing (as in most containers).
set -euo pipefail
mode=$1
program=$2
creg=$3
demo=$4
here=$(cd "$(dirname "$0")" && pwd)
readers_dir="$here/../platform/creg"
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
  kernel)
    [ "$(id -u)" -eq 0 ] || skip "mounting with the kernel's FAT driver needs root"
    ;;
  *) fail "unknown mode $mode" ;;
esac
/usr/bin/python3 -c 'import pycreg' 2>/dev/null || skip "python3-libcreg (module pycreg) is not installed"
perl -MParse::Win32Registry -e 1 2>/dev/null || skip "libparse-win32registry-perl is not installed"
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
  if [ "$mode" = kernel ]; then
    timeout 30 umount "$mnt" || fail "the image could not be unmounted within 30 s"
    return 0
  fi
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
  if [ "$mode" = kernel ]; then
    timeout 30 mount -t vfat -o loop "$image" "$mnt" >"$work/mount.log" 2>&1 ||
      skip "the kernel's FAT driver could not mount the image: $(tr '\n' ' ' <"$work/mount.log")"
    mounted=1
    return 0
  fi
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

dump_all() {
  local file=$1
  "$creg" check "$file" >/dev/null || fail "$file fails the check: $("$creg" check "$file" 2>&1)"
  "$creg" dump "$file" >"$file.ours"
  /usr/bin/python3 "$readers_dir/dump_pycreg.py" "$file" >"$file.pycreg"
  perl "$readers_dir/dump_parse_win32registry.pl" "$file" >"$file.perl"
  for reader in pycreg perl; do
    cmp -s "$file.ours" "$file.$reader" ||
      fail "$reader lists $file differently: $(diff "$file.ours" "$file.$reader" | head -n 20)"
  done
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

if [ "$mode" = fusefat ]; then
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
fi

# The same run on a plain folder: what the drive must hold afterwards.
cp -a "$work/drive_c" "$work/reference"
printf 'y\n\n\n' | timeout 60 "$program" --machine "$work/reference" --ui lines \
  >"$work/reference.out" 2>&1 || fail "the run on the plain folder failed: $(cat "$work/reference.out")"

# 1. The uninstall on the mounted image.
mount_image "$image"
status=0
printf 'y\n\n\n' | timeout 60 "$program" --machine "$mnt" --ui lines >"$work/run.out" \
  2>"$work/run.err" || status=$?
ls -a "$mnt/WINDOWS" >"$work/mounted.ls"
unmount
[ "$status" -eq 0 ] || fail "the uninstall on the mount ended with status $status: $(cat "$work/run.err")"
fsck.fat -n "$image" >"$work/fsck.out" 2>&1 || fail "fsck.fat finds faults: $(cat "$work/fsck.out")"
extract "$image" "$work/after"

registry=$work/after/WINDOWS/SYSTEM.DAT
dump_all "$registry"
dump_all "$work/reference/WINDOWS/SYSTEM.DAT"
cmp -s "$registry.ours" "$work/reference/WINDOWS/SYSTEM.DAT.ours" ||
  fail "SYSTEM.DAT differs from the run on a plain folder: $(diff "$registry.ours" "$work/reference/WINDOWS/SYSTEM.DAT.ours" | head)"
for key in 'Enum\ROOT\OPT0930MEDIA' 'System\CurrentControlSet\Services\Class\OPT0930MEDIA'; do
  ! grep -qiF "K $key" "$registry.ours" || fail "the product's key $key is still in SYSTEM.DAT"
done
! grep -qi 'snd930p.drv' "$registry.ours" || fail "a value naming snd930p.drv is still in SYSTEM.DAT"
# The files: the product's gone, the neighbours kept, Windows' own copies
# untouched; the backups apart, as they differ in their times.
for gone in WINDOWS/INF/OEM1.INF WINDOWS/INF/OEM2.INF; do
  [ -e "$work/drive_c/$gone" ] || fail "the demo drive has no $gone"
  [ ! -e "$work/after/$gone" ] || fail "$gone is still on the drive"
done
for kept in WINDOWS/INF/OEM0.INF WINDOWS/INF/oem3.inf WINDOWS/INF/OEM4.INF WINDOWS/INF/SND930P.INF; do
  cmp -s "$work/drive_c/$kept" "$work/after/$kept" || fail "the neighbour $kept was not kept"
done
diff -r -x backups -x 'SYSTEM.DAT*' "$work/reference" "$work/after" >"$work/tree.diff" ||
  fail "the drive's files differ from the run on a plain folder: $(head -n 20 "$work/tree.diff")"
for kept in WINDOWS/SYSTEM.DA0 SYSTEM.1ST WINDOWS/USER.DAT WINDOWS/USER.DA0 MSDOS.SYS CONFIG.SYS; do
  cmp -s "$work/drive_c/$kept" "$work/after/$kept" || fail "$kept was changed"
done
[ -d "$work/after/backups" ] || fail "no backup on the drive"
! grep -q '\.tmp\|uinq76-tmp' "$work/mounted.ls" || fail "a temporary file was left: $(cat "$work/mounted.ls")"
# SYSTEM.DAT keeps its attributes and short name; and the file's other
# entries (and those of every file not removed) theirs.
mattrib -i "$image" ::/WINDOWS/SYSTEM.DAT | grep -q '^  A  SHR ' ||
  fail "SYSTEM.DAT lost attributes: $(mattrib -i "$image" ::/WINDOWS/SYSTEM.DAT); $(cat "$work/run.err")"
mdir -a -i "$image" ::/WINDOWS | grep -q '^SYSTEM   DAT ' ||
  fail "SYSTEM.DAT lost its short name: $(mdir -a -i "$image" ::/WINDOWS)"
# AUTOEXEC.BAT, rewritten by the run, is found by DOS under its short name.
mdir -a -i "$image" ::/ | grep -q '^AUTOEXEC BAT ' || fail "AUTOEXEC.BAT lost its short name"
! grep -q "was written, but" "$work/run.err" || fail "a notice although nothing was lost: $(cat "$work/run.err")"

# 2. A declined run: the image's files, attributes and short names as
# before, no lock, temporary or backup file behind.
image="$work/declined.img"
make_image "$image"
extract "$image" "$work/before2"
mount_image "$image"
status=0
printf 'n\n\n' | timeout 60 "$program" --machine "$mnt" --ui lines >"$work/declined.out" \
  2>&1 || status=$?
unmount
[ "$status" -eq 0 ] || fail "the declined run ended with status $status: $(cat "$work/declined.out")"
grep -q 'Do you really want to uninstall' "$work/declined.out" && ! grep -q 'Uninstalling' "$work/declined.out" ||
  fail "the run was not declined: $(cat "$work/declined.out")"
fsck.fat -n "$image" >"$work/fsck.out" 2>&1 || fail "fsck.fat finds faults: $(cat "$work/fsck.out")"
extract "$image" "$work/after2"
unchanged "the declined run" "$work/before2" "$work/after2"

echo "FAT image on the kernel's driver: uninstalled and declined runs checked in $((SECONDS - started)) s"
