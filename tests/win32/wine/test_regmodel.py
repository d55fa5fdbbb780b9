#!/usr/bin/env python3
"""The differential test's registry comparison, without Wine: a comparison
that missed a difference would let every machine pass."""

import unittest

import regmodel

REG = (
    b"REGEDIT4\r\n\r\n"
    b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]\r\n"
    b'"Title"="Kivra \\"Q76\\" C:\\\\X"\r\n'
    b'"Raw"=hex(1):41,42\r\n'
    b'"Blob"=hex:00,01,02,\\\r\n  03,04\r\n'
    b'"Count"=dword:0000c000\r\n'
    b'@="default"\r\n\r\n'
    b"[HKEY_CURRENT_CONFIG\\Enum\\MF]\r\n\r\n"
)


class RegModel(unittest.TestCase):
    def test_regedit4_values(self):
        reg = regmodel.parse_regedit4(REG, "test")
        key = reg["HKLM\\SOFTWARE\\VESK\\KIVRAQ76"]
        self.assertEqual(key.values["TITLE"], ("Title", 1, b'Kivra "Q76" C:\\X\0'))
        # A string without its zero is compared with one, as Windows 95 keeps it.
        self.assertEqual(key.values["RAW"], ("Raw", 1, b"AB\0"))
        self.assertEqual(key.values["BLOB"], ("Blob", 3, b"\0\1\2\3\4"))
        self.assertEqual(key.values["COUNT"], ("Count", 4, b"\0\xc0\0\0"))
        self.assertEqual(key.values[""], ("", 1, b"default\0"))
        # Keys above a section exist too; both roots are read.
        self.assertIn("HKLM\\SOFTWARE", reg)
        self.assertIn("HKCC\\ENUM\\MF", reg)

    def test_regdump_matches_regedit4(self):
        dump = (
            "key\tHKLM\\SOFTWARE\\Vesk\\KivraQ76\n"
            "value\t5469746c65\t1\t" + b'Kivra "Q76" C:\\X\0'.hex() + "\n"
            "value\t526177\t1\t414200\n"
            "value\t426c6f62\t3\t0001020304\n"
            "value\t436f756e74\t4\t00c00000\n"
            "value\t-\t1\t" + b"default\0".hex() + "\n"
            "key\tHKCC\\Enum\\MF\n"
        )
        wine = regmodel.parse_regdump(dump, "test")
        linux = regmodel.parse_regedit4(REG, "test")
        self.assertEqual(regmodel.differences(linux, wine), [])
        with self.assertRaises(ValueError):
            regmodel.parse_regdump("error\topen HKLM\\X: 5\n", "test")

    def test_differences_are_found(self):
        linux = regmodel.parse_regedit4(REG, "test")
        changed = regmodel.parse_regedit4(REG.replace(b"dword:0000c000", b"dword:0000c001"), "t")
        self.assertEqual(len(regmodel.differences(linux, changed)), 1)
        fewer = {k: v for k, v in linux.items() if not k.startswith("HKCC\\ENUM\\MF")}
        self.assertEqual(regmodel.differences(linux, fewer), ["only on Linux: [HKCC\\Enum\\MF]"])

    def test_fresh_prefix_content_is_taken_out_but_its_removal_is_not(self):
        corpus = regmodel.parse_regedit4(REG, "corpus")
        fresh = {"HKLM\\WINE": regmodel.Key("HKLM\\Wine", {"A": ("a", 1, b"1\0")}),
                 "HKLM\\SOFTWARE": regmodel.Key("HKLM\\Software", {"V": ("v", 1, b"x\0")})}
        after = dict(corpus)
        after["HKLM\\WINE"] = fresh["HKLM\\WINE"]
        after["HKLM\\SOFTWARE"] = regmodel.Key("HKLM\\Software", dict(fresh["HKLM\\SOFTWARE"].values))
        wine, lost = regmodel.without_template(after, fresh, corpus)
        self.assertEqual(regmodel.differences(corpus, wine), [])
        self.assertEqual(lost, [])
        del after["HKLM\\WINE"]
        _, lost = regmodel.without_template(after, fresh, corpus)
        self.assertEqual(lost, ["removed under Wine from the fresh prefix: [HKLM\\Wine]"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
