#!/usr/bin/env bash
# Backups and cut-off runs left by an earlier version of the program (commit
# ff468c6, whose manifests fingerprint the registry by its REGEDIT4 text), on
# a machine directory and on a Windows 95 drive C:. previous_runs.tar.gz
# holds, for each form, the demo machine before the run, after a whole run,
# and after a run cut off (SIGINT) once its first step was done, each with
# the backup that version wrote. This version must restore the whole run to
# the machine as it was, and finish the cut-off run to the machine a whole run
# leaves (SYSTEM.DAT holding the same registry: a file written in two runs
# places its records otherwise), whose backup then restores it too.
#   previous_runs_test.sh UINQ76 FIXTURES.tar.gz UINQ76-CREG
set -euo pipefail
program=$1
fixtures=$2
creg=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xzf "$fixtures" -C "$work"

fail() {
  echo "FAIL: $*"
  exit 1
}

# Runs the program on machine `dir` with `input` on its standard input; its
# status in $status, its output in $work/out and $work/err.
run() {
  local dir=$1 input=$2
  shift 2
  status=0
  printf '%b' "$input" |
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$program" --machine "$dir" "$@" \
      >"$work/out" 2>"$work/err" || status=$?
}

# The machine `dir` is `expected`, the backups aside; with `registry_only`,
# SYSTEM.DAT need only hold the same registry.
same_machine() {
  local dir=$1 expected=$2 what=$3 registry_only=${4:-}
  local exclude=()
  if [ -n "$registry_only" ] && [ -f "$dir/WINDOWS/SYSTEM.DAT" ]; then
    exclude=(--exclude=SYSTEM.DAT)
    "$creg" dump "$expected/WINDOWS/SYSTEM.DAT" >"$work/expected.dump"
    "$creg" dump "$dir/WINDOWS/SYSTEM.DAT" >"$work/got.dump"
    cmp -s "$work/expected.dump" "$work/got.dump" || fail "$what: SYSTEM.DAT holds another registry"
  fi
  diff -r --exclude=backups "${exclude[@]}" "$expected" "$dir" >"$work/diff" ||
    fail "$what: the machine differs: $(head -n 20 "$work/diff")"
}

restore_newest() {
  local dir=$1 what=$2
  local backup
  backup=$(ls "$dir/backups" | tail -n 1)
  run "$dir" '' --restore "$backup"
  [ "$status" -eq 0 ] || fail "$what: the restore ended with status $status: $(cat "$work/err")"
}

for form in machine drive; do
  before=$work/$form-before
  uninstalled=$work/$form-uninstalled
  cut_off=$work/$form-cut-off

  # The cut-off run is offered and finished where it stopped.
  run "$cut_off" 'y\n\n' --ui text
  [ "$status" -eq 0 ] || fail "$form: finishing ended with status $status: $(cat "$work/err")"
  grep -q 'was interrupted' "$work/out" ||
    fail "$form: the cut-off run was not offered: $(cat "$work/out") $(cat "$work/err")"
  grep -q 'Progress: 100%' "$work/out" || fail "$form: the run was not finished: $(cat "$work/out")"
  same_machine "$cut_off" "$uninstalled" "$form, the finished run" registry
  grep -q '^finished$' "$cut_off"/backups/*/manifest.txt || fail "$form: not recorded as finished"

  # Both backups put the machine back as it was.
  restore_newest "$uninstalled" "$form, the whole run"
  same_machine "$uninstalled" "$before" "$form, the whole run restored"
  restore_newest "$cut_off" "$form, the finished run"
  same_machine "$cut_off" "$before" "$form, the finished run restored"
done
echo "previous runs: restored and finished on both forms"
