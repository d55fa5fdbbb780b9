"""The differential test's machines: the demo machine and variants of it,
each a function that changes a fresh copy in place.

Windows 95 keeps subkeys in its own order, Wine lists them sorted without
regard to case, and the Linux store keeps the file's order. Where the order
decides what the program removes (the first entry whose "Driver" matches),
the machines list the subkeys in Wine's order, so that all three agree.
"""

import os
from pathlib import Path

MARKED_INF = b'[Version]\r\nSignature="$CHICAGO$"\r\n\r\n[Strings]\r\nKivraKey="KIVRAQ76INF"\r\n'
INF_DIR = "drive_c/windows/inf"
CLASS_MEDIA = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\MEDIA"
MEDIA_RESOURCES = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\MediaResources"


def _reg(machine):
    return Path(machine) / "registry.reg"


def edit_registry(machine, old, new):
    path = _reg(machine)
    text = path.read_bytes()
    if old not in text:
        raise AssertionError(f"corpus: {old!r} is not in {path}")
    path.write_bytes(text.replace(old, new))


def drop_subkeys(machine, parent, itself=False):
    """Removes the sections of every key below parent, and parent's own when
    itself is true."""
    path = _reg(machine)
    out = []
    skipping = False
    for line in path.read_bytes().split(b"\r\n"):
        if line.startswith(b"["):
            name = line[1:].upper()
            skipping = name.startswith(parent.encode().upper() + b"\\") or (
                itself and name == parent.encode().upper() + b"]")
        if not skipping:
            out.append(line)
    path.write_bytes(b"\r\n".join(out))


def drop_values(machine, key, names):
    """Removes the named values' lines from the section of key."""
    path = _reg(machine)
    out = []
    inside = False
    wanted = {b'"' + n.encode("latin-1").upper() + b'"' for n in names}
    for line in path.read_bytes().split(b"\r\n"):
        if line.startswith(b"["):
            inside = line[1:-1].upper() == key.encode().upper()
        elif inside and line.split(b"=", 1)[0].upper() in wanted:
            continue
        out.append(line)
    path.write_bytes(b"\r\n".join(out))


def append_keys(machine, sections):
    """Appends sections given as (path, [value lines]), in the order given."""
    text = b""
    for key, values in sections:
        text += b"[" + key.encode("latin-1") + b"]\r\n"
        text += b"".join(v.encode("latin-1") + b"\r\n" for v in values) + b"\r\n"
    with open(_reg(machine), "ab") as out:
        out.write(text)


def write(machine, rel, data, readonly=False):
    path = Path(machine) / rel
    path.parent.mkdir(parents=True, exist_ok=True)
    if path.exists():
        os.chmod(path, 0o644)
    path.write_bytes(data)
    if readonly:
        os.chmod(path, 0o444)


def autoexec(machine, data):
    write(machine, "drive_c/AUTOEXEC.BAT", data)


def title(value):
    return lambda m: edit_registry(m, b'"Title"="Kivra Q76 Audio Drivers"', value)


def hex_bytes(data):
    return ",".join(f"{b:02x}" for b in data).encode()


def windows_on_d(machine):
    # The whole Windows folder moves to D:\WIN95; C: keeps AUTOEXEC.BAT.
    m = Path(machine)
    msdos = m / "drive_c" / "MSDOS.SYS"
    msdos.write_bytes(msdos.read_bytes().replace(b"C:\\windows", b"D:\\WIN95"))
    (m / "drive_c" / "windows").rename(m / "drive_d" / "WIN95")


def media_entries_first_match_first(machine):
    # The first matching "Driver" comes first; a second one stays; a value
    # differing only in letter case never matches.
    drop_subkeys(machine, CLASS_MEDIA)
    append_keys(machine, [
        (CLASS_MEDIA + "\\0000", ['"Driver"="vjoyd.vxd"', '"DriverDesc"="First joystick"']),
        (CLASS_MEDIA + "\\0001", ['"Driver"="VJOYD.VXD"']),
        (CLASS_MEDIA + "\\0002", ['"Driver"="vjoyd.vxd"', '"DriverDesc"="Second joystick"']),
        (CLASS_MEDIA + "\\0002\\Config", ['"Flags"=dword:00000002']),
    ])


