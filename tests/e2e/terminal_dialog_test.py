#!/usr/bin/env python3
"""The program in its drawn text mode, run on a pseudo-terminal that a pyte
screen reads: the confirmation box, the progress dialog at each step, the
keys of a Windows dialog, a resize, a terminal too small, colour and escape
codes from the machine. Each stage's screen is saved as a text capture.

    terminal_dialog_test.py --program UINQ76 --demo-machine GENERATOR
                            --captures DIR [unittest arguments]
"""
import argparse
import fcntl
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import pyte

ARGS = None
# Generous for a sanitizer build on a busy machine; a failing wait ends there.
DEADLINE = 15.0

CONFIRM = "Do you really want to uninstall this software?"
NOT_INSTALLED = "The software is not properly installed."
NOTICE = "The uninstaller need to shut down Windows"
TITLE_LINE = '"Title"="Kivra Q76 Audio Drivers"'
PRODUCT_KEY = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]"


class Machine:
    """A fresh demo machine in a temporary directory."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="uinq76-term-")
        self.dir = os.path.join(self.root, "machine")
        subprocess.run([ARGS.demo_machine, self.dir], check=True, stdout=subprocess.DEVNULL)

    def path(self, relative):
        return os.path.join(self.dir, relative)

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def replace_in_registry(self, old, new):
        text = self.read("registry.reg")
        assert old.encode("latin-1") in text, old
        with open(self.path("registry.reg"), "wb") as f:
            f.write(text.replace(old.encode("latin-1"), new.encode("latin-1"), 1))

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


class Terminal:
    """The program on a pseudo-terminal of a given size, its output fed to a
    pyte screen."""

    def __init__(self, name, args, cols=80, rows=24, env=None, ignore_hangup=False):
        self.name = name
        self.stage = 0
        # The captures of an earlier run of the same case go.
        if os.path.isdir(ARGS.captures):
            for old in os.listdir(ARGS.captures):
                if old.startswith(name + "-"):
                    os.remove(os.path.join(ARGS.captures, old))
        self.screen = pyte.Screen(cols, rows)
        self.stream = pyte.ByteStream(self.screen)
        self.raw = b""
        self.master, slave = os.openpty()
        self._set_size(slave, cols, rows)
        environment = dict(os.environ)
        # Line drawing as Unicode characters, which the pyte screen reads.
        environment.update({"TERM": "xterm-256color", "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8",
                            "NCURSES_NO_UTF8_ACS": "1"})
        environment.pop("NO_COLOR", None)
        for key in ("DISPLAY", "WAYLAND_DISPLAY"):
            environment.pop(key, None)
        environment.update(env or {})

        def controlling_terminal():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            if ignore_hangup:  # as under nohup
                signal.signal(signal.SIGHUP, signal.SIG_IGN)

        self.process = subprocess.Popen(
            [ARGS.program] + args, stdin=slave, stdout=slave, stderr=slave, env=environment,
            start_new_session=True, preexec_fn=controlling_terminal, close_fds=True)
        os.close(slave)

    @staticmethod
    def _set_size(fd, cols, rows):
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))

    def text(self):
        return "\n".join(self.screen.display)

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.master, 65536)
        except OSError:  # the program has ended and closed the terminal
            data = b""
        if not data:
            return False
        self.raw += data
        self.stream.feed(data)
        return True

    def wait_for(self, what, message):
        """Reads output until `what` (a text or a predicate on the screen)
        holds; fails with the screen after DEADLINE seconds."""
        test = what if callable(what) else (lambda: what in self.text())

        def holds():
            try:
                return test()
            except AssertionError:  # a screen caught halfway through a picture
                return False

        end = time.monotonic() + DEADLINE
        while not holds():
            if time.monotonic() > end:
                self.capture("failed")
                raise AssertionError(f"{message}; the screen:\n{self.text()}")
            self._read(0.05)

    def settle(self, seconds):
        """Reads output for a while, to see that nothing else happens."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self._read(0.02)

    def send(self, keys):
        os.write(self.master, keys.encode("latin-1") if isinstance(keys, str) else keys)

    def resize(self, cols, rows):
        self._set_size(self.master, cols, rows)
        self.screen.resize(rows, cols)
        os.kill(self.process.pid, signal.SIGWINCH)

    def capture(self, stage):
        """Saves the screen as text, as the window's tests save screenshots."""
        self.stage += 1
        os.makedirs(ARGS.captures, exist_ok=True)
        name = f"{self.name}-{self.stage:02d}-{stage}.txt"
        with open(os.path.join(ARGS.captures, name), "w", encoding="utf-8") as f:
            f.write("\n".join(line.rstrip() for line in self.screen.display) + "\n")

    def finish(self):
        """Waits for the program to end; returns its exit status and what it
        wrote after it gave the normal screen back."""
        end = time.monotonic() + DEADLINE
        while self.process.poll() is None:
            if time.monotonic() > end:
                self.process.kill()
                self.process.wait()
                raise AssertionError(f"the program did not end; the screen:\n{self.text()}")
            self._read(0.05)
        while self._read(0.05):
            pass
        os.close(self.master)
        after = self.raw.rsplit(b"\x1b[?1049l", 1)
        return self.process.returncode, after[1].decode("utf-8", "replace") if len(after) > 1 else ""

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def cell(self, needle, offset=0):
        """The pyte cell of the first character of `needle` on the screen."""
        for y, line in enumerate(self.screen.display):
            x = line.find(needle)
            if x >= 0:
                return self.screen.buffer[y][x + offset]
        raise AssertionError(f"{needle!r} is not on the screen:\n{self.text()}")

    def position(self, needle):
        for y, line in enumerate(self.screen.display):
            x = line.find(needle)
            if x >= 0:
                return x, y
        raise AssertionError(f"{needle!r} is not on the screen:\n{self.text()}")


