"""Wine as a test bed for uinq76.exe: one headless X server and one prefix
template per test run, and a fresh prefix per machine copied from it.

The template is a 32-bit prefix in Windows 95 mode, with Wine's
session-ending program replaced by a recorder (see recorder/). Copies link
the large, never-written system files to the template and copy the rest, so
a machine costs a fraction of a second instead of half a gigabyte.

Every wait has a deadline. Every Wine process of a prefix is ended with
`wineserver -k` when the prefix is closed, and the X server when the session
is stopped, also after a failure.
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SESSION_FILE = "session.json"
# Wine's own prompts for Mono and Gecko, and its menu entries, stay off.
DLL_OVERRIDES = "mscoree,mshtml,winemenubuilder.exe="
# The recorder is native; Wine prefers its builtin wineboot otherwise. Set only
# for the program under test, after the prefix's session has started, because
# the session's start runs wineboot too.
RECORDER_OVERRIDES = DLL_OVERRIDES + ";wineboot.exe=n"
# Files of the template that Wine only reads; everything else is copied.
LINKED_DIRS = ("drive_c/windows/system32",)
# A session never outlives this, even if nobody stops it.
SESSION_LIFETIME_S = 1800


def _base_env(display, prefix):
    env = dict(os.environ)
    env.update(
        {
            "WINEPREFIX": str(prefix),
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": DLL_OVERRIDES,
            "DISPLAY": display,
            # A known code page (1252) whatever the host's locale is.
            "LC_ALL": "C.UTF-8",
        }
    )
    env.pop("WAYLAND_DISPLAY", None)
    return env


def _run(cmd, env, timeout, what):
    # Output goes to a file, not a pipe: the session's background processes
    # (winedevice, services) inherit it and would keep a pipe open for good.
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise RuntimeError(f"{what}: no end after {timeout} s") from None
        out.seek(0)
        output = out.read()
    if code != 0:
        text = output.decode("utf-8", "replace")[-2000:]
        raise RuntimeError(f"{what}: exit {code}\n{text}")
    return output


def windows_path(path):
    """The Z: path under which Wine sees a host path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def start_session(state_dir, recorder_exe):
    """Starts the X server and builds the prefix template in state_dir."""
    state_dir = Path(state_dir)
    if state_dir.exists():
        stop_session(state_dir)
    state_dir.mkdir(parents=True)
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["timeout", str(SESSION_LIFETIME_S), "Xvfb", "-displayfd", str(write_fd),
         "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
        pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, start_new_session=True,
    )
    os.close(write_fd)
    session = {"xvfb_pid": xvfb.pid, "display": None, "template": str(state_dir / "template")}
    (state_dir / SESSION_FILE).write_text(json.dumps(session))
    with os.fdopen(read_fd) as pipe:
        number = pipe.readline().strip()  # Xvfb writes it once it listens
    if not number:
        raise RuntimeError("Xvfb did not start")
    session["display"] = ":" + number
    (state_dir / SESSION_FILE).write_text(json.dumps(session))

    template = Path(session["template"])
    env = _base_env(session["display"], template)
    try:
        _run(["wineboot", "-i"], env, 180, "wineboot -i")
        _run(["winecfg", "-v", "win95"], env, 60, "winecfg -v win95")
        # Xvfb has no window manager, and Wine waits up to 2 s for one to
        # withdraw every managed window that is hidden (each box, the dialog).
        # Unmanaged windows close at once.
        _run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
              "/d", "N", "/f"], env, 60, "reg add Managed=N")
        _run(["wineserver", "-w"], env, 60, "wineserver -w")
    finally:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.copyfile(recorder_exe, template / "drive_c/windows/system32/wineboot.exe")
    return session


