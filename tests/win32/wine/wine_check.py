#!/usr/bin/env python3
"""Makes Wine run 32-bit Windows programs for the test that calls it, or says
why it cannot.

Debian's wine32 is itself a 32-bit x86 program. Where the kernel runs such
programs, Wine runs as it is. Where it does not (execve gives ENOEXEC), the
test is started again inside a user and mount namespace of its own, in which
binfmt_misc hands 32-bit x86 programs to qemu's user-mode emulator: the
qemu-i386 that tools/qemu-user.sh fetches from bookworm-backports. Linux 6.7
and later give each user namespace its own binfmt_misc, so the machine's own
registrations stay as they are. An emulator the machine has registered itself
is used when it is fast enough (qemu 10 or later; Debian 12's qemu 7.2 takes
about a minute per Wine process), and replaced by the fetched one in the
namespace when it is not.

A test that cannot run exits with SKIP_STATUS and says why: the emulator is
missing, there are no user namespaces, or the kernel has no binfmt_misc of
its own for a namespace.

   wine_check.py                exits 0 when Wine runs here, SKIP_STATUS with the reason when not
   wine_check.py --exec CMD...  runs CMD where Wine runs (inside the namespace if need be)
"""

import errno
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

SKIP_STATUS = 77
_LOADER = "/usr/lib/wine/wine"
_BINFMT = "/proc/sys/fs/binfmt_misc"
_EM_386 = "0300"  # e_machine at byte 18 of an ELF header, little-endian
# Set in the environment of a test that has been placed where Wine runs; its
# value says how ("native", or the emulator's path).
READY = "UINQ_WINE_RUNS"
# The oldest qemu under which Wine starts fast enough for the tests.
FAST_QEMU_MAJOR = 10
# binfmt_misc's entry for 32-bit x86 ELF executables (ET_EXEC and ET_DYN),
# given to the kernel as escapes. Flag F opens the emulator now, so the
# namespace's programs need not see its path.
_MAGIC = r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00"
_MASK = r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
_ENTRY = "uinq76-i386"


def fetched_emulator():
    """Where tools/qemu-user.sh keeps qemu-i386."""
    base = os.environ.get("UINQ_QEMU_USER")
    if not base:
        cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
        base = os.path.join(cache, "uinq76", "qemu-user")
    return Path(base) / "qemu-i386"


def registered_emulator():
    """The emulator the machine's binfmt_misc runs 32-bit x86 programs with, or None."""
    try:
        names = os.listdir(_BINFMT)
    except OSError:
        return None
    for name in names:
        if name in ("register", "status"):
            continue
        try:
            with open(os.path.join(_BINFMT, name), encoding="ascii", errors="replace") as entry:
                text = entry.read()
        except OSError:
            continue
        magic = re.search(r"^magic ([0-9a-f]+)", text, re.M)
        interpreter = re.search(r"^interpreter (\S+)", text, re.M)
        if (text.startswith("enabled") and magic and interpreter
                and magic.group(1).startswith("7f454c4601")
                and magic.group(1)[36:40] in ("", _EM_386)):
            return interpreter.group(1)
    return None


def qemu_version(emulator):
    """(major, minor) of a qemu user-mode emulator, or None when it says none."""
    try:
        out = subprocess.run([emulator, "--version"], capture_output=True, timeout=30,
                             check=False).stdout.decode("ascii", "replace")
    except (OSError, subprocess.TimeoutExpired):
        return None
    found = re.search(r"qemu-\S+ version (\d+)\.(\d+)", out)
    return (int(found.group(1)), int(found.group(2))) if found else None


def _loader():
    return _LOADER if os.path.exists(_LOADER) else shutil.which("wine")


def _runs_natively(loader):
    try:
        subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return False
        raise
    return True


