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


def drop_subkeys(machine, parent):
    """Removes the sections of every key below parent (parent itself stays)."""
    path = _reg(machine)
    out = []
    skipping = False
    for line in path.read_bytes().split(b"\r\n"):
        if line.startswith(b"["):
            skipping = line[1:].upper().startswith(parent.encode().upper() + b"\\")
        if not skipping:
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