def stop_session(state_dir):
    """Ends every Wine server of the session's prefixes and the X server."""
    state_dir = Path(state_dir)
    path = state_dir / SESSION_FILE
    if path.exists():
        session = json.loads(path.read_text())
        for prefix in state_dir.glob("*"):
            if (prefix / "system.reg").exists():
                env = _base_env(session.get("display") or ":0", prefix)
                subprocess.run(["wineserver", "-k"], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            os.killpg(session["xvfb_pid"], signal.SIGTERM)
        except ProcessLookupError:
            pass
    shutil.rmtree(state_dir, ignore_errors=True)


def load_session(state_dir):
    path = Path(state_dir) / SESSION_FILE
    if not path.exists():
        raise RuntimeError(f"no Wine session in {state_dir}: run the session set-up first")
    session = json.loads(path.read_text())
    try:
        os.kill(session["xvfb_pid"], 0)
    except ProcessLookupError:
        raise RuntimeError(f"the X server of the Wine session in {state_dir} has ended") from None
    return session


class Prefix:
    """A fresh prefix copied from the session's template; a context manager
    that ends its Wine processes and removes it on leaving."""

    def __init__(self, state_dir, name):
        self.session = load_session(state_dir)
        self.path = Path(state_dir) / name
        self.shutdown_log = self.path / "shutdown-requests.log"
        self._started = False

    def __enter__(self):
        if self.path.exists():
            shutil.rmtree(self.path)
        _copy_template(Path(self.session["template"]), self.path)
        return self

    def __exit__(self, *exc):
        self.close()
        shutil.rmtree(self.path, ignore_errors=True)
        return False

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def env(self, recorder=False):
        env = _base_env(self.session["display"], self.path)
        env["UINQ_SHUTDOWN_LOG"] = windows_path(self.shutdown_log)
        if recorder:
            env["WINEDLLOVERRIDES"] = RECORDER_OVERRIDES
        return env

    def start(self):
        """Starts the prefix's session (wineboot's start-up work included) and
        keeps its server until close(), so later programs join it."""
        if not self._started:
            # The server outlives each program by 30 s, so that the programs
            # of one machine share a session, and still ends by itself if a
            # test dies without closing the prefix.
            for attempt in (1, 2):
                _run(["wineserver", "-p30"], self.env(), 30, "wineserver -p30")
                try:
                    _run(["wine", "cmd", "/c", "exit"], self.env(), 120, "session start")
                    break
                except RuntimeError as error:
                    # Under emulation on a busy machine a session start has
                    # been seen to hang once; a second one is tried from a
                    # stopped server, and a second failure is reported.
                    if attempt == 2:
                        raise
                    print(f"{self.path.name}: {error}; starting the session again", flush=True)
                    subprocess.run(["wineserver", "-k"], env=self.env(), timeout=30,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._started = True

    def wine(self, args, timeout=60, recorder=False, what=None):
        """Runs a Windows program in the prefix; returns its standard output."""
        self.start()
        return _run(["wine", *args], self.env(recorder), timeout, what or " ".join(args))

    def set_windows_version(self, version):
        """Makes the prefix's later programs see another Windows version
        (winecfg's names: win95, winxp, win7...)."""
        self.wine(["reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f"],
                  what=f"Windows version {version}")

    def import_registry(self, reg_file):
        # regedit takes a Unix path for a switch, so it gets the Z: path. It
        # always exits 0; the caller compares what arrived.
        self.wine(["regedit", "/s", windows_path(reg_file)], what=f"regedit /s {reg_file}")

    def close(self):
        if self.path.exists():
            subprocess.run(["wineserver", "-k"], env=self.env(), timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._started = False


def _copy_template(template, target):
    linked = [template / d for d in LINKED_DIRS]
    for root, dirs, files in os.walk(template):
        root = Path(root)
        out = target / root.relative_to(template)
        out.mkdir(exist_ok=True)
        shutil.copystat(root, out)
        link = any(root == d or d in root.parents for d in linked)
        for name in list(dirs):
            src = root / name
            if src.is_symlink():
                os.symlink(os.readlink(src), out / name)
                dirs.remove(name)
        for name in files:
            src = root / name
            if src.is_symlink():
                os.symlink(os.readlink(src), out / name)
            elif link:
                os.link(src, out / name)
            else:
                shutil.copy2(src, out / name)


def exit_cleanly_on_sigterm():
    """Turns SIGTERM (a test run being stopped) into an exit that runs every
    `with` block and finally clause, so each prefix's Wine server is ended."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def wait_until(condition, timeout, what, interval=0.05):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)
