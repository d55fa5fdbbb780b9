#!/usr/bin/env python3
"""Starts or stops the Wine session that the Wine tests of one run share:
   wine_session.py start STATE_DIR RECORDER_EXE
   wine_session.py stop STATE_DIR
"""

import sys
import time

import wine_check
import winelab


def main(argv):
    if len(argv) == 4 and argv[1] == "start":
        wine_check.skip_unless_wine_runs()
        began = time.monotonic()
        try:
            session = winelab.start_session(argv[2], argv[3])
        except Exception:
            winelab.stop_session(argv[2])
            raise
        print(f"Wine session on display {session['display']}, template made in "
              f"{time.monotonic() - began:.1f} s")
        return 0
    if len(argv) == 3 and argv[1] == "stop":
        # Wine's server is ended where Wine runs; where it cannot run, no
        # server was started and only the X server is left to end.
        try:
            wine_check.skip_unless_wine_runs()
        except SystemExit:
            pass
        winelab.stop_session(argv[2])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