class TerminalDialogTest(unittest.TestCase):
    def setUp(self):
        self.machine = Machine()
        self.terminals = []

    def tearDown(self):
        for terminal in self.terminals:
            terminal.kill()
        self.machine.remove()

    def start(self, name, cols=80, rows=24, env=None, ui="text", extra=(), ignore_hangup=False):
        terminal = Terminal(name, [f"--machine={self.machine.dir}", "--ui", ui, *extra], cols,
                            rows, env, ignore_hangup)
        self.terminals.append(terminal)
        return terminal

    def wait_confirm(self, terminal):
        # The buttons come last in the picture.
        terminal.wait_for(lambda: CONFIRM in terminal.text() and "[  No   ]" in terminal.text(),
                          "the confirmation box opens with its buttons")

    def untouched(self, registry, autoexec):
        self.assertEqual(self.machine.read("registry.reg"), registry)
        self.assertEqual(self.machine.read("drive_c/AUTOEXEC.BAT"), autoexec)

    def wait_percent(self, terminal, percent):
        terminal.wait_for(f"{percent}%", f"the bar reaches {percent}%")

    def test_confirmation_box_answered_no(self):
        registry = self.machine.read("registry.reg")
        autoexec = self.machine.read("drive_c/AUTOEXEC.BAT")
        t = self.start("declined")
        self.wait_confirm(t)
        t.capture("confirm")
        self.assertIn("Kivra Q76 Uninstallation", t.text())
        # Yes is the default: highlighted; Tab and the arrows move to No.
        self.assertTrue(t.cell("Yes").reverse)
        self.assertFalse(t.cell("No ").reverse)
        t.send("\t")
        t.wait_for(lambda: t.cell("No ").reverse, "Tab moves to No")
        self.assertFalse(t.cell("Yes").reverse)
        t.send("\x1bOD")  # Left (the keypad form): back to Yes
        t.wait_for(lambda: t.cell("Yes").reverse, "Left moves back to Yes")
        t.send("\t")
        t.wait_for(lambda: t.cell("No ").reverse, "Tab moves to No again")
        t.capture("no-focused")
        t.send("\r")
        status, after = t.finish()
        self.assertEqual(status, 0)
        self.assertIn("Kivra Q76 Uninstallation: declined", after)
        self.assertNotIn("Uninstalling", t.raw.decode("utf-8", "replace"))
        self.untouched(registry, autoexec)

    def test_letters_ctrl_c_and_mouse_answer_no(self):
        registry = self.machine.read("registry.reg")
        autoexec = self.machine.read("drive_c/AUTOEXEC.BAT")
        # N presses No; Ctrl-C answers the box as Esc does, which is No; a
        # click on No presses it.
        for name, press in (("letter-n", lambda t: t.send("N")),
                            ("ctrl-c", lambda t: t.send("\x03")),
                            ("click-no", lambda t: click(t, *t.position("No ")))):
            with self.subTest(name):
                t = self.start(name)
                self.wait_confirm(t)
                press(t)
                status, after = t.finish()
                self.assertEqual(status, 0)
                self.assertIn("declined", after)
                self.untouched(registry, autoexec)

    def test_not_installed(self):
        self.machine.replace_in_registry(TITLE_LINE, '"Name"="x"')
        registry = self.machine.read("registry.reg")
        t = self.start("not-installed")
        self.wait_confirm(t)
        t.send("y")
        t.wait_for(lambda: NOT_INSTALLED in t.text() and "[  OK  ]" in t.text(),
                   "the not-installed box opens")
        t.capture("not-installed")
        self.assertIn("correcly!", t.text())
        self.assertTrue(t.cell("OK").reverse)
        self.assertNotIn("Uninstalling", t.text())
        t.send("\r")
        status, after = t.finish()
        self.assertEqual(status, 0)
        self.assertIn("Kivra Q76 Uninstallation: not installed", after)
        self.assertEqual(self.machine.read("registry.reg"), registry)

    def test_whole_uninstall_step_by_step(self):
        t = self.start("uninstall", extra=["--on-shutdown", "echo the shutdown command ran"])
        self.wait_confirm(t)
        t.send("\r")  # Enter presses the default button, Yes
        # The bar is the last row of the picture.
        t.wait_for(lambda: "Uninstalling Kivra Q76 Audio Drivers..." in t.text() and
                   "0%" in t.text(), "the dialog opens")
        t.capture("step-0")
        text = t.text()
        self.assertIn("Removing the software 'Kivra Q76 Audio", text)
        for item in ("Program folder in Start menu...", "Entries in DOS profiles...",
                     "Hardware nodes...", "Program registry entries...", "Program files..."):
            self.assertIn("[ ] " + item, text)
        # The title bar: white on blue where the terminal has colours.
        self.assertEqual(t.cell("Uninstalling").bg, "blue")

        # The third step opens the shutdown notice over the dialog at once.
        expected = [(60, ["Hardware nodes..."]),
                    (80, ["Hardware nodes...", "Program registry entries..."])]
        for step, (percent, checked) in enumerate(expected, 1):
            self.wait_percent(t, percent)
            t.capture(f"step-{step}")
            for item in checked:
                self.assertIn("[x] " + item, t.text())
            self.assertIn("[ ] Program files...", t.text())
            # Items 1001 and 1002 are never checked, and drawn dimmed.
            self.assertIn("[ ] Program folder in Start menu...", t.text())
            self.assertIn("[ ] Entries in DOS profiles...", t.text())
            # Grey (bright black) where the terminal has the colours.
            self.assertRegex(t.raw, rb"\x1b\[90m(\x1b\[[0-9;]*m)*\[ \] Entries in DOS")

        t.wait_for(lambda: NOTICE in t.text() and "100%" in t.text(),
                   "the shutdown notice opens over the full bar")
        t.capture("shutdown-notice")
        self.assertNotIn(PRODUCT_KEY, self.machine.read("registry.reg").decode("latin-1"))
        # No shutdown before the notice is closed.
        self.assertNotIn(b"shutdown was requested", t.raw)
        t.send("\r")
        status, after = t.finish()
        self.assertEqual(status, 0)
        # The shutdown report, the command's output and the outcome stay on
        # the normal screen, in that order.
        report = after.find("shutdown was requested")
        command = after.find("the shutdown command ran")
        outcome = after.find("Kivra Q76 Uninstallation: uninstalled.")
        self.assertTrue(0 <= report < command < outcome, after)
        self.assertIn(b"UINQ76D.EXE", self.machine.read("drive_c/AUTOEXEC.BAT").upper())

    def test_esc_and_enter_between_ticks_end_the_run(self):
        autoexec = self.machine.read("drive_c/AUTOEXEC.BAT")
        for name, key in (("esc", "\x1b"), ("enter", "\r")):
            with self.subTest(name):
                # A cancelled run is offered to be finished on the next start:
                # each case begins on a machine of its own.
                self.machine.remove()
                self.machine = Machine()
                t = self.start(f"between-ticks-{name}")
                self.wait_confirm(t)
                t.send("y")
                self.wait_percent(t, 60)
                t.send(key)
                status, after = t.finish()
                self.assertEqual(status, 0)
                self.assertIn("cancelled", after)
                self.assertNotIn(NOTICE, t.raw.decode("utf-8", "replace"))
                self.assertNotIn("shutdown was requested", after)
                # The second and third steps never ran.
                self.assertIn(PRODUCT_KEY, self.machine.read("registry.reg").decode("latin-1"))
                self.assertEqual(self.machine.read("drive_c/AUTOEXEC.BAT"), autoexec)

    def test_resize_during_the_steps(self):
        t = self.start("resize")
        self.wait_confirm(t)
        t.send("y")
        self.wait_percent(t, 60)
        left_before, _ = t.position("Uninstalling")
        t.resize(100, 30)
        # Centred again on the wider screen, and the steps go on.
        # The screen may be caught halfway through the new picture.
        t.wait_for(lambda: "Uninstalling" in t.text() and
                   t.position("Uninstalling")[0] == left_before + 10,
                   "the dialog is centred on the new size")
        t.wait_for(lambda: "[x] Hardware nodes..." in t.text() and "60%" in t.text(),
                   "the whole dialog on the new size")
        t.capture("resized")
        t.wait_for(NOTICE, "the steps go on to the shutdown notice")
        t.capture("resized-notice")
        t.send("\r")
        status, after = t.finish()
        self.assertEqual(status, 0)
        self.assertIn("uninstalled", after)

    def test_terminal_too_small(self):
        registry = self.machine.read("registry.reg")
        t = self.start("too-small", cols=30, rows=6)
        t.wait_for("Terminal too small", "the notice of a small terminal")
        t.capture("too-small-box")
        self.assertNotIn(CONFIRM, t.text())
        # What cannot be seen is not answered.
        t.send("y")
        t.settle(0.3)
        self.assertIn("Terminal too small", t.text())
        self.assertEqual(self.machine.read("registry.reg"), registry)
        t.resize(80, 24)
        t.wait_for(CONFIRM, "the box as soon as it fits")
        t.send("y")
        self.wait_percent(t, 60)
        t.resize(50, 24)
        t.wait_for("Terminal too small", "the notice while the dialog runs")
        t.capture("too-small-dialog")
        t.resize(80, 24)
        t.wait_for(lambda: "Hardware nodes..." in t.text() and "%" in t.text(),
                   "the dialog as soon as it fits")
        t.capture("fits-again")
        # Esc is the one key that works unseen.
        t.resize(50, 24)
        t.wait_for("Terminal too small", "the notice again")
        t.send("\x1b")
        status, after = t.finish()
        self.assertEqual(status, 0)
        self.assertTrue("cancelled" in after or "uninstalled" in after, after)

    def test_without_colour_and_with_escape_codes_in_the_title(self):
        # A title holding a clear-screen and a window-title sequence.
        title = b"Q76 \x1b[2J\x1b]0;pwned\x07 end"
        hex_bytes = ",".join(f"{b:02x}" for b in title + b"\x00")
        self.machine.replace_in_registry(TITLE_LINE, f'"Title"=hex(1):{hex_bytes}')
        t = self.start("no-colour", env={"NO_COLOR": "1"})
        self.wait_confirm(t)
        self.assertTrue(t.cell("Yes").reverse)
        t.send("y")
        t.wait_for(lambda: "pwned" in t.text() and "0%" in t.text(),
                   "the dialog opens with the title")
        t.capture("escape-codes")
        # The escape characters are shown as stand-ins, never sent.
        self.assertIn("\ufffd[2J\ufffd]0;pwned\ufffd end", t.text())
        self.assertNotIn(b"\x1b]0;pwned", t.raw)
        self.assertNotIn(b"\x07", t.raw)
        # Without colour the title bar is in reverse video.
        # Disabled items are dimmed.
        self.assertRegex(t.raw, rb"\x1b\[[0-9;]*2m(\x1b\[[0-9;]*m)*\[ \] Entries in DOS")
        caption = t.cell("Uninstalling")
        self.assertTrue(caption.reverse)
        self.assertEqual(caption.bg, "default")
        t.send("\x1b")
        status, after = t.finish()
        self.assertEqual(status, 0)
        self.assertIn("cancelled", after)

    def test_terminal_closed_under_an_open_box(self):
        registry = self.machine.read("registry.reg")
        # A program that outlives its terminal (nohup) answers the box as Esc
        # answers it, and ends instead of waiting on a terminal that is gone.
        t = self.start("hang-up", ignore_hangup=True)
        self.wait_confirm(t)
        os.close(t.master)
        end = time.monotonic() + DEADLINE
        while t.process.poll() is None:
            self.assertLess(time.monotonic(), end, "the program did not end")
            time.sleep(0.05)
        self.assertEqual(t.process.returncode, 0)
        self.assertEqual(self.machine.read("registry.reg"), registry)

    def test_backup_that_cannot_be_written_is_explained_after_exit(self):
        # A plain file where the backups folder belongs: the backup fails at
        # the first tick, nothing is removed, and the reason must still be
        # on the terminal once the drawn screen is gone.
        registry = self.machine.read("registry.reg")
        autoexec = self.machine.read("drive_c/AUTOEXEC.BAT")
        with open(self.machine.path("backups"), "w", encoding="ascii") as f:
            f.write("not a folder\n")
        t = self.start("backup-fails")
        self.wait_confirm(t)
        t.send("y")
        status, after = t.finish()
        t.capture("after-exit")
        self.assertEqual(status, 1)
        self.assertIn("cancelled", after)
        normal = normal_screen_output(t.raw)
        self.assertIn("uinq76: the backup could not be written, so nothing was removed", normal)
        self.assertIn("backups", normal)
        # Nothing of it was written into the drawn screen, where it would vanish.
        self.assertNotIn("backup written", normal)
        self.untouched(registry, autoexec)

    def test_lines_on_a_terminal(self):
        t = self.start("lines", ui="lines")
        t.wait_for("[Y/n]", "the line form asks")
        t.send("n\r")
        status, _ = t.finish()
        self.assertEqual(status, 0)
        self.assertNotIn(b"\x1b[?1049h", t.raw)


def normal_screen_output(raw):
    """What the program wrote on the terminal's normal screen, which stays in
    view after it ends: its output without the parts written while the
    drawn (alternate) screen was up."""
    kept = b""
    rest = raw
    while True:
        start = rest.find(b"\x1b[?1049h")
        if start < 0:
            kept += rest
            break
        kept += rest[:start]
        end = rest.find(b"\x1b[?1049l", start)
        if end < 0:
            break
        rest = rest[end + len(b"\x1b[?1049l"):]
    return kept.decode("utf-8", "replace")


def click(terminal, x, y):
    """A left click at a cell, as an xterm reports it (SGR mouse mode)."""
    terminal.send(f"\x1b[<0;{x + 1};{y + 1}M\x1b[<0;{x + 1};{y + 1}m")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--demo-machine", required=True)
    parser.add_argument("--captures", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
