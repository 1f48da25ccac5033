#!/usr/bin/env python3
"""Where the installer's bytes come from: the stripped file's sections, and the code and data
sections split by origin from the linker map (which object or archive each kept input section
came from; template code instantiated in our objects is told apart by its symbol name).

  size_breakdown.py STRIPPED_EXE LINKER_MAP OBJDUMP

Prints key=value lines and a small table.
"""
import collections
import os
import re
import subprocess
import sys

# Sections whose input pieces the map attributes; the rest are reported whole.
SPLIT = (".text", ".data", ".rdata", ".pdata", ".xdata", ".bss")

ORIGINS = [
    # (origin, test on the archive or object file name)
    ("our code", lambda f: "libvarnok_core.a" in f or "VarnokClientSetup.dir" in f),
    ("libstdc++", lambda f: "libstdc++" in f or "libsupc++" in f),
    ("libgcc", lambda f: "libgcc" in f),
    ("winpthread", lambda f: "libwinpthread" in f or "libpthread" in f),
    ("mingw crt", lambda f: any(n in f for n in ("libmingw", "crt2.o", "crtbegin", "crtend",
                                                  "libmsvcrt", "libucrt", "libmoldname"))),
]


def origin_of(path, section):
    for name, test in ORIGINS:
        if test(path):
            if name == "our code":
                # nlohmann/json and the standard library are header code: their instantiations
                # sit in our objects, one section per function.
                if "nlohmann" in section:
                    return "nlohmann/json (in our objects)"
                if re.search(r"\$_Z(N|NK)?St|\$_ZSt|\$_ZNKSt|\$_ZNSt", section):
                    return "std templates (in our objects)"
            return name
    if path.endswith(".a") or ".a(" in path:
        return "import stubs and other libraries"
    return "other"


def member_of(path):
    """"libstdc++.a(string-inst.o)" from a full archive path, or the object's own name."""
    return os.path.basename(path.split("(")[0]) + ("(" + path.split("(", 1)[1] if "(" in path else "")


def parse_map(path, members):
    """{(output section, origin): bytes} for the kept input sections; `members` gets the bytes
    of each archive member or object outside .bss."""
    sizes = collections.Counter()
    in_memory_map = False
    output = None
    pending = None  # an input section name whose numbers are on the next line
    entry = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("Linker script and memory map"):
                in_memory_map = True
                continue
            if not in_memory_map:
                continue
            m = re.match(r"^(\.[A-Za-z_.$]+)\s", line) or re.match(r"^(\.[A-Za-z_.$]+)$", line)
            if m and not line.startswith(" "):
                output = m.group(1)
                pending = None
                continue
            if output not in SPLIT:
                continue
            m = re.match(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if m:
                sizes[(output, origin_of(m.group(3), m.group(1)))] += int(m.group(2), 16)
                if output != ".bss":
                    members[member_of(m.group(3))] += int(m.group(2), 16)
                pending = None
                continue
            m = re.match(r"^ (\S+)$", line)
            if m:
                pending = m.group(1)
                continue
            m = entry.match(line)
            if m and pending:
                sizes[(output, origin_of(m.group(2), pending))] += int(m.group(1), 16)
                if output != ".bss":
                    members[member_of(m.group(2))] += int(m.group(1), 16)
                pending = None
    return sizes


def sections(exe, objdump):
    out = subprocess.run([objdump, "-h", exe], check=True, capture_output=True,
                         text=True).stdout
    result = {}
    for line in out.splitlines():
        m = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s", line)
        if m:
            result[m.group(1)] = int(m.group(2), 16)
    return result


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    exe, map_path, objdump = sys.argv[1:]
    total = os.path.getsize(exe)
    secs = sections(exe, objdump)
    print(f"stripped_bytes={total}")
    print("sections: " + ", ".join(f"{name} {size}" for name, size in secs.items()))
    members = collections.Counter()
    sizes = parse_map(map_path, members)
    by_origin = collections.Counter()
    for (section, origin), size in sizes.items():
        if section != ".bss":  # takes no room in the file
            by_origin[origin] += size
    by_origin["resources (.rsrc: icons, logo, manifest, version)"] = secs.get(".rsrc", 0)
    by_origin["imports (.idata)"] = secs.get(".idata", 0)
    by_origin["relocations (.reloc)"] = secs.get(".reloc", 0)
    counted = sum(by_origin.values())
    by_origin["headers, alignment, .CRT, .tls"] = total - counted
    print("by origin (bytes in the file; code with its unwind tables, data):")
    for origin, size in by_origin.most_common():
        print(f"  {origin:<52} {size:>8}  {100.0 * size / total:5.1f}%")
    print("by origin and section:")
    for origin in sorted({o for _, o in sizes}):
        parts = ", ".join(f"{s} {sizes[(s, origin)]}" for s in SPLIT if sizes[(s, origin)])
        print(f"  {origin}: {parts}")
    print("biggest objects and archive members (template code counted where it was compiled):")
    for member, size in members.most_common(12):
        print(f"  {member:<60} {size:>8}")


if __name__ == "__main__":
    main()
