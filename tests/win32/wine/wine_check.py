#!/usr/bin/env python3
"""Whether Wine can run 32-bit Windows programs on this machine.

Debian's wine32 is itself a 32-bit x86 program. A kernel built or booted
without 32-bit emulation refuses to start it (execve gives ENOEXEC), and then
no test here can run uinq76.exe. Such tests exit with SKIP_STATUS and say why,
so that the static checks of the executable still count.

   wine_check.py      exits 0 when Wine runs, SKIP_STATUS with the reason when it cannot
"""

import os
import shutil
import subprocess
import sys

SKIP_STATUS = 77
_LOADER = "/usr/lib/wine/wine"


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