def media_entries_mixed_names(machine):
    # Subkey names in mixed letter case, listed in Wine's order (sorted by
    # their capitals); entries without a "Driver" before the matching one.
    drop_subkeys(machine, CLASS_MEDIA)
    drop_subkeys(machine, MEDIA_RESOURCES + "\\midi")
    drop_subkeys(machine, MEDIA_RESOURCES + "\\wave")
    append_keys(machine, [
        (CLASS_MEDIA + "\\a_Joy", ['"DriverDesc"="No driver value"']),
        (CLASS_MEDIA + "\\B0", ['"Driver"="vjoyd.vxd "']),
        (CLASS_MEDIA + "\\c1", ['"Driver"="vjoyd.vxd"']),
        (CLASS_MEDIA + "\\Z9", ['"Driver"="vjoyd.vxd"']),
        (MEDIA_RESOURCES + "\\midi\\Midimap", ['"Description"="MIDI Mapper"']),
        (MEDIA_RESOURCES + "\\midi\\SNDM401P.DRV", ['"Driver"="SNDM401P.DRV"']),
        (MEDIA_RESOURCES + "\\midi\\sndm401p.drv.old", ['"Driver"="sndm401p.drv"']),
        (MEDIA_RESOURCES + "\\midi\\SndOpl3p", ['"Driver"="sndopl3p.drv"']),
        (MEDIA_RESOURCES + "\\midi\\zz", ['"Driver"="sndopl3p.drv"']),
        (MEDIA_RESOURCES + "\\wave\\msacm.imaadpcm", ['"Driver"="imaadp32.acm"']),
        (MEDIA_RESOURCES + "\\wave\\Q76", ['"Driver"="snd930p.drv"']),
    ])


def inf_files(machine):
    m = Path(machine)
    write(m, INF_DIR + "/OEM.INF", MARKED_INF)
    write(m, INF_DIR + "/OEM5.INF", MARKED_INF, readonly=True)
    write(m, INF_DIR + "/oem6.Inf", MARKED_INF.replace(b'"KIVRAQ76INF"', b"x KIVRAQ76INF y"))
    write(m, INF_DIR + "/OEM7.INF", MARKED_INF.replace(b"KivraKey=", b";KivraKey="))
    write(m, INF_DIR + "/OEM8.INF", MARKED_INF.replace(b"[Strings]", b"[ Strings ]"))
    write(m, INF_DIR + "/OEM9.INF", b"[Strings]\r\nKivraKey=KIVRAQ76IN\r\n")
    write(m, INF_DIR + "/OEM10.INF", b"[strings]\r\nkivrakey = 'KIVRAQ76INF'\r\n", readonly=True)
    write(m, INF_DIR + "/OEM11.INF", b"[Strings]\r\nOther=1\r\n", readonly=True)
    write(m, INF_DIR + "/XOEM12.INF", MARKED_INF)


HKLM = "HKEY_LOCAL_MACHINE"
UNINSTALL = HKLM + "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
MEDIA_NODE = "ROOT&OPT0930MEDIA&0000"


def only_the_product_key(machine):
    # None of the keys and values the first step removes, and no uninstall
    # registration: the program still runs every step and changes nothing else.
    _reg(machine).write_bytes(
        b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]\r\n"
        b'"Title"="Kivra Q76 Audio Drivers"\r\n\r\n')


def title_with_a_path(machine):
    # A title holding a backslash names a key two levels below Uninstall: only
    # the last one goes.
    title(b'"Title"="Kivra\\\\Q76"')(machine)
    append_keys(machine, [
        (UNINSTALL + "\\Kivra", ['"DisplayName"="Kivra Tools"']),
        (UNINSTALL + "\\Kivra\\Q76", ['"DisplayName"="Q76"']),
        (UNINSTALL + "\\Kivra\\Q76\\Parts", ['"Count"=dword:00000001']),
    ])


def driver_values_of_other_types(machine):
    # The type of "Driver" is not looked at: the bytes up to the first zero
    # are its text, and bytes without a zero are compared as they are.
    drop_subkeys(machine, CLASS_MEDIA)
    drop_subkeys(machine, MEDIA_RESOURCES + "\\aux")
    append_keys(machine, [
        (CLASS_MEDIA + "\\0000", ['"Driver"=dword:00000001']),
        (CLASS_MEDIA + "\\0001", ['"Driver"=hex:' + hex_bytes(b"vjoyd.vxdX").decode()]),
        (CLASS_MEDIA + "\\0002", ['"Driver"=hex:' + hex_bytes(b"vjoyd.vxd").decode(),
                                   '"DriverDesc"="Binary, no zero"']),
        (CLASS_MEDIA + "\\0003", ['"Driver"="vjoyd.vxd"']),
        (MEDIA_RESOURCES + "\\aux\\A", ['"Driver"=hex(2):' + hex_bytes(b"snd930p.drv\0").decode()]),
        (MEDIA_RESOURCES + "\\aux\\B", ['"Driver"="snd930p.drv"']),
    ])


