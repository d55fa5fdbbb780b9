#!/usr/bin/env bash
# Power cuts on the kernel's FAT driver: the whole machine (a user-mode Linux)
# stops during a run on a Windows 95 drive C: on a FAT16 or FAT32 disk, and
# the disk keeps only what had reached it. Then, as at the next start:
# fsck.fat -a (what ScanDisk does), the program again (it finishes the run, or
# makes a whole uninstall when none had begun; for a restore, the restore
# again), and the restore of its backup on a copy of the disk.
#
# The chains of lost clusters that fsck.fat keeps as FSCKnnnn.REC files (as
# ScanDisk keeps FILEnnnn.CHK) are the repair's, not the run's.
#
# Afterwards there must be no lost or damaged SYSTEM.DAT, no lost backup and
# no run that cannot be finished or restored: fsck.fat finds the disks clean,
# the finished drive equals a whole uninstall made on a plain folder
# (SYSTEM.DAT holding the same registry, every other file the same, its
# attributes and short name kept) and the restored one the drive before the
# run (SYSTEM.DAT byte for byte).
#
#   power_cut_test.sh [options] 16|32 UINQ76 UINQ76-CREG UINQ76-DEMO-MACHINE SHIM
#   --case uninstall|finishing|restore   the run that is cut (uninstall)
#   --calls all|N,M,...|every:K          cut right after these durable calls of
#                                        the run (fsync, rename, unlink, mkdir,
#                                        link, counted from 1); negative numbers
#                                        count from the last (all)
#   --random N --seed S                  and at N random moments (0, seed 95)
#   --form drive|machine                 a Windows 95 drive C: (SYSTEM.DAT), or
#                                        a machine directory (registry.reg and
#                                        drive_c/) on the FAT disk (drive)
# Prints one line per cut and the counts; exits 1 when any cut lost anything.
# Exits 77 (skipped), saying why, where user-mode Linux or the FAT tools are
# missing.
set -euo pipefail
case_name=uninstall
calls=all
randoms=0
seed=95
form=drive
while [ $# -gt 5 ]; do
  case $1 in
    --case) case_name=$2 ;;
    --calls) calls=$2 ;;
    --random) randoms=$2 ;;
    --seed) seed=$2 ;;
    --form) form=$2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
bits=$1
program=$2
creg=$3
demo=$4
shim=$5
here=$(cd "$(dirname "$0")" && pwd)
started=$SECONDS

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAIL (FAT$bits, $case_name): $*"
  exit 1
}

# shellcheck source=uml.sh
source "$here/uml.sh"
# shellcheck source=fat_disk.sh
source "$here/fat_disk.sh"
fat_test_prepare

# The machines on plain folders: before the run, a whole uninstall, and one
# cut off between two steps.
case $form in
  drive) "$demo" --win9x "$work/pristine" >/dev/null ;;
  machine) "$demo" "$work/pristine" >/dev/null ;;
  *) fail "unknown form $form" ;;
esac
# The registry: the drive's SYSTEM.DAT, or the machine directory's text.
registry=WINDOWS/SYSTEM.DAT
[ "$form" = drive ] || registry=registry.reg
cp -a "$work/pristine" "$work/reference"
printf 'y\n\n\n' | timeout 60 "$program" --machine "$work/reference" --ui lines \
  >"$work/reference.out" 2>&1 || fail "the run on the plain folder failed: $(cat "$work/reference.out")"
if [ "$form" = drive ]; then
  "$creg" dump "$work/reference/$registry" >"$work/reference.dump"
else
  cp "$work/reference/$registry" "$work/reference.dump"
