"""The shipped executables import only Windows system DLLs: no MinGW runtime beside them."""
import subprocess
import sys

import harness

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "shlwapi.dll", "winhttp.dll", "bcrypt.dll", "gdiplus.dll", "dwmapi.dll",
    "msvcrt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "ws2_32.dll", "uxtheme.dll",
    "oleacc.dll",
}


def imports_of(path):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                         text=True, check=True).stdout
    return [line.split("DLL Name:", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line]


def make_test(path):
    def test():
        names = imports_of(path)
        assert names, "no imports found"
        foreign = [n for n in names if n.lower() not in SYSTEM_DLLS and not n.lower().startswith("api-ms-win-")]
        assert not foreign, f"imports beyond the system DLLs: {foreign}"
    test.__name__ = "test_imports_only_system_dlls_" + path.rsplit("/", 1)[-1]
    return test


def test_standin_is_at_least_64_kib_and_starts_with_mz():
    standin = sys.argv[2]
    data = open(standin, "rb").read()
    assert data[:2] == b"MZ", "stand-in does not start with MZ"
    assert len(data) >= 65536, f"stand-in is only {len(data)} bytes"


if __name__ == "__main__":
    harness.main([make_test(sys.argv[1]), make_test(sys.argv[2]), test_standin_is_at_least_64_kib_and_starts_with_mz])