def driver_values_too_long(machine):
    # A "Driver" longer than the 260-byte buffer cannot be read and is passed
    # over; one of 260 bytes without a zero is compared as it is; one of 260
    # bytes whose text ends early matches.
    drop_subkeys(machine, CLASS_MEDIA)
    append_keys(machine, [
        (CLASS_MEDIA + "\\0000", ['"Driver"="vjoyd.vxd' + "x" * 300 + '"']),
        (CLASS_MEDIA + "\\0001", ['"Driver"=hex:' + hex_bytes(b"vjoyd.vxd" + b"y" * 251).decode()]),
        (CLASS_MEDIA + "\\0002", ['"Driver"=hex:' + hex_bytes(b"vjoyd.vxd\0" + b"z" * 250).decode()]),
        (CLASS_MEDIA + "\\0003", ['"Driver"="vjoyd.vxd"']),
    ])


def media_resources_duplicates_and_gaps(machine):
    # No "wave" key at all; two entries per driver under "aux" and "midi":
    # only the first of each goes (listed in Wine's order).
    drop_subkeys(machine, MEDIA_RESOURCES + "\\wave", itself=True)
    drop_subkeys(machine, MEDIA_RESOURCES + "\\aux")
    drop_subkeys(machine, MEDIA_RESOURCES + "\\midi")
    append_keys(machine, [
        (MEDIA_RESOURCES + "\\aux\\A1", ['"Driver"="snd930p.drv"', '"Description"="first"']),
        (MEDIA_RESOURCES + "\\aux\\B2", ['"Driver"="snd930p.drv"', '"Description"="second"']),
        (MEDIA_RESOURCES + "\\midi\\m1", ['"Driver"="sndopl3p.drv"']),
        (MEDIA_RESOURCES + "\\midi\\m2", ['"Driver"="sndm401p.drv"']),
        (MEDIA_RESOURCES + "\\midi\\m3", ['"Driver"="sndopl3p.drv"']),
        (MEDIA_RESOURCES + "\\midi\\m4", ['"Driver"="sndm401p.drv"']),
    ])


def deep_and_wide_nodes(machine):
    # Device nodes with many subkeys, a deep chain, and names of 255
    # characters, the longest the registry takes.
    node = HKLM + "\\Enum\\ROOT\\OPT0930MEDIA\\0000"
    chain = node
    sections = []
    for level in range(16):
        chain += f"\\Level{level:02d}"
        sections.append((chain, [f'"Depth"=dword:{level:08x}']))
    sections += [(node + f"\\Sibling{i:03d}", ['"N"="' + str(i) + '"']) for i in range(40)]
    sections.append((node + "\\" + "L" * 255, ['"Long"="name"']))
    sections.append((HKLM + "\\Enum\\MF\\CHILD0002\\" + MEDIA_NODE + "\\" + "N" * 255 + "\\" +
                     "M" * 255, ['"Deep"="long names"']))
    append_keys(machine, sections)


def value_names_in_capitals(machine):
    # Value names compare without regard to case; the lists' other values stay.
    edit_registry(machine, b'"snd930p.drv"="C:', b'"SND930P.DRV"="C:')
    edit_registry(machine, b'"mfvxd.vxd"="mfvxd.vxd"', b'"MfVxd.VXD"="mfvxd.vxd"')
    append_keys(machine, [
        (HKLM + "\\System\\CurrentControlSet\\control\\InstalledFiles",
         ['"snd930p.drv.bak"="C:\\\\WINDOWS\\\\snd930p.bak"', '"snd930p"="x"']),
    ])


def key_names_in_other_case(machine):
    # Key paths compare without regard to case.
    edit_registry(machine, b"Enum\\MF\\CHILD0001\\ROOT&OPT0930MEDIA&0000]",
                  b"enum\\mf\\child0001\\root&opt0930media&0000]")
    edit_registry(machine, b"Config\\0001\\Enum\\MF\\CHILD2\\ROOT&OPT0930MEDIA&0000]",
                  b"CONFIG\\0001\\ENUM\\mf\\Child2\\Root&Opt0930Media&0000]")
    edit_registry(machine, b"Services\\Class\\OPT0930MEDIA]", b"Services\\Class\\opt0930media]")
    edit_registry(machine, b"Services\\Class\\OPT0930MEDIA\\0000]",
                  b"Services\\Class\\opt0930media\\0000]")


def no_profile_nor_current_config(machine):
    # Hardware profile 0001 and the current configuration hold no device
    # nodes; the removals there find nothing.
    drop_subkeys(machine, HKLM + "\\Config\\0001")
    drop_subkeys(machine, "HKEY_CURRENT_CONFIG\\Enum")
    drop_subkeys(machine, HKLM + "\\System\\CurrentControlSet\\control\\SessionManager")


