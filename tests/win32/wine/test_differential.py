#!/usr/bin/env python3
"""The differential test: every corpus machine is run by the Linux build (text
mode, answering Yes and OK) and by uinq76.exe under Wine on an identical copy
(the registry imported with regedit, the drives copied into the prefix).
Afterwards the registry subtrees the program touches and the drives must be
the same. Differences that come from Wine itself, not from the program or the
stand-ins, are taken out before the comparison; each is explained where it is
handled (harness.TOUCHED, regmodel, machines, corpus).

Machines run two at a time, each in its own prefix; the corpus can be cut
down with UINQ_CORPUS=name,name.

With --nt the prefixes answer as Windows XP instead, which refuses what
Windows 95 allows (deleting a value through a key opened only for reading);
a few machines that cover every kind of removal must still end the same."""

import os
import shutil
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import corpus
import harness
import machines
import regmodel
import wine_check
import winelab

PARALLEL = 2
# Every removal the program makes: key trees, values, driver-matched entries,
# the registration by title, INF files and the startup-file line.
NT_CORPUS = ("demo", "value names in capitals", "driver values of other types",
             "title of 79 characters", "inf files marked and unmarked")


def import_machine(config, prefix, reg_file, wanted):
    """Imports the machine's registry into the prefix and checks that every key
    of the compared subtrees arrived: regedit always exits 0, and a busy
    machine has been seen to lose an import. One more import is tried before
    the missing keys are returned."""
    missing = []
    for _ in range(2):
        prefix.import_registry(reg_file)
        arrived = harness.dump_registry(config, prefix)
        missing = [key.path for folded, key in wanted.items() if folded not in arrived]
        if not missing:
            break
    return missing


class FreshDump:
    """The compared subtrees of a fresh prefix, read once per run: every
    prefix is a copy of the same template, and a Wine process less per
    machine counts where Wine runs emulated."""

    def __init__(self):
        self._lock = threading.Lock()
        self._dump = None

    def get(self, config, prefix):
        with self._lock:
            if self._dump is None:
                self._dump = harness.dump_registry(config, prefix)
            return self._dump


def run_machine(config, name, index, work, fresh_dump, windows=None):
    """Returns the lines that say how the two runs differ, and the seconds the
    Wine side took."""
    base = work / f"m{index}"
    source = base / "corpus"
    config.demo_machine(source)
    corpus.make(name, source)
    linux = base / "linux"
    shutil.copytree(source, linux, symlinks=True)
    code, output = machines.run_linux(config.linux_program, linux)
    # The Linux program ends with 1 when it names changes to the machine's
    # files that failed (a read-only file it may not delete or replace); the
    # dialog and the machine are the same as with 0, and are compared below.
    failures_only = code == 1 and all(
        line.startswith("uinq76: could not change ")
        for line in output.splitlines() if line.startswith("uinq76: ")
        and not line.startswith(("uinq76: backup written", "uinq76: the machine's shutdown")))
    if code != 0 and not failures_only:
        return [f"Linux build: exit {code}\n{output}"], 0.0
    before = regmodel.subtree(
        regmodel.parse_regedit4((source / "registry.reg").read_bytes(), "corpus"), harness.TOUCHED)
    after_linux = regmodel.subtree(
        regmodel.parse_regedit4((linux / "registry.reg").read_bytes(), "Linux"), harness.TOUCHED)

    template = Path(winelab.load_session(config.state_dir)["template"])
    began = time.monotonic()
    with winelab.Prefix(config.state_dir, f"prefix-m{index}") as prefix:
        if windows is not None:
            prefix.set_windows_version(windows)
        machines.install(source, prefix)
        fresh = fresh_dump.get(config, prefix)
        missing = import_machine(config, prefix, source / "registry.reg", before)
        if missing:
            return [f"the registry import did not arrive under Wine: {len(missing)} keys "
                    f"missing, the first [{missing[0]}]"], time.monotonic() - began
        harness.run_driver(config, prefix, ["yes", "ok"])
        after_wine = harness.dump_registry(config, prefix)
        prefix.close()
        wine_files, changed = machines.prefix_drives(
            prefix, machines.snapshot(template / "drive_c", "drive_c/"), source)
    wine_registry, lost = regmodel.without_template(after_wine, fresh, before)
    lines = regmodel.differences(after_linux, wine_registry) + lost + changed
    lines += machines.drive_differences(machines.machine_drives(linux), wine_files)
    return lines, time.monotonic() - began


def main(argv):
    config = harness.Config.from_env()
    names = list(corpus.MACHINES)
    windows = None
    if argv[1:] == ["--nt"]:
        windows = "winxp"
        names = list(NT_CORPUS)
    elif argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    wanted = os.environ.get("UINQ_CORPUS")
    if wanted:
        names = [n for n in names if n in wanted.split(",")]
    began = time.monotonic()
    failed = 0
    fresh = FreshDump()
    with tempfile.TemporaryDirectory(dir=config.state_dir) as tmp:
        with ThreadPoolExecutor(PARALLEL) as pool:
            futures = [
                (name, pool.submit(run_machine, config, name, i, Path(tmp), fresh, windows))
                for i, name in enumerate(names)
            ]
            for name, future in futures:
                seconds = 0.0
                try:
                    lines, seconds = future.result(timeout=300)
                except Exception as error:  # a run that broke is a failure too
                    lines = [f"{type(error).__name__}: {error}"]
                status = "same" if not lines else "DIFFERENT"
                print(f"{name}: {status} (Wine side {seconds:.1f} s)", flush=True)
                for line in lines:
                    print("    " + line, flush=True)
                failed += bool(lines)
    mode = " as Windows XP" if windows else ""
    print(f"{len(names)} machines{mode}, {failed} different, {time.monotonic() - began:.0f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    wine_check.skip_unless_wine_runs()
    winelab.exit_cleanly_on_sigterm()
    sys.exit(main(sys.argv))
