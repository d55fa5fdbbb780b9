"""What the Wine tests share: where the programs are, demo machines, runs of
uinq76.exe through the driver, and registry dumps."""

import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

import machines
import regmodel
import wine_check
import winelab

# The subtrees the program reads or changes. HKEY_CURRENT_CONFIG is compared
# on its own: Wine keeps it as a link into
# HKLM\System\CurrentControlSet\Hardware Profiles\Current, which is not listed
# here, so nothing is compared twice. Only its Enum is: Wine's display driver
# writes its video settings below HKCC\System when the first window opens.
TOUCHED = (
    "HKLM\\Enum",
    "HKLM\\Config",
    "HKLM\\System\\CurrentControlSet\\Services\\Class",
    "HKLM\\System\\CurrentControlSet\\control\\InstalledFiles",
    "HKLM\\System\\CurrentControlSet\\control\\SessionManager",
    "HKLM\\System\\CurrentControlSet\\control\\MediaResources",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKLM\\SOFTWARE\\Vesk",
    "HKCC\\Enum",
)


def _need(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set; run this test through ctest")
    return value


@dataclass
class Config:
    state_dir: Path
    exe: Path
    driver: Path
    regdump: Path
    linux_build: Path

    @classmethod
    def from_env(cls):
        config = cls(
            Path(_need("UINQ_WINE_STATE")),
            Path(_need("UINQ_WIN32_EXE")),
            Path(_need("UINQ_DRIVER_EXE")),
            Path(_need("UINQ_REGDUMP_EXE")),
            Path(_need("UINQ_LINUX_BUILD")),
        )
        if not config.linux_program.exists():
            raise RuntimeError(
                f"{config.linux_program} is missing: these tests need the Linux build of the "
                "same checkout (cmake --preset default, or set UINQ_LINUX_BUILD_DIR)")
        return config

    @property
    def linux_program(self):
        return self.linux_build / "app" / "uinq76"

    def demo_machine(self, target):
        subprocess.run(
            [str(self.linux_build / "tools" / "demo" / "uinq76-demo-machine"), str(target)],
            check=True, capture_output=True, timeout=30,
        )
        machines.adopt_case(target, Path(winelab.load_session(self.state_dir)["template"]) / "drive_c")


@dataclass
class Event:
    kind: str
    fields: list


def run_driver(config, prefix, answers, escape_at_bar=None, timeout=60):
    """Runs uinq76.exe under the driver; returns the events it reported."""
    args = [winelab.windows_path(config.driver)]
    if os.environ.get(wine_check.READY, "native") != "native":
        # Under emulation on a busy machine a window can take well over the
        # driver's usual 20 s to appear.
        args += ["--idle-timeout", "60000"]
        timeout = max(timeout, 150)
    for answer in answers:
        args += ["--answer", answer]
    if escape_at_bar is not None:
        args += ["--escape-at-bar", str(escape_at_bar)]
    args.append(winelab.windows_path(config.exe))
    out = prefix.wine(args, timeout=timeout, recorder=True, what="uinq76.exe under the driver")
    events = []
    for line in out.decode("latin-1").splitlines():
        kind, *fields = line.rstrip("\r").split("\t")
        events.append(Event(kind, fields))
    errors = [e for e in events if e.kind == "error"]
    if errors:
        raise AssertionError(f"driver: {errors[0].fields}\n{out.decode('latin-1')}")
    return events


def dump_registry(config, prefix):
    out = prefix.wine([winelab.windows_path(config.regdump), *TOUCHED], what="regdump")
    return regmodel.subtree(regmodel.parse_regdump(out.decode("latin-1"), "regdump"), TOUCHED)


def shutdown_requests(prefix):
    if not prefix.shutdown_log.exists():
        return []
    return [line.strip() for line in prefix.shutdown_log.read_text("latin-1").splitlines()]