def empty_keys_and_default_values(machine):
    # Nodes with empty subkeys and default values; a sixth child stays, as
    # does the fifth of the demo machine.
    child = HKLM + "\\Enum\\MF\\CHILD0000\\" + MEDIA_NODE
    append_keys(machine, [
        (child + "\\Empty", []),
        (child + "\\Empty\\Emptier", []),
        (child + "\\Device Parameters", ['@="default text"', '"Other"=""']),
        (HKLM + "\\Enum\\MF\\CHILD0005\\" + MEDIA_NODE, ['@="sixth child"']),
        ("HKEY_CURRENT_CONFIG\\Enum\\MF\\CHILD0003\\" + MEDIA_NODE + "\\Sub", ['@=""']),
    ])


TITLE_79 = b"Kivra Q76 Audio Drivers" + b"-" * 56
LONG = b"SET PATH=" + b"C:\\TOOLS\\BIN;" * 12
AUTOEXEC_CASES = {
    "autoexec missing": lambda m: (Path(m) / "drive_c/AUTOEXEC.BAT").unlink(),
    "autoexec empty": lambda m: autoexec(m, b""),
    "autoexec key line": lambda m: autoexec(
        m, b"@ECHO OFF\r\n   c:\\windows\\uinq76d.exe c:\\windows\r\nPATH C:\\DOS\r\n"
           b"  uinq76d.exe again\r\n"),
    "autoexec key on last line": lambda m: autoexec(
        m, b"@ECHO OFF\r\nC:\\OLD\\UINQ76D.EXE C:\\OLD\r\n"),
    "autoexec rem lines": lambda m: autoexec(
        m, b"REM C:\\WINDOWS\\UINQ76D.EXE\r\n   rem uinq76d.exe\r\nRem\tuinq76d.exe x\r\n"
           b"@REM UINQ76D.EXE\r\nECHO done\r\n"),
    "autoexec long lines": lambda m: autoexec(
        m, LONG + b"\r\n" + b"x" * 127 + b"\r\n" + b"y" * 126 + b"\r\n"
           + b"ECHO " + b"z" * 130 + b" UINQ76D.EXE tail\r\nECHO after\r\n"),
    "autoexec ctrl-z": lambda m: autoexec(
        m, b"@echo off\r\n  set q76=1\r\n\x1aUINQ76D.EXE hidden\r\nmore\r\n"),
    "autoexec no final break": lambda m: autoexec(m, b"@ECHO OFF\r\nPATH C:\\DOS"),
    "autoexec eight-bit letters": lambda m: autoexec(
        m, b"ECHO \xe9t\xe9 \xc0 b\xfcro\r\nset x=\xff\r\n"),
    "autoexec read-only": lambda m: write(
        m, "drive_c/AUTOEXEC.BAT", b"@ECHO OFF\r\nPATH C:\\DOS\r\n", readonly=True),
}

MACHINES = {
    "demo": lambda m: None,
    "no key": lambda m: edit_registry(m, b"\\Vesk\\KivraQ76]", b"\\Vesk\\KivraQ77]"),
    "no title": title(b'"Name"="x"'),
    "title of 80 characters": title(b'"Title"="' + b"T" * 80 + b'"'),
    "title of 80 bytes without a zero": title(b'"Title"=hex(1):' + hex_bytes(b"U" * 80)),
    "title of 79 bytes without a zero": title(b'"Title"=hex(1):' + hex_bytes(b"V" * 79)),
    "empty title": title(b'"Title"=""'),
    "title of 79 characters": lambda m: (
        title(b'"Title"="' + TITLE_79 + b'"')(m),
        edit_registry(m, b"Uninstall\\Kivra Q76 Audio Drivers", b"Uninstall\\" + TITLE_79)),
    "windows on D:": windows_on_d,
    "media entries, first match first": media_entries_first_match_first,
    "media entries, mixed names": media_entries_mixed_names,
    "inf files marked and unmarked": inf_files,
    "only the product key": only_the_product_key,
    "title naming another program": title(b'"Title"="Pixel Shed Pro"'),
    "title ending in a backslash": title(b'"Title"="Kivra Q76 Audio Drivers\\\\"'),
    "title with a path": title_with_a_path,
    "driver values of other types": driver_values_of_other_types,
    "driver values too long": driver_values_too_long,
    "media resources, duplicates and gaps": media_resources_duplicates_and_gaps,
    "deep and wide device nodes": deep_and_wide_nodes,
    "value names in capitals": value_names_in_capitals,
    "key names in other letter case": key_names_in_other_case,
    "no profile nor current config": no_profile_nor_current_config,
    "empty keys and default values": empty_keys_and_default_values,
    **AUTOEXEC_CASES,
}


def make(name, machine):
    """Changes a fresh demo machine (already in the prefix's letter case)
    into the named corpus machine."""
    m = Path(machine)
    # Wine's Windows directory is C:\windows; the machines name the same one.
    msdos = m / "drive_c" / "MSDOS.SYS"
    msdos.write_bytes(msdos.read_bytes().replace(b"C:\\WINDOWS\r\n", b"C:\\windows\r\n"))
    MACHINES[name](m)
