"""Registration read from outside the process that wrote it: every value of the uninstall entry
and the morvanta protocol through `wine reg query`, and a morvanta: link followed by the shell's
URL handling to the stand-in client."""
import json
import os
import shutil
import sys
import time

import harness

PROBE, STANDIN = sys.argv[1], sys.argv[2]
ENTRY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnokClient"
PROTOCOL = r"HKCU\Software\Classes\morvanta"
MACHINE_PROTOCOL = r"HKLM\Software\Classes\morvanta"
SCRATCH = os.path.join(harness.WINE_ROOT, "prefix", "drive_c", "varnok-e2e-registration")
FOLDER = r"C:\varnok-e2e-registration\Varnok Client Test"
EXE = FOLDER + r"\VarnokClient.exe"
LOG = r"C:\varnok-e2e-registration\launches.log"
LOG_LINUX = os.path.join(SCRATCH, "launches.log")
# A space and a percent escape: only a quoted "%1" hands this over as one argument.
LINK = "morvanta://join/eu-1?name=Zoe K&ticket=a%20b&mode=1"


def clean():
    harness.run_wine([PROBE, "unregister"])
    harness.run_wine(["reg", "delete", MACHINE_PROTOCOL, "/f"])
    shutil.rmtree(SCRATCH, ignore_errors=True)


def register(version="2.5.0", size=10485760):
    os.makedirs(os.path.join(SCRATCH, "Varnok Client Test"), exist_ok=True)
    shutil.copyfile(STANDIN, os.path.join(SCRATCH, "Varnok Client Test", "VarnokClient.exe"))
    r = harness.run_wine([PROBE, "register", FOLDER, version, str(size)])
    assert r.returncode == 0, f"probe exit {r.returncode}"


def launches():
    if not os.path.exists(LOG_LINUX):
        return []
    with open(LOG_LINUX, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def open_link(link):
    """Starts the link through Wine's shell (start.exe, ShellExecuteEx) and waits for a launch."""
    harness.run_wine(["start", link], extra_env={"VARNOK_STANDIN_LOG": LOG})
    deadline = time.time() + 10
    while time.time() < deadline and not launches():
        time.sleep(0.2)
    time.sleep(0.5)  # a second, unexpected start would show up here
    return launches()


def test_reg_query_shows_every_value_with_its_type_and_text():
    clean()
    try:
        register()
        entry = harness.reg_query(ENTRY)
        assert entry is not None, "uninstall entry missing"
        assert entry[ENTRY.replace("HKCU", "HKEY_CURRENT_USER")] == {
            "DisplayName": ("REG_SZ", "Varnok Client"),
            "Publisher": ("REG_SZ", "Dravolt"),
            "DisplayVersion": ("REG_SZ", "2.5.0"),
            "DisplayIcon": ("REG_SZ", EXE + ",0"),
            "InstallLocation": ("REG_SZ", FOLDER),
            "UninstallString": ("REG_SZ", f'"{FOLDER}\\Uninstall.exe" --uninstall'),
            "QuietUninstallString": ("REG_SZ", f'"{FOLDER}\\Uninstall.exe" --uninstall --silent'),
            "NoModify": ("REG_DWORD", "0x1"),
            "NoRepair": ("REG_DWORD", "0x1"),
            "EstimatedSize": ("REG_DWORD", "0x2800"),
        }, entry
        protocol = harness.reg_query(PROTOCOL)
        assert protocol is not None, "protocol key missing"
        root = PROTOCOL.replace("HKCU", "HKEY_CURRENT_USER")
        assert protocol[root] == {"(Default)": ("REG_SZ", "URL:Varnok Client Protocol"),
                                  "URL Protocol": ("REG_SZ", "")}, protocol
        assert protocol[root + r"\DefaultIcon"] == {"(Default)": ("REG_SZ", EXE + ",0")}, protocol
        assert protocol[root + r"\shell\open\command"] == {
            "(Default)": ("REG_SZ", f'"{EXE}" "%1"')}, protocol
    finally:
        clean()


def test_morvanta_link_opens_the_client_with_the_whole_link_as_its_one_argument():
    clean()
    try:
        register()
        started = open_link(LINK)
        if not started and harness.reg_query(r"HKCR\morvanta") is None:
            raise harness.Skip("Wine 8 does not merge HKCU\\Software\\Classes into "
                               "HKEY_CLASSES_ROOT, so its shell cannot see a per-user protocol "
                               "(Windows does); see the machine-classes test below")
        assert len(started) == 1, f"expected one start, got {started}"
        assert started[0]["args"] == [LINK], started
    finally:
        clean()


def test_registered_command_opens_the_client_when_wine_shell_can_see_it():
    """Wine only: the command text we wrote, copied unchanged into the machine classes that
    Wine's shell reads, makes a morvanta: link start the client with the link as one argument."""
    clean()
    try:
        register()
        r = harness.run_wine(["reg", "copy", PROTOCOL, MACHINE_PROTOCOL, "/s", "/f"])
        assert r.returncode == 0, "reg copy failed"
        started = open_link(LINK)
        assert len(started) == 1, f"expected one start, got {started}"
        assert started[0]["args"] == [LINK], started
    finally:
        clean()


if __name__ == "__main__":
    harness.main([test_reg_query_shows_every_value_with_its_type_and_text,
                  test_morvanta_link_opens_the_client_with_the_whole_link_as_its_one_argument,
                  test_registered_command_opens_the_client_when_wine_shell_can_see_it])