def _namespace_or_reason(why):
    """The fetched emulator's path when a namespace can run it, else the
    reason the tests cannot run, starting with `why`."""
    emulator = fetched_emulator()
    if not emulator.exists():
        return None, (f"{why}, and qemu-i386 is not in {emulator.parent} "
                      "(bash tools/qemu-user.sh fetches it)")
    version = qemu_version(str(emulator))
    if version is None or version[0] < FAST_QEMU_MAJOR:
        return None, (f"{why}, and {emulator} is not qemu {FAST_QEMU_MAJOR} or later "
                      "(bash tools/qemu-user.sh --force fetches it again)")
    probe = subprocess.run(["unshare", "--user", "--map-root-user", "--mount", "true"],
                           capture_output=True, timeout=30, check=False)
    if probe.returncode != 0:
        error = probe.stderr.decode("utf-8", "replace").strip()
        return None, f"{why}, and this machine gives no user namespace to run qemu in ({error})"
    return str(emulator), None


def decide():
    """How Wine runs here: ("native", note), ("namespace", emulator path),
    or ("skip", reason)."""
    loader = _loader()
    if not loader:
        return "native", "Wine is not installed"  # The test itself reports it.
    if _runs_natively(loader):
        emulator = registered_emulator()
        if emulator is None:
            return "native", "Wine runs natively"
        version = qemu_version(emulator)
        if version is not None and version[0] >= FAST_QEMU_MAJOR:
            return "native", f"Wine runs under {emulator}, qemu {version[0]}.{version[1]}"
        what = f"qemu {version[0]}.{version[1]}" if version else "not a qemu that says its version"
        emulator_path, reason = _namespace_or_reason(
            f"Wine runs here only under {emulator} ({what}), too slow for these tests")
        return ("namespace", emulator_path) if emulator_path else ("skip", reason)
    emulator_path, reason = _namespace_or_reason(
        f"this machine's kernel does not run 32-bit x86 programs ({loader}: Exec format error)")
    return ("namespace", emulator_path) if emulator_path else ("skip", reason)


def _skip(reason):
    print(f"SKIPPED: {reason}", flush=True)
    sys.exit(SKIP_STATUS)


def _register_and_exec(emulator, argv):
    """Inside the new namespace: its own binfmt_misc, qemu-i386 registered
    for 32-bit x86 programs, then argv."""
    mounted = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", _BINFMT],
                             capture_output=True, timeout=30, check=False)
    if mounted.returncode != 0:
        _skip("this machine's kernel does not run 32-bit x86 programs, and gives a user "
              f"namespace no binfmt_misc of its own (Linux {os.uname().release}; 6.7 and "
              f"later do): {mounted.stderr.decode('utf-8', 'replace').strip()}")
    with open(os.path.join(_BINFMT, "register"), "w", encoding="ascii") as register:
        register.write(f":{_ENTRY}:M::{_MAGIC}:{_MASK}:{emulator}:F")
    os.environ[READY] = emulator
    os.execvp(argv[0], argv)


def ensure_wine_runs(argv=None):
    """Returns where Wine runs; otherwise starts argv (by default this
    process's own command line) again inside a namespace where it does, or
    exits with SKIP_STATUS, saying why."""
    if os.environ.get(READY):
        return
    if argv is None:
        argv = [sys.executable, *sys.argv]
    mode, detail = decide()
    if mode == "skip":
        _skip(detail)
    if mode == "native":
        os.environ[READY] = "native"
        print(f"Wine: {detail}", flush=True)
        return
    print(f"Wine: under {detail} in a user namespace of its own", flush=True)
    sys.stdout.flush()
    os.execvp("unshare", ["unshare", "--user", "--map-root-user", "--mount", "--",
                          sys.executable, os.path.abspath(__file__), "--inside", detail, "--",
                          *argv])


def skip_unless_wine_runs():
    """For the tests' own scripts: the same as ensure_wine_runs()."""
    ensure_wine_runs()


def main(argv):
    if len(argv) >= 4 and argv[1] == "--inside" and argv[3] == "--":
        _register_and_exec(argv[2], argv[4:])
    if len(argv) >= 3 and argv[1] == "--exec":
        ensure_wine_runs(argv[2:])
        os.execvp(argv[2], argv[2:])
    if len(argv) == 1:
        mode, detail = decide()
        if mode == "skip":
            _skip(detail)
        print(f"Wine: {detail}" if mode == "native" else
              f"Wine: runs under {detail} in a user namespace of its own")
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
