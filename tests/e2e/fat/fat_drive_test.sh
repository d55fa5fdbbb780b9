#!/usr/bin/env bash
# The program on the kernel's own FAT driver, run under user-mode Linux: the
# demo's Windows 95 drive C: on an MBR disk with one FAT16 or FAT32 partition,
# SYSTEM.DAT hidden, system and read-only, long names in the INF folder. In
# one boot, each on a disk of its own:
#   A  the uninstall, then (on a copy, B) the restore of its backup;
#   C  a declined run;
#   D  a drive without the product (the uninstalled one): "not installed";
#   E  a run cut off between two steps (interrupted), then finished.
# Afterwards, on the host: fsck.fat, SYSTEM.DAT by our strict check and two
# independent readers, attributes and short names with mtools, and every file
# against the same runs on a plain folder.
#   fat_drive_test.sh 16|32 UINQ76 UINQ76-CREG UINQ76-DEMO-MACHINE
# Exits 77 (skipped), saying why, where user-mode Linux, the FAT tools or a
# registry reader are missing.
set -euo pipefail
bits=$1
program=$2
creg=$3
demo=$4
here=$(cd "$(dirname "$0")" && pwd)
readers_dir="$here/../../platform/creg"
started=$SECONDS

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAIL (FAT$bits): $*"
  exit 1
}

# shellcheck source=uml.sh
source "$here/uml.sh"
# shellcheck source=fat_disk.sh
source "$here/fat_disk.sh"
fat_test_prepare
/usr/bin/python3 -c 'import pycreg' 2>/dev/null || skip "python3-libcreg (module pycreg) is not installed"
perl -MParse::Win32Registry -e 1 2>/dev/null || skip "libparse-win32registry-perl is not installed"

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

# The machines: the demo drive, and the same drive after a run on a plain
# folder, which is also the drive without the product.
"$demo" --win9x "$work/drive_c" >/dev/null
# Long file names in the INF folder, as setup programs leave them.
printf '[Version]\r\nSignature="$CHICAGO$"\r\n' >"$work/drive_c/WINDOWS/INF/Kivra Q76 Readme.inf"
cp -a "$work/drive_c" "$work/reference"
printf 'y\n\n\n' | timeout 60 "$program" --machine "$work/reference" --ui lines \
  >"$work/reference.out" 2>&1 || fail "the run on the plain folder failed: $(cat "$work/reference.out")"
cp -a "$work/reference" "$work/without"
rm -rf "$work/without/backups"
dump_all "$work/reference/WINDOWS/SYSTEM.DAT"

for disk in A C E; do fat_disk_make "$bits" "$work/$disk.img" "$work/drive_c"; done
fat_disk_make "$bits" "$work/D.img" "$work/without"
cp --sparse=always "$work/A.img" "$work/B.img"
for disk in A C D E; do fat_disk_files "$work/$disk.img" "$work/$disk.before"; done

# The job inside: each run's output and status in $work/NAME.out, .status.
cat >"$work/job.sh" <<EOF
set -u
work=$work
program=$program
EOF
cat >>"$work/job.sh" <<'EOF'
run() {
  name=$1 mount=$2 input=$3
  shift 3
  printf "$input" | timeout 120 "$program" --machine "$mount" --ui lines "$@" \
    >"$work/$name.out" 2>&1
  echo $? >"$work/$name.status"
  ls -a "$mount" "$mount/WINDOWS" >"$work/$name.ls"
}
attach() {
  mkdir -p "$work/mnt$1"
  mount -t vfat "$2" "$work/mnt$1" || { echo "cannot mount $2"; exit 3; }
}
attach A /dev/ubda1
run uninstall "$work/mntA" 'y\n\n\n'
umount "$work/mntA"
dd if=/dev/ubda of=/dev/ubdb bs=1M 2>/dev/null
attach B /dev/ubdb1
backup=$(ls "$work/mntB/backups" | grep '^uinq76-' | tail -n 1)
run restore "$work/mntB" '' --restore "$backup"
umount "$work/mntB"
attach C /dev/ubdc1
run declined "$work/mntC" 'n\n\n'
umount "$work/mntC"
attach D /dev/ubdd1
run not-installed "$work/mntD" 'y\n\n\n'
umount "$work/mntD"
attach E /dev/ubde1
# Cut off between two steps: interrupted once the first step is done.
mkfifo "$work/in"
timeout 120 "$program" --machine "$work/mntE" --ui lines <"$work/in" >"$work/cut.out" 2>&1 &
pid=$!
exec 3>"$work/in"
echo y >&3
i=0
while ! grep -q '60%' "$work/cut.out" && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
kill -INT $pid
wait $pid
echo $? >"$work/cut.status"
exec 3>&-
run finish "$work/mntE" 'y\n\n\n'
umount "$work/mntE"
EOF

status=0
uml_run 600 "$work/job.sh" "$work"/{A,B,C,D,E}.img || status=$?
[ "$status" -eq 0 ] || fail "the machine ended with $status: $(tail -n 20 "$work/uml.log")"
boot_time=$((SECONDS - started))

for disk in A B C D E; do
  fat_disk_fsck "$work/$disk.img" -n || fail "fsck.fat finds faults on $disk: $(cat "$work/$disk.img.fsck")"
  fat_disk_files "$work/$disk.img" "$work/$disk.after"
done

