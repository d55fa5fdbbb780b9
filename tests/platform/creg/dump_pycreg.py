#!/usr/bin/python3
# Lists a Windows 9x registry file's keys and values as read by libcreg
# (Debian's python3-libcreg), in the form `uinq76-creg dump` writes.
import sys

import pycreg


def escape(raw):
    return "".join(chr(b) if 0x20 < b < 0x7F and b not in (0x25, 0x5C) else "%%%02X" % b
                   for b in raw)


def name_bytes(text):
    return (text or "").encode("cp1252", errors="surrogateescape")


def dump(key, path):
    print("K " + path)
    values = []
    for i in range(key.get_number_of_values()):
        value = key.get_value(i)
        values.append((name_bytes(value.get_name()), value.get_type(), value.get_data() or b""))
    for name, kind, data in sorted(values):
        print("V %s %d %s" % (escape(name), kind, data.hex()))
    children = [key.get_sub_key(i) for i in range(key.get_number_of_sub_keys())]
    for name, child in sorted((name_bytes(c.get_name()), c) for c in children):
        dump(child, path + "\\" + escape(name))


registry = pycreg.file()
registry.set_ascii_codepage("windows-1252")
registry.open(sys.argv[1])
dump(registry.get_root_key(), "")
registry.close()
