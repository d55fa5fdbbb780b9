#!/usr/bin/env python3
"""Checks that an executable holds no instruction that an 80486 lacks.

uinq76.exe must start on the processors Windows 95 ran on. The disassembly of
every executable section is searched for the instructions of later processors:
the Pentium's CMPXCHG8B and RDTSC, the Pentium Pro's CMOVcc, FCMOVcc,
FCOMI(P), FUCOMI(P) and multi-byte NOP (0F 1F), SYSENTER/SYSEXIT, and every
MMX, SSE and AVX instruction. A function may hold them only if it runs after
CPUID has shown the feature; such functions are allowed by name below.

Usage: check_instructions.py OBJDUMP EXE [STRIPPED_EXE]
EXE must carry its symbol table, so that each find is named by its function.
With STRIPPED_EXE, the code of the two files is compared first: the check of
the symbol-carrying link stands for the stripped one that ships.
"""

import re
import subprocess
import sys

# Functions that run a newer instruction only after CPUID has reported it, and
# why.
ALLOWED = {
    # libstdc++'s std::random_device on RDRAND: used only when CPUID reports
    # RDRAND, and every processor that has RDRAND also has CMOV. The string
    # instantiations link it in; the program never makes a random_device.
    "__x86_rdrand": "runs only on a processor that reports RDRAND",
    "__x86_rdseed": "runs only on a processor that reports RDSEED",
    "__x86_rdseed_rdrand": "runs only on a processor that reports RDSEED and RDRAND",
}

# Mnemonics (without size suffixes) of instructions newer than the 80486.
NEWER = {
    "cmpxchg8b": "Pentium",
    "rdtsc": "Pentium",
    "rdmsr": "Pentium",
    "wrmsr": "Pentium",
    "rdpmc": "Pentium Pro",
    "fcomi": "Pentium Pro",
    "fcomip": "Pentium Pro",
    "fucomi": "Pentium Pro",
    "fucomip": "Pentium Pro",
    "sysenter": "Pentium II",
    "sysexit": "Pentium II",
    "emms": "MMX",
    "femms": "3DNow!",
    "prefetch": "3DNow!",
    "prefetchw": "3DNow!",
    "prefetchnta": "SSE",
    "prefetcht0": "SSE",
    "prefetcht1": "SSE",
    "prefetcht2": "SSE",
    "sfence": "SSE",
    "lfence": "SSE2",
    "mfence": "SSE2",
    "clflush": "SSE2",
    "movnti": "SSE2",
    "ldmxcsr": "SSE",
    "stmxcsr": "SSE",
    "fxsave": "Pentium II",
    "fxrstor": "Pentium II",
    "rdrand": "RDRAND",
    "rdseed": "RDSEED",
    "popcnt": "POPCNT",
    "lzcnt": "LZCNT",
    "movbe": "MOVBE",
    "crc32": "SSE4.2",
    "xgetbv": "XSAVE",
}
# TZCNT is not among them: compilers emit it as REP BSF, which every x86 runs
# as BSF (the prefix is ignored there), with the same result for a nonzero
# operand, the only one they use it for.
CMOV = re.compile(r"^f?cmov")
VECTOR_REGISTER = re.compile(r"%(mm|xmm|ymm|zmm)[0-9]")

# objdump -d lines: "<address> <function>:" starts a function, an instruction
# is "  address:\tbytes\tmnemonic operands".
FUNCTION = re.compile(r"^([0-9a-f]+) <(.+)>:$")
INSTRUCTION = re.compile(r"^ *([0-9a-f]+):\t([0-9a-f ]+?) *\t(.*)$")
SECTION = re.compile(r"^Disassembly of section (.+):$")