expect_status() {
  local name=$1 want=$2
  [ "$(cat "$work/$name.status")" = "$want" ] ||
    fail "the $name run ended with status $(cat "$work/$name.status"), not $want: $(cat "$work/$name.out")"
}

# A drive as the plain folder's run leaves it: SYSTEM.DAT holding the same
# registry (read by all three readers), every other file the same, attributes
# and short names kept, no temporary left.
uninstalled() {
  local what=$1 after=$2 listing=$3
  local registry=$after/WINDOWS/SYSTEM.DAT
  dump_all "$registry"
  cmp -s "$registry.ours" "$work/reference/WINDOWS/SYSTEM.DAT.ours" ||
    fail "$what: SYSTEM.DAT differs from the run on a plain folder: $(diff "$registry.ours" "$work/reference/WINDOWS/SYSTEM.DAT.ours" | head)"
  diff -r -x backups -x 'SYSTEM.DAT*' "$work/reference" "$after" >"$work/tree.diff" ||
    fail "$what: the files differ from the run on a plain folder: $(head -n 20 "$work/tree.diff")"
  [ -d "$after/backups" ] || fail "$what: no backup on the drive"
  grep -q '^  A  SHR .*/WINDOWS/SYSTEM.DAT$' "$after.attr" ||
    fail "$what: SYSTEM.DAT lost attributes: $(grep SYSTEM.DAT "$after.attr")"
  grep -q '^SYSTEM   DAT ' "$after.dir" || fail "$what: SYSTEM.DAT lost its short name"
  grep -q '^AUTOEXEC BAT ' "$after.dir" || fail "$what: AUTOEXEC.BAT lost its short name"
  grep -q '^KIVRAQ~1 INF .*Kivra Q76 Readme.inf' "$after.dir" ||
    fail "$what: the long name in the INF folder lost its short name"
  ! grep -qi '\.tmp\|uinq76-tmp\|@@@\|\.partial-' "$listing" || fail "$what: a temporary was left: $(cat "$listing")"
}

# The directory entries of a listing, name, size and attributes, the backups
# folder and its sections aside, sorted.
entries() {
  awk '/^Directory for / { skip = toupper($0) ~ /BACKUPS/ } !skip' "$1" |
    grep -v -i 'backups\|^ *[0-9]* files\? \|^$\|^Total files' | cut -c1-24 | sort
}

# Files, attributes and short names as before (the backups apart, which a
# restore keeps; a file put back may take another place in its folder).
unchanged() {
  local what=$1 before=$2 after=$3
  diff -r -x backups "$before" "$after" >"$work/unchanged.diff" ||
    fail "$what changed the drive's files: $(head -n 20 "$work/unchanged.diff")"
  diff <(grep -v backups "$before.attr" | sort) <(grep -v backups "$after.attr" | sort) >"$work/unchanged.diff" ||
    fail "$what changed attributes: $(cat "$work/unchanged.diff")"
  diff <(entries "$before.dir") <(entries "$after.dir") \
    >"$work/unchanged.diff" || fail "$what changed directory entries: $(cat "$work/unchanged.diff")"
}

expect_status uninstall 0
uninstalled "the uninstall" "$work/A.after" "$work/uninstall.ls"
! grep -q "was written, but" "$work/uninstall.out" || fail "a notice although nothing was lost: $(cat "$work/uninstall.out")"

expect_status restore 0
cmp -s "$work/drive_c/WINDOWS/SYSTEM.DAT" "$work/B.after/WINDOWS/SYSTEM.DAT" ||
  fail "the restore did not put SYSTEM.DAT back byte for byte"
unchanged "the uninstall and the restore" "$work/A.before" "$work/B.after"

expect_status declined 0
grep -q 'Do you really want to uninstall' "$work/declined.out" && ! grep -q 'Uninstalling' "$work/declined.out" ||
  fail "the run was not declined: $(cat "$work/declined.out")"
unchanged "the declined run" "$work/C.before" "$work/C.after"
[ ! -e "$work/C.after/backups" ] || fail "the declined run left a backup folder"
! grep -qi '\.tmp\|uinq76-tmp\|@@@\|lock' "$work/declined.ls" || fail "the declined run left a file: $(cat "$work/declined.ls")"

expect_status not-installed 0
grep -q 'not properly installed' "$work/not-installed.out" || fail "no 'not properly installed': $(cat "$work/not-installed.out")"
unchanged "the run on a drive without the product" "$work/D.before" "$work/D.after"

# Cut off: it ends cancelled (0), or dies of the interrupt (130) when that
# falls outside the dialog; the next start finishes it either way.
case $(cat "$work/cut.status") in
  0 | 130) ;;
  *) fail "the cut-off run ended with status $(cat "$work/cut.status"): $(cat "$work/cut.out")" ;;
esac
grep -q '60%' "$work/cut.out" && ! grep -q '100%' "$work/cut.out" ||
  fail "the run was not cut off between two steps: $(cat "$work/cut.out")"
expect_status finish 0
grep -qi 'finish' "$work/finish.out" || fail "the cut-off run was not offered to be finished: $(cat "$work/finish.out")"
uninstalled "the finished run" "$work/E.after" "$work/finish.ls"

echo "FAT$bits on the kernel's driver (user-mode Linux): uninstall, restore, declined, not installed" \
  "and a finished run checked in $((SECONDS - started)) s (the machine's run: $boot_time s)"
