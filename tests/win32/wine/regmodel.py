"""Registry contents as plain data, read from a REGEDIT4 file (the Linux
store's registry.reg) or from regdump's output (the Wine registry), so the
two can be compared.

A registry is a dict: folded key path -> Key. Paths start with HKLM or HKCC;
names compare without regard to letter case, as the registry does.
"""

from dataclasses import dataclass, field

ROOTS = {"HKEY_LOCAL_MACHINE": "HKLM", "HKEY_CURRENT_CONFIG": "HKCC"}
REG_SZ = 1
REG_EXPAND_SZ = 2


@dataclass
class Key:
    path: str
    values: dict = field(default_factory=dict)  # folded name -> (name, type, data)


def fold(text):
    return text.upper()


def _string_data(data):
    # Windows 95 keeps every string with its terminating zero, and regedit adds
    # one when it imports a string written without it.
    return data if data.endswith(b"\0") else data + b"\0"


def _add_value(key, name, vtype, data):
    if vtype in (REG_SZ, REG_EXPAND_SZ):
        data = _string_data(data)
    key.values[fold(name)] = (name, vtype, data)


def _ensure(registry, path):
    parts = path.split("\\")
    for i in range(1, len(parts) + 1):
        sub = "\\".join(parts[:i])
        registry.setdefault(fold(sub), Key(sub))
    return registry[fold(path)]


def _unquote(text, pos, where):
    """Reads a quoted text starting at text[pos] == '"'; returns (bytes, end)."""
    out = bytearray()
    i = pos + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out += text[i + 1].encode("latin-1")
            i += 2
        elif c == '"':
            return bytes(out), i + 1
        else:
            out += c.encode("latin-1")
            i += 1
    raise ValueError(f"{where}: unterminated quoted text")


def parse_regedit4(raw, source):
    """Parses a REGEDIT4 file's bytes (ANSI) into a registry."""
    text = raw.decode("latin-1")
    lines = text.replace("\r\n", "\n").split("\n")
    registry = {}
    key = None
    i = 0
    while i < len(lines):
        line = lines[i]
        number = i + 1
        i += 1
        # Hex data continues on the next line after a trailing backslash.
        while line.endswith("\\") and i < len(lines) and "hex" in line:
            line = line[:-1] + lines[i].strip()
            i += 1
        stripped = line.strip()
        where = f"{source}:{number}"
        if not stripped or stripped == "REGEDIT4":
            continue
        if stripped.startswith("["):
            path = stripped[1:stripped.rindex("]")]
            root, _, rest = path.partition("\\")
            if root not in ROOTS:
                raise ValueError(f"{where}: unknown root {root}")
            key = _ensure(registry, ROOTS[root] + ("\\" + rest if rest else ""))
            continue
        if key is None:
            raise ValueError(f"{where}: value outside a key")
        if stripped.startswith("@="):
            name, rest = "", stripped[2:]
        else:
            name_bytes, end = _unquote(stripped, 0, where)
            name = name_bytes.decode("latin-1")
            rest = stripped[end + 1:]
        if rest.startswith('"'):
            data, _ = _unquote(rest, 0, where)
            _add_value(key, name, REG_SZ, data + b"\0")
        elif rest.startswith("dword:"):
            _add_value(key, name, 4, int(rest[6:], 16).to_bytes(4, "little"))
        elif rest.startswith("hex"):
            head, _, body = rest.partition(":")
            vtype = 3 if head == "hex" else int(head[4:-1], 16)
            data = bytes(int(b, 16) for b in body.replace(" ", "").split(",") if b)
            _add_value(key, name, vtype, data)
        else:
            raise ValueError(f"{where}: unknown value form {rest[:20]!r}")
    return registry


def parse_regdump(text, source):
    """Parses regdump's output (see regdump/regdump.cpp)."""
    registry = {}
    key = None
    for number, line in enumerate(text.splitlines(), 1):
        kind, _, rest = line.partition("\t")
        if kind == "key":
            key = _ensure(registry, rest)
        elif kind == "value":
            name, vtype, data = rest.split("\t")
            name = "" if name == "-" else bytes.fromhex(name).decode("latin-1")
            _add_value(key, name, int(vtype), b"" if data == "-" else bytes.fromhex(data))
        elif kind == "error":
            raise ValueError(f"{source}:{number}: {rest}")
    return registry


def subtree(registry, roots):
    """The keys at or below any of the given paths."""
    folded = [fold(r) for r in roots]
    return {
        k: v for k, v in registry.items()
        if any(k == r or k.startswith(r + "\\") for r in folded)
    }


def without_template(wine, template, corpus):
    """The Wine registry less what a fresh prefix brings and the run left
    alone: template keys and values that the corpus does not also have.
    Returns (registry, lines naming template content that the run removed)."""
    out = {}
    lost = []
    for k, t in template.items():
        if k not in wine and k not in corpus:
            lost.append(f"removed under Wine from the fresh prefix: [{t.path}]")
    for k, key in wine.items():
        t = template.get(k)
        if t is None:
            out[k] = key
            continue
        c = corpus.get(k)
        mine = c.values if c is not None else {}
        values = {
            n: v for n, v in key.values.items()
            if n in mine or t.values.get(n) != v
        }
        for n, v in t.values.items():
            if n not in key.values and n not in mine:
                lost.append(f"removed under Wine from the fresh prefix: [{t.path}] {n!r}")
        if c is not None or values:
            out[k] = Key(key.path, values)
    return out, lost


def differences(linux, wine):
    """Lines that say how two registries differ; empty when they are equal."""
    lines = []
    for k in sorted(set(linux) | set(wine)):
        a, b = linux.get(k), wine.get(k)
        if a is None:
            lines.append(f"only under Wine: [{b.path}]")
            continue
        if b is None:
            lines.append(f"only on Linux: [{a.path}]")
            continue
        for n in sorted(set(a.values) | set(b.values)):
            va, vb = a.values.get(n), b.values.get(n)
            if va != vb:
                lines.append(f"[{a.path}] {n!r}: Linux {va!r}, Wine {vb!r}")
    return lines