fi
base=$work/pristine
case $case_name in
  uninstall) ;;
  restore) base=$work/reference ;;
  finishing)
    base=$work/cut-off
    cp -a "$work/pristine" "$base"
    mkfifo "$work/in"
    timeout 60 "$program" --machine "$base" --ui lines <"$work/in" >"$work/cut-off.out" 2>&1 &
    pid=$!
    exec 3>"$work/in"
    echo y >&3
    for _ in $(seq 600); do grep -q '60%' "$work/cut-off.out" && break; sleep 0.1; done
    grep -q '60%' "$work/cut-off.out" || fail "the run to be cut off did not reach its second step"
    kill -INT "$pid"
    wait "$pid" || fail "the run to be cut off ended with $?"
    exec 3>&-
    ;;
  *) fail "unknown case $case_name" ;;
esac
fat_disk_make "$bits" "$work/base.img" "$base"

# Each boot of the machine makes the next start after the previous cut (on
# /dev/ubda: fsck.fat -a, the program, then the restore on its copy
# /dev/ubdb) and then the next cut (on /dev/ubdc), which ends the boot. The
# job's settings are its first lines, written before each boot.
cat >"$work/job.body" <<EOF
work=$work
program=$program
creg=$creg
shim=$shim
case_name=$case_name
form=$form
registry=$registry
EOF
cat >>"$work/job.body" <<'EOF'
mkdir -p "$work/next" "$work/copy" "$work/cut"
newest_backup() { ls "$1/backups" 2>/dev/null | grep '^uinq76-' | tail -n 1; }
the_run() {
  if [ "$case_name" = restore ]; then
    "$program" --machine "$1" --ui lines --restore "$(newest_backup "$1")" </dev/null
  else
    printf 'y\n\n\n' | "$program" --machine "$1" --ui lines
  fi
}
if [ "$next" = 1 ]; then
  # ScanDisk, then the state the cut left, then the next start.
  fsck.fat -a -w /dev/ubda1 >"$work/fsck.log" 2>&1
  echo $? >"$work/fsck.status"
  mount -t vfat /dev/ubda1 "$work/next" || { echo "cannot mount the cut disk"; exit 3; }
  if [ "$form" = drive ] && "$creg" check "$work/next/$registry" >/dev/null 2>&1; then
    echo whole >"$work/state"
  elif [ "$form" = machine ] && head -n 1 "$work/next/$registry" | grep -q '^REGEDIT4' &&
    [ "$(tail -c 1 "$work/next/$registry" | od -An -c | tr -d ' ')" = '\n' ]; then
    echo whole >"$work/state"
  else
    echo damaged >"$work/state"
  fi
  the_run "$work/next" >"$work/next.out" 2>&1
  echo $? >"$work/next.status"
  ls -aR "$work/next" >"$work/next.ls"
  umount "$work/next"
  dd if=/dev/ubda of=/dev/ubdb bs=1M 2>/dev/null
  mount -t vfat /dev/ubdb1 "$work/copy" || { echo "cannot mount the copy"; exit 3; }
  if [ "$case_name" != restore ]; then
    "$program" --machine "$work/copy" --ui lines --restore "$(newest_backup "$work/copy")" \
      </dev/null >"$work/restore.out" 2>&1
    echo $? >"$work/restore.status"
  fi
  umount "$work/copy"
  sync
fi
[ "$cut_after" != none ] || exit 0
mount -t vfat /dev/ubdc1 "$work/cut" || { echo "cannot mount the disk to cut"; exit 3; }
touch "$work/started"
if [ "$cut_after" -gt 0 ]; then
  LD_PRELOAD=$shim UINQ76_TEST_POWER_CUT_AFTER=$cut_after the_run "$work/cut" >"$work/cut.out" 2>&1
elif [ "$cut_after" -eq 0 ]; then
  the_run "$work/cut" >"$work/cut.out" 2>&1
else
  LD_PRELOAD=$shim UINQ76_TEST_TALLY="$work/tally" the_run "$work/cut" >"$work/cut.out" 2>&1
fi
echo $? >"$work/cut.status"
umount "$work/cut"
EOF

