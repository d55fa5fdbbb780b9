#!/usr/bin/env python3
"""uinq76.exe under Wine in Windows 95 mode, driven from outside like a user:
the boxes, the dialog's caption, text, check items and bar, and what is left
in the registry and on C: afterwards. Each case gets a fresh prefix."""

import tempfile
import unittest
from pathlib import Path

import harness
import machines
import wine_check
import winelab

CAPTION = "Kivra Q76 Uninstallation"
CONFIRM = "Do you really want to uninstall this software?"
NOT_INSTALLED = ("The software is not properly installed. The uninstallation procedure cannot "
                 "be performed correcly!")
NOTICE = ("The uninstaller need to shut down Windows to complete the uninstalltion process. "
          "After Windows is shut down and the computer is turned off, please remove the Q76 "
          "card and then restart the system.")
TITLE = "Kivra Q76 Audio Drivers"
PRODUCT_KEY = "HKLM\\SOFTWARE\\Vesk\\KivraQ76"
# Items 1001 and 1002 stay disabled and unchecked; 1003 to 1005 are checked
# one per step, and the bar moves 60, 80, 100.
STATES = [
    ["0", "1001:0:0", "1002:0:0", "1003:0:1", "1004:0:1", "1005:0:1"],
    ["60", "1001:0:0", "1002:0:0", "1003:1:1", "1004:0:1", "1005:0:1"],
    ["80", "1001:0:0", "1002:0:0", "1003:1:1", "1004:1:1", "1005:0:1"],
    ["100", "1001:0:0", "1002:0:0", "1003:1:1", "1004:1:1", "1005:1:1"],
]


def kinds(events):
    return [e.kind for e in events]


