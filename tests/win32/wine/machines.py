"""Machine directories (registry.reg and drive_c, drive_d, ...) put into a
Wine prefix and read back, so that a run under Wine can be compared with a
run of the Linux build on an identical copy.

Wine's Windows directory is always C:\\windows. A machine whose Windows
directory is elsewhere (WinDir in C:\\MSDOS.SYS) has that folder's files put
into C:\\windows of the prefix, and the program's startup-file line, which
names the Windows directory, is mapped back before the comparison.
"""

import os
import shutil
import subprocess
from pathlib import Path

WINE_WINDIR = "C:\\windows"
# The prefix's own system files: Wine only reads them, the program never
# touches them, and they are too many to read after every run.
SKIPPED = ("drive_c/windows/system32/",)


def windows_dir(machine):
    """The machine's Windows directory, as the Linux build finds it."""
    msdos = _find(Path(machine), "drive_c/MSDOS.SYS")
    if msdos is not None:
        section = None
        for line in msdos.read_bytes().decode("latin-1").splitlines():
            line = line.strip()
            if line.startswith("["):
                section = line[1:line.find("]")].strip().upper() if "]" in line else None
            elif section == "PATHS" and "=" in line:
                key, _, value = line.partition("=")
                value = value.strip()
                if (key.strip().upper() == "WINDIR" and len(value) > 3 and value[1:3] == ":\\"
                        and len(value) < 260):
                    return value
    return "C:\\WINDOWS"


def _find(root, rel):
    """The path of rel below root, each name matched without regard to case."""
    here = root
    for name in rel.split("/"):
        if not here.is_dir():
            return None
        match = [p for p in here.iterdir() if p.name.upper() == name.upper()]
        if not match:
            return None
        here = match[0]
    return here


def host_dir(machine, winpath):
    drive = "drive_" + winpath[0].lower()
    rest = [p for p in winpath[3:].split("\\") if p]
    return _find(Path(machine), "/".join([drive, *rest]))


def windir_mapped(machine):
    return windows_dir(machine).upper() != WINE_WINDIR.upper()


def adopt_case(machine, template_drive_c):
    """Gives the machine's folders on C: the letter case of the prefix's
    folders of the same name (WINDOWS becomes windows, INF becomes inf), so
    that copying the machine into a prefix merges them instead of making a
    second folder that Windows could not tell apart."""
    def walk(ours, theirs):
        for entry in sorted(ours.iterdir()):
            if not entry.is_dir() or entry.is_symlink():
                continue
            match = [t for t in theirs.iterdir() if t.is_dir() and t.name.upper() == entry.name.upper()]
            if match and match[0].name != entry.name:
                target = entry.with_name(match[0].name)
                entry.rename(target)
                entry = target
            if match:
                walk(entry, match[0])
    drive_c = Path(machine) / "drive_c"
    if drive_c.is_dir():
        walk(drive_c, Path(template_drive_c))


def _copy_tree(src, dst, skip=None):
    for root, dirs, files in os.walk(src):
        root = Path(root)
        if skip is not None and (root == skip or skip in root.parents):
            dirs.clear()
            continue
        out = dst
        for name in root.relative_to(src).parts:
            # A folder the prefix has already is used whatever its letter case.
            same = [p for p in out.iterdir() if p.is_dir() and p.name.upper() == name.upper()] \
                if out.is_dir() else []
            out = same[0] if same else out / name
        out.mkdir(parents=True, exist_ok=True)
        for name in files:
            target = out / name
            if target.exists():
                raise RuntimeError(f"{target} is already in the fresh prefix")
            shutil.copy2(root / name, target)


def install(machine, prefix):
    """Copies the machine's drives into the prefix (its registry is imported
    separately)."""
    machine = Path(machine)
    windir = host_dir(machine, windows_dir(machine)) if windir_mapped(machine) else None
    for drive in sorted(machine.glob("drive_?")):
        letter = drive.name[-1]
        target = prefix.path / drive.name
        if letter != "c":
            link = prefix.path / "dosdevices" / f"{letter}:"
            if not link.exists():
                os.symlink(f"../{drive.name}", link)
        _copy_tree(drive, target, skip=windir)
    if windir is not None:
        _copy_tree(windir, prefix.drive_c / "windows")


def _mode_writable(path):
    return bool(path.stat().st_mode & 0o200)


def snapshot(root, prefix_of=""):
    """Every file below root: folded folder path and exact name -> (bytes,
    writable). Folders are matched without regard to case, as Windows does."""
    out = {}
    root = Path(root)
    for dirpath, _, files in os.walk(root):
        rel_dir = Path(dirpath).relative_to(root).as_posix()
        rel_dir = "" if rel_dir == "." else rel_dir + "/"
        if any((prefix_of + rel_dir).startswith(s) for s in SKIPPED):
            continue
        for name in files:
            path = Path(dirpath) / name
            out[(prefix_of + rel_dir).upper() + name] = (path.read_bytes(), _mode_writable(path))
    return out


def machine_drives(machine):
    out = {}
    for drive in sorted(Path(machine).glob("drive_?")):
        out.update(snapshot(drive, drive.name + "/"))
    return out


def prefix_drives(prefix, template_files, machine):
    """The prefix's drives less the fresh prefix's own files that the run
    left alone, with the Windows directory mapped back when the machine's is
    elsewhere. Returns (files, lines naming prefix files that changed)."""
    files = {}
    for drive in sorted(prefix.path.glob("drive_?")):
        files.update(snapshot(drive, drive.name + "/"))
    changed = []
    for rel, data in template_files.items():
        now = files.get(rel)
        if now == data:
            del files[rel]
        elif now is None:
            changed.append(f"removed under Wine from the fresh prefix: {rel}")
        else:
            changed.append(f"changed under Wine in the fresh prefix: {rel}")
    if windir_mapped(machine):
        windir = windows_dir(machine)
        host = host_dir(machine, windir).relative_to(machine).as_posix()
        wine_dir = "DRIVE_C/WINDOWS/"
        mapped = {}
        for rel, data in files.items():
            if rel.startswith(wine_dir):
                rel = (host + "/").upper() + rel[len(wine_dir):]
            mapped[rel] = data
        files = mapped
        line = (WINE_WINDIR + "\\UINQ76D.EXE " + WINE_WINDIR).encode()
        ours = (windir + "\\UINQ76D.EXE " + windir).encode("latin-1")
        for rel, (data, writable) in list(files.items()):
            if rel.upper() in ("DRIVE_C/AUTOEXEC.BAT", "DRIVE_C/AUTOEXEC.@@@"):
                files[rel] = (data.replace(line, ours), writable)
    return files, changed


def drive_differences(linux, wine):
    lines = []
    for rel in sorted(set(linux) | set(wine)):
        a, b = linux.get(rel), wine.get(rel)
        if a == b:
            continue
        if a is None:
            lines.append(f"only under Wine: {rel}")
        elif b is None:
            lines.append(f"only on Linux: {rel}")
        elif a[1] != b[1]:
            lines.append(f"{rel}: writable on Linux {a[1]}, under Wine {b[1]}")
        else:
            lines.append(f"{rel}: Linux {a[0][:300]!r}\n    Wine  {b[0][:300]!r}")
    return lines


def run_linux(program, machine, timeout=60):
    """Runs the Linux build in text mode, answering Yes and then OK."""
    done = subprocess.run(
        [str(program), "--machine", str(machine), "--ui", "text"],
        input=b"y\n\n\n", stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
    )
    return done.returncode, done.stdout.decode("latin-1")