# boot NEXT CUT_AFTER: the next start on next.img (when NEXT is 1) and the cut
# on cut.img; CUT_AFTER is a call's number, 0 for a random moment (with
# UML_CUT_AFTER), -1 for an uncut run that counts the calls, none for no run.
boot() {
  { printf 'next=%s\ncut_after=%s\n' "$1" "$2"; cat "$work/job.body"; } >"$work/job.sh"
  rm -f "$work"/*.status "$work/state" "$work/fsck.log"
  [ -e "$work/next.img" ] || cp --sparse=always "$work/base.img" "$work/next.img"
  cp --sparse=always "$work/next.img" "$work/copy.img"
  local status=0
  uml_run 300 "$work/job.sh" "$work/next.img" "$work/copy.img" "$work/cut.img" || status=$?
  return "$status"
}

# The number of durable calls of the run, uncut.
cp --sparse=always "$work/base.img" "$work/cut.img"
status=0
boot 0 -1 || status=$?
[ "$status" -eq 0 ] && [ "$(cat "$work/cut.status")" = 0 ] ||
  fail "the uncut run failed ($status): $(cat "$work/cut.out" "$work/uml.log")"
total=$(cat "$work/tally")
[ "$total" -gt 0 ] || fail "the uncut run made no durable call"

# The cuts: durable calls, then random moments (tenths of a second after the
# program started, within the time an uncut run takes there).
cuts=()
case $calls in
  all) for n in $(seq "$total"); do cuts+=("$n"); done ;;
  every:*) for n in $(seq 1 "${calls#every:}" "$total"); do cuts+=("$n"); done ;;
  *)
    IFS=, read -r -a listed <<<"$calls"
    for n in "${listed[@]}"; do
      [ "$n" -lt 0 ] && n=$((total + 1 + n))
      [ "$n" -ge 1 ] && [ "$n" -le "$total" ] && cuts+=("$n")
    done
    ;;
esac
RANDOM=$seed
for _ in $(seq "$randoms"); do cuts+=("t$((5 + RANDOM % 40))"); done

lost_registry=0 lost_backup=0 not_finished=0 not_restored=0 repaired=0 cut_count=0 report=()

# The outcome of the cut described by $1, from the disks of the boot after it.
check_previous() {
  local what=$1
  cut_count=$((cut_count + 1))
  local fsck_status state outcome fsck_says
  fsck_status=$(cat "$work/fsck.status" 2>/dev/null || echo missing)
  state=$(cat "$work/state" 2>/dev/null || echo unknown)
  [ "$fsck_status" = 0 ] || [ "$fsck_status" = 1 ] ||
    fail "$what: fsck.fat could not repair the disk ($fsck_status): $(cat "$work/fsck.log")"
  [ "$fsck_status" = 0 ] || repaired=$((repaired + 1))
  fsck_says=$(grep -v '^fsck.fat\|^/dev\|^Performing\|^Checking\|^Starting\|^Reclaiming\|^[0-9]* files,\|^$' \
    "$work/fsck.log" | tr '\n' ' ' | cut -c1-160 || true)
  [ "$state" = whole ] || lost_registry=$((lost_registry + 1))
  outcome=ok
  for image in next copy; do
    fat_disk_fsck "$work/$image.img" -n || outcome="fsck.fat finds faults after the next start"
  done
  fat_disk_files "$work/next.img" "$work/next"
  fat_disk_files "$work/copy.img" "$work/restored"
  if [ "$outcome" = ok ] && [ "$(cat "$work/next.status")" != 0 ]; then
    outcome="the next start ended with $(cat "$work/next.status"): $(tail -n 3 "$work/next.out" | tr '\n' ' ')"
  fi
  local restored=$work/restored
  if [ "$case_name" = restore ]; then
    restored=$work/next
  else
    if [ "$outcome" = ok ]; then
      if [ "$form" = drive ]; then
        "$creg" dump "$work/next/$registry" >"$work/next.dump" 2>&1 || true
      else
        cp "$work/next/$registry" "$work/next.dump"
      fi
      if ! cmp -s "$work/next.dump" "$work/reference.dump"; then
        outcome="$registry is not the uninstalled registry"
      elif ! diff -r -q -x backups -x 'SYSTEM.DAT*' -x 'registry.reg' -x 'FSCK*.REC' "$work/reference" "$work/next" >"$work/diff" 2>&1; then
        outcome="the files differ from a whole uninstall: $(head -n 3 "$work/diff" | tr '\n' ' ')"
      elif grep -qi '\.tmp\|uinq76-tmp\|@@@' "$work/next.ls"; then
        outcome="a temporary was left: $(grep -i 'tmp\|@@@' "$work/next.ls" | tr '\n' ' ')"
      elif [ "$form" = drive ] && { ! grep -q '^  A  SHR .*/WINDOWS/SYSTEM.DAT$' "$work/next.attr" ||
        ! grep -q '^SYSTEM   DAT ' "$work/next.dir"; }; then
        outcome="SYSTEM.DAT lost its attributes or short name"
      fi
    fi
    [ "$outcome" = ok ] || not_finished=$((not_finished + 1))
    if [ "$outcome" = ok ] && [ "$(cat "$work/restore.status" 2>/dev/null)" != 0 ]; then
      outcome="the restore ended with $(cat "$work/restore.status" 2>/dev/null): $(tail -n 3 "$work/restore.out" | tr '\n' ' ')"
      lost_backup=$((lost_backup + 1))
    fi
  fi
  if [ "$outcome" = ok ]; then
    if ! cmp -s "$work/pristine/$registry" "$restored/$registry"; then
      outcome="the restore did not put $registry back as it was"
      not_restored=$((not_restored + 1))
    elif ! diff -r -q -x backups -x 'FSCK*.REC' "$work/pristine" "$restored" >"$work/diff" 2>&1; then
      outcome="the restored files differ from those before: $(head -n 3 "$work/diff" | tr '\n' ' ')"
      not_restored=$((not_restored + 1))
    fi
  elif [ "$case_name" = restore ]; then
    not_restored=$((not_restored + 1))
  fi
  local line="FAT$bits $form $case_name, cut $what: $registry $state after the cut${fsck_says:+; fsck.fat: $fsck_says}; $outcome"
  echo "$line"
  [ "$outcome" = ok ] && [ "$state" = whole ] || report+=("$line")
}

