"""The shipped executables import only Windows' KnownDLLs: no MinGW runtime beside them, and no
library that Windows would look for in the folder they were started from first."""
import os
import re
import subprocess
import sys

import harness


def known_dlls():
    """The list the build's own check holds the installer to."""
    text = open(os.path.join(harness.ROOT, "cmake", "CheckKnownDllImports.cmake")).read()
    block = re.search(r"# KNOWN_DLLS_BEGIN\nset\(KNOWN_DLLS(.*?)\)\n# KNOWN_DLLS_END", text, re.S)
    names = {name + ".dll" for name in block.group(1).split()}
    assert {"kernel32.dll", "user32.dll", "gdiplus.dll"} <= names, names
    return names


SYSTEM_DLLS = known_dlls()


def imports_of(path):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                         text=True, check=True).stdout
    return [line.split("DLL Name:", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line]


def make_test(path):
    def test():
        names = imports_of(path)
        assert names, "no imports found"
        foreign = [n for n in names if n.lower() not in SYSTEM_DLLS]
        assert not foreign, f"imports beyond KnownDLLs: {foreign}"
    test.__name__ = "test_imports_only_system_dlls_" + path.rsplit("/", 1)[-1]
    return test


def test_standin_is_at_least_64_kib_and_starts_with_mz():
    standin = sys.argv[2]
    data = open(standin, "rb").read()
    assert data[:2] == b"MZ", "stand-in does not start with MZ"
    assert len(data) >= 65536, f"stand-in is only {len(data)} bytes"


if __name__ == "__main__":
    harness.main([make_test(sys.argv[1]), make_test(sys.argv[2]), test_standin_is_at_least_64_kib_and_starts_with_mz])