class Scenarios(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.config = harness.Config.from_env()

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(dir=self.config.state_dir)
        self.machine = Path(self.tmp.name) / "machine"
        self.config.demo_machine(self.machine)
        self.prefix = winelab.Prefix(self.config.state_dir, "prefix-" + self.id().split(".")[-1])
        self.prefix.__enter__()

    def tearDown(self):
        self.prefix.__exit__(None, None, None)
        self.tmp.cleanup()

    def install(self, edit_registry=None):
        reg = self.machine / "registry.reg"
        if edit_registry is not None:
            reg.write_bytes(edit_registry(reg.read_bytes()))
        machines.install(self.machine, self.prefix)
        self.prefix.import_registry(reg)
        self.autoexec = (self.prefix.drive_c / "AUTOEXEC.BAT").read_bytes()

    def registry(self):
        return harness.dump_registry(self.config, self.prefix)

    def test_declined(self):
        self.install()
        before = self.registry()
        events = harness.run_driver(self.config, self.prefix, ["no"])
        self.assertEqual(kinds(events), ["start", "box", "exit"])
        self.assertEqual(events[1].fields, [CAPTION, CONFIRM, "no"])
        self.assertEqual(events[2].fields, ["0"])
        self.assertIn(regmodel_key(PRODUCT_KEY), before)
        self.assertEqual(self.registry(), before)
        self.assertEqual((self.prefix.drive_c / "AUTOEXEC.BAT").read_bytes(), self.autoexec)
        self.assertEqual(harness.shutdown_requests(self.prefix), [])

    def test_not_installed_for_each_cause(self):
        causes = {
            # No product key at all.
            "no key": lambda r: r.replace(b"\\Vesk\\KivraQ76]", b"\\Vesk\\KivraQ77]")
                                 .replace(b"\\Vesk\\KivraQ76\\", b"\\Vesk\\KivraQ77\\"),
            # The key without its "Title".
            "no title": lambda r: r.replace(b'"Title"="Kivra Q76 Audio Drivers"', b'"Name"="x"'),
            # 80 characters do not fit the 80-byte buffer with their zero.
            "title too long": lambda r: r.replace(b'"Title"="Kivra Q76 Audio Drivers"',
                                                  b'"Title"="' + b"T" * 80 + b'"'),
        }
        for cause, edit in causes.items():
            with self.subTest(cause):
                self.prefix.__exit__(None, None, None)
                self.prefix.__enter__()
                self.tmp.cleanup()
                self.tmp = tempfile.TemporaryDirectory(dir=self.config.state_dir)
                self.machine = Path(self.tmp.name) / "machine"
                self.config.demo_machine(self.machine)
                self.install(edit)
                before = self.registry()
                events = harness.run_driver(self.config, self.prefix, ["yes", "ok"])
                self.assertEqual(kinds(events), ["start", "box", "box", "exit"])
                self.assertEqual(events[1].fields, [CAPTION, CONFIRM, "yes"])
                self.assertEqual(events[2].fields, [CAPTION, NOT_INSTALLED, "ok"])
                self.assertEqual(self.registry(), before)
                self.assertEqual((self.prefix.drive_c / "AUTOEXEC.BAT").read_bytes(),
                                 self.autoexec)

    def test_full_uninstall_with_shutdown_request_and_close_timer(self):
        self.install()
        events = harness.run_driver(self.config, self.prefix, ["yes", "ok"])
        self.assertEqual(kinds(events)[:3], ["start", "box", "dialog"])
        self.assertEqual(events[2].fields, [
            f"Uninstalling {TITLE}...",
            f"Removing the software '{TITLE}' from your computer. Please wait while each of the "
            "following components are removed...",
        ])
        states = [e.fields for e in events if e.kind == "state"]
        self.assertEqual(states, STATES, "the bar and the items, in the order seen")
        # After the last step: the notice, answered; then the dialog ends with
        # nobody touching it, by its close timer, and the program ends.
        tail = [e for e in events if e.kind in ("box", "gone", "exit")]
        self.assertEqual([e.kind for e in tail], ["box", "box", "gone", "exit"])
        self.assertEqual(tail[1].fields, [CAPTION, NOTICE, "ok"])
        self.assertEqual(tail[3].fields, ["0"])
        # The shutdown was requested once, with EWX_SHUTDOWN alone: Wine's
        # session end without --force or --kill, and not a restart.
        winelab.wait_until(lambda: harness.shutdown_requests(self.prefix), 10,
                           "the shutdown request to be recorded")
        self.assertEqual(harness.shutdown_requests(self.prefix),
                         ["C:\\windows\\system32\\wineboot.exe --end-session --shutdown"])
        registry = self.registry()
        self.assertNotIn(regmodel_key(PRODUCT_KEY), registry)
        self.assertIn(regmodel_key("HKLM\\SOFTWARE\\Vesk\\KivraQ50"), registry)
        autoexec = (self.prefix.drive_c / "AUTOEXEC.BAT").read_bytes()
        self.assertTrue(autoexec.endswith(b"\r\nC:\\windows\\UINQ76D.EXE C:\\windows"), autoexec)
        inf = self.prefix.drive_c / "windows" / "inf"
        self.assertFalse((inf / "OEM1.INF").exists())
        self.assertTrue((inf / "oem3.inf").exists())

    def test_escape_between_ticks(self):
        self.install()
        events = harness.run_driver(self.config, self.prefix, ["yes"], escape_at_bar=60)
        states = [e.fields for e in events if e.kind == "state"]
        self.assertEqual(states, STATES[:2])
        self.assertEqual(kinds(events),
                         ["start", "box", "dialog", "state", "state", "key", "gone", "exit"])
        self.assertEqual(events[-1].fields, ["0"])
        # The steps not yet run never run: registration, files and shutdown.
        registry = self.registry()
        self.assertIn(regmodel_key(PRODUCT_KEY), registry)
        self.assertNotIn(regmodel_key("HKLM\\Enum\\ROOT\\OPT0930MEDIA"), registry)
        self.assertEqual((self.prefix.drive_c / "AUTOEXEC.BAT").read_bytes(), self.autoexec)
        self.assertTrue((self.prefix.drive_c / "windows" / "inf" / "OEM1.INF").exists())
        self.assertEqual(harness.shutdown_requests(self.prefix), [])


def regmodel_key(path):
    return path.upper()


if __name__ == "__main__":
    wine_check.skip_unless_wine_runs()
    winelab.exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
