#!/usr/bin/env python3
"""Whether Wine can run 32-bit Windows programs on this machine.

Debian's wine32 is itself a 32-bit x86 program. A kernel built or booted
without 32-bit emulation refuses to start it (execve gives ENOEXEC), and then
no test here can run uinq76.exe. Where such a kernel hands 32-bit programs to
a user-mode emulator instead (qemu-i386 registered with binfmt_misc), Wine
does run, but each of its processes takes about a minute to start, and the
tests would not end within their time limits; they are skipped there too
unless UINQ_WINE_UNDER_EMULATION=1 asks for them. Skipped tests exit with
SKIP_STATUS and say why, so that the static checks of the executable still
count.

   wine_check.py      exits 0 when Wine runs, SKIP_STATUS with the reason when it cannot
"""

import os
import re
import shutil
import subprocess
import sys

SKIP_STATUS = 77
_LOADER = "/usr/lib/wine/wine"


_BINFMT = "/proc/sys/fs/binfmt_misc"
_EM_386 = "0300"  # e_machine at byte 18 of an ELF header, little-endian


def i386_emulator():
    """The emulator binfmt_misc runs 32-bit x86 programs with, or None."""
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
                and magic.group(1).startswith("7f454c4601") and magic.group(1)[36:40] == _EM_386):
            return interpreter.group(1)
    return None


def reason_wine_cannot_run():
    """Why Wine cannot run here, or None when it can."""
    loader = _LOADER if os.path.exists(_LOADER) else shutil.which("wine")
    if not loader:
        return None  # Let the test itself report the missing package.
    try:
        subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)
    except OSError as error:
        if error.errno == 8:  # ENOEXEC
            return (f"this machine's kernel does not run 32-bit x86 programs ({loader}: "
                    f"{error.strerror}), so Wine cannot run uinq76.exe here")
        raise
    emulator = i386_emulator()
    if emulator and os.environ.get("UINQ_WINE_UNDER_EMULATION") != "1":
        return (f"Wine runs here only under user-mode emulation ({emulator}, registered with "
                "binfmt_misc), where each Wine process takes about a minute to start and these "
                "tests would not end in their time; UINQ_WINE_UNDER_EMULATION=1 runs them anyway")
    return None


def skip_unless_wine_runs():
    """Exits with SKIP_STATUS, saying why, when Wine cannot run here."""
    reason = reason_wine_cannot_run()
    if reason:
        print(f"SKIPPED: {reason}", flush=True)
        sys.exit(SKIP_STATUS)


if __name__ == "__main__":
    skip_unless_wine_runs()
    sys.exit(0)