previous=""
for cut in "${cuts[@]}" last; do
  rm -f "$work/next.img"
  [ -z "$previous" ] || mv "$work/cut.img" "$work/next.img"
  cp --sparse=always "$work/base.img" "$work/cut.img"
  status=0
  next=0
  [ -z "$previous" ] || next=1
  if [ "$cut" = last ]; then
    boot "$next" none || status=$?
    what=""
  elif [ "${cut#t}" != "$cut" ]; then
    UML_CUT_AFTER=${cut#t} boot "$next" 0 || status=$?
    what="at $((${cut#t} / 10)).$((${cut#t} % 10)) s"
  else
    boot "$next" "$cut" || status=$?
    what="after call $cut of $total"
  fi
  case $status in
    125 | 126) ;;
    0) [ "$cut" = last ] || what="$what (the run ended first)" ;;
    *) fail "the boot for the cut $what ended with $status: $(tail -n 20 "$work/uml.log")" ;;
  esac
  [ -z "$previous" ] || check_previous "$previous"
  previous=$what
done

echo "FAT$bits, $form, $case_name: $cut_count power cuts ($total durable calls in a run) in $((SECONDS - started)) s;" \
  "fsck.fat repaired $repaired; $registry damaged or lost: $lost_registry; backups lost: $lost_backup;" \
  "runs not finished: $not_finished; restores that failed: $not_restored"
if [ "${#report[@]}" -gt 0 ]; then
  printf 'FAIL: %s\n' "${report[@]}"
  exit 1
fi
