# Runs jobs on a disk image under user-mode Linux (Debian's user-mode-linux):
# the kernel's own FAT driver on the image, without root, KVM or a loop
# device. The host's file system is the machine's root (hostfs), so the
# program built here runs inside with its own libraries; the images are its
# block devices (ubd0=, ubd1=; an MBR image's partitions are /dev/ubda1, ...).
# Sourced by the FAT tests; needs $UML_WORK, a folder for its files.

uml_kernel=${UML_KERNEL:-$(command -v linux.uml || true)}
uml_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Why user-mode Linux cannot run here, or nothing when it can.
uml_unavailable() {
  [ -n "$uml_kernel" ] || {
    echo "user-mode Linux is not installed (package user-mode-linux)"
    return
  }
  command -v insmod >/dev/null || [ -x /usr/sbin/insmod ] || [ -x /sbin/insmod ] || {
    echo "insmod is not installed (package kmod)"
    return
  }
  local version
  version=$("$uml_kernel" --version 2>/dev/null | tail -n 1)
  [ -e "/usr/lib/uml/modules/$version/kernel/fs/fat" ] ||
    echo "user-mode Linux $version has no FAT modules in /usr/lib/uml/modules"
}

# uml_run SECONDS JOB DISK...: boots with the disks as /dev/ubda, /dev/ubdb,
# ..., runs the shell script JOB inside
# (as root, on the host's files), powers off. The job's output is in
# $UML_WORK/uml.log; returns the job's status, or 124 when the machine
# did not end within SECONDS (then it is killed), or 125 when it ended
# without the job finishing (a power cut the job made itself, say), or 126
# after the cut UML_CUT_AFTER asked for.
uml_run() {
  local seconds=$1 job=$2
  shift 2
  local status_file="$UML_WORK/uml.status"
  rm -f "$status_file"
  : >"$UML_WORK/uml.log"
  local args=(mem=192M rootfstype=hostfs rootflags=/ rw quiet "init=$uml_here/uml_init.sh"
    con=null "uml_job=$job" "uml_log=$UML_WORK/uml.log" "uml_status=$status_file")
  local number=0 disk
  for disk in "$@"; do
    args+=("ubd$number=$disk")
    number=$((number + 1))
  done
  # Its own process group, so that a kill takes every process of the machine.
  setsid "$uml_kernel" "${args[@]}" </dev/null >"$UML_WORK/uml.console" 2>&1 &
  local pid=$!
  local waited=0 cut_at=""
  rm -f "$UML_WORK/started"
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$waited" -ge $((seconds * 10)) ]; then
      uml_kill "$pid"
      return 124
    fi
    # UML_CUT_AFTER: a power cut that many tenths of a second after the job
    # touched $UML_WORK/started.
    if [ -n "${UML_CUT_AFTER:-}" ]; then
      if [ -z "$cut_at" ] && [ -e "$UML_WORK/started" ]; then cut_at=$((waited + UML_CUT_AFTER)); fi
      if [ -n "$cut_at" ] && [ "$waited" -ge "$cut_at" ]; then
        uml_kill "$pid"
        return 126
      fi
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$pid" 2>/dev/null || true
  [ -s "$status_file" ] || return 125
  return "$(cat "$status_file")"
}

# Kills a machine started by uml_run at once: a power cut.
uml_kill() {
  kill -KILL -- "-$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