def disassemble(objdump, exe):
    result = subprocess.run([objdump, "-d", exe], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{objdump} -d {exe} failed: {result.stderr.strip()}")
    return result.stdout.splitlines()


def instructions(lines):
    """Yields (section, function, address, bytes, text) for each instruction."""
    section, function = "", "?"
    for line in lines:
        if m := SECTION.match(line):
            section, function = m.group(1), "?"
        elif m := FUNCTION.match(line):
            function = m.group(2)
        elif m := INSTRUCTION.match(line):
            yield section, function, int(m.group(1), 16), m.group(2).split(), m.group(3).strip()


def why_newer(code, text):
    """The processor that brought the instruction, or None for an 80486 one."""
    words = text.split()
    prefixes = {"lock", "rep", "repz", "repnz", "repe", "repne", "data16", "addr16", "cs", "ds",
                "es", "ss", "fs", "gs"}
    while words and words[0] in prefixes:
        words = words[1:]
    if not words or words[0].startswith("(bad)"):
        return None
    mnemonic = words[0]
    if CMOV.match(mnemonic):
        return "Pentium Pro"
    # Multi-byte NOP: opcode 0F 1F after any prefixes.
    opcode = [b for b in code if b not in ("66", "67", "f2", "f3", "2e", "3e", "26", "36", "64", "65")]
    if opcode[:2] == ["0f", "1f"]:
        return "Pentium Pro (multi-byte NOP)"
    if VECTOR_REGISTER.search(text):
        return "MMX/SSE/AVX"
    # objdump may add the AT&T size suffix (sysexitl, popcntl, crc32b).
    for name in (mnemonic, mnemonic.rstrip("bwlq")):
        if name in NEWER:
            return NEWER[name]
    return None


def demangled(objdump, names):
    """Function names as written in C/C++: without the underscore that the
    32-bit Windows ABI puts before every symbol (a function in a section of its
    own is named by the section, .text$NAME, without it), demangled."""
    plain = []
    for name in names:
        name = re.sub(r"\+0x[0-9a-f]+$", "", name)
        plain.append(name[len(".text$"):] if name.startswith(".text$") else re.sub(r"^_", "", name))
    cxxfilt = re.sub(r"objdump$", "c++filt", objdump)
    result = subprocess.run([cxxfilt, "--no-strip-underscore"], input="\n".join(plain) + "\n",
                            capture_output=True, text=True)
    if result.returncode != 0 or len(result.stdout.splitlines()) != len(plain):
        sys.exit(f"{cxxfilt} failed: {result.stderr.strip()}")
    return dict(zip(names, result.stdout.splitlines()))


def unqualified(name):
    """The function's own name, without namespaces, classes or parameters."""
    return re.sub(r"\([^()]*\)( const)?$", "", name).rsplit("::", 1)[-1]


def code_of(objdump, exe):
    """The contents of the code section, as objdump shows them in hex."""
    result = subprocess.run([objdump, "-s", "-j", ".text", exe], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{objdump} -s -j .text {exe} failed: {result.stderr.strip()}")
    return result.stdout.split("Contents of section .text:", 1)[-1]


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    objdump, exe = sys.argv[1], sys.argv[2]
    lines = disassemble(objdump, exe)
    if len(sys.argv) == 4:
        stripped = sys.argv[3]
        if code_of(objdump, exe) != code_of(objdump, stripped):
            sys.exit(f"{stripped}: its code differs from that of {exe}: rebuild both")

    newer, count = [], 0
    for section, function, address, code, text in instructions(lines):
        count += 1
        processor = why_newer(code, text)
        if processor is not None:
            newer.append((function, address, section, text, processor))
    names = demangled(objdump, sorted({function for function, *_ in newer}))
    finds, allowed = [], []
    for function, address, section, text, processor in newer:
        name = names[function]
        entry = f"  {address:#010x} in {name} ({section}): {text} [{processor}]"
        (allowed if unqualified(name) in ALLOWED else finds).append(entry)
    if count == 0:
        sys.exit(f"{exe}: no instructions in the disassembly")
    for entry in allowed:
        print(f"allowed: {entry.strip()}")
    if finds:
        print(f"{exe}: {len(finds)} instructions newer than the 80486:")
        print("\n".join(finds))
        return 1
    print(f"{exe}: {count} instructions, none newer than the 80486 "
          f"outside {len(allowed)} allowed in {', '.join(sorted(ALLOWED))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
