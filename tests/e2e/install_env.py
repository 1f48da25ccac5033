"""Where an install lands in the private prefix, read from outside: the install folder, the
shortcuts, the registry entries, config.json and the stand-in client's launch records; a clean
slate between tests; and the Error screen's message compared with the same message painted by
the probe program."""
import hashlib
import json
import os
import shlex
import shutil
import subprocess
import time

import harness

PREFIX = os.path.join(harness.WINE_ROOT, "prefix")
ENTRY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnokClient"
PROTOCOL = r"HKCU\Software\Classes\morvanta"
SCRATCH = os.path.join(harness.ROOT, "build", "e2e-install")


def wine_user():
    users = [u for u in os.listdir(os.path.join(PREFIX, "drive_c", "users")) if u != "Public"]
    assert len(users) == 1, f"expected one user in the prefix, found {users}"
    return users[0]


USER = wine_user()
PROFILE = os.path.join(PREFIX, "drive_c", "users", USER)
PROFILE_WIN = "C:\\users\\" + USER
LOCAL = os.path.join(PROFILE, "AppData", "Local")
FOLDER = os.path.join(LOCAL, "VarnokClient")  # the default install folder
FOLDER_WIN = PROFILE_WIN + r"\AppData\Local\VarnokClient"
CLIENT = os.path.join(FOLDER, "VarnokClient.exe")
PART = os.path.join(FOLDER, ".VarnokClient.exe.part")
UNINSTALLER = os.path.join(FOLDER, "Uninstall.exe")
LAUNCHES = os.path.join(FOLDER, "standin-launches.log")
CONFIG = os.path.join(LOCAL, "MorvantaLauncher", "config.json")
START_MENU = os.path.join(PROFILE, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                          "Programs", "Varnok Client")
START_MENU_LNK = os.path.join(START_MENU, "Varnok Client.lnk")
DESKTOP_LNK = os.path.join(PROFILE, "Desktop", "Varnok Client.lnk")
# A folder outside the profile for installs told where to go (--install-dir), with a space.
ELSEWHERE = os.path.join(PREFIX, "drive_c", "Varnok E2E")
ELSEWHERE_WIN = r"C:\Varnok E2E"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def digest(path):
    return hashlib.sha256(read(path)).hexdigest()


def remove_path(path):
    """A file, a link (never followed) or a whole folder."""
    if os.path.islink(path) or os.path.isfile(path):
        os.unlink(path)
    elif os.path.isdir(path):
        shutil.rmtree(path)


def copied_report(w, clipboard_probe):
    """Ctrl+C on the window, then what another program pastes from the clipboard."""
    w.keys("ctrl+c")
    deadline = time.time() + 10
    while True:
        r = harness.run_wine([clipboard_probe])
        text = r.stdout.decode("utf-8", "replace")
        if r.returncode == 0 and "Code: " in text:
            return text
        if time.time() > deadline:
            raise AssertionError(f"nothing copied (probe exit {r.returncode}): {text!r}")
        time.sleep(0.2)


def expect_reason(w, clipboard_probe, message, reason):
    """Ctrl+C on the Error screen copies `message` with the step, the code and one of the numbers
    the system may give for this failure ("Windows error: 32", "HTTP status: 404"), or none."""
    step, code, numbers = reason
    report = copied_report(w, clipboard_probe).split("\r\n")
    for line in (message, f"Step: {step}", f"Code: {code}"):
        assert line in report, f"{line!r} not in the copied report {report}"
    number = next((l for l in report if l.startswith(("Windows error: ", "HTTP status: "))), None)
    if not numbers:
        assert number is None, f"a number where none belongs: {report}"
        return
    assert number and any(number == n or number.startswith(n + " (") for n in numbers), \
        f"{number!r} is none of {numbers}"


def clean_slate(keep_scratch=False):
    """Nothing of an earlier install: folders, shortcuts, keys, config.json and (unless kept,
    with the tree a test serves from it) scratch."""
    for path in (FOLDER, START_MENU, DESKTOP_LNK, os.path.dirname(CONFIG), ELSEWHERE):
        remove_path(path)
    for key in (ENTRY, PROTOCOL):
        harness.run_wine(["reg", "delete", key, "/f"])
    if not keep_scratch:
        remove_path(SCRATCH)
        os.makedirs(SCRATCH)


def registry():
    """The uninstall entry's and the protocol's values, {subkey: {name: (type, data)}}."""
    tree = {}
    for key in (ENTRY, PROTOCOL):
        tree.update(harness.reg_query(key) or {})
    # Keys that only lead to others ("shell", "shell\open") hold no values of their own.
    return {key: values for key, values in tree.items() if values}


def expected_registry(version, size, folder_win=FOLDER_WIN):
    entry = ENTRY.replace("HKCU", "HKEY_CURRENT_USER")
    protocol = PROTOCOL.replace("HKCU", "HKEY_CURRENT_USER")
    exe = folder_win + r"\VarnokClient.exe"
    return {
        entry: {
            "DisplayName": ("REG_SZ", "Varnok Client"),
            "Publisher": ("REG_SZ", "Dravolt"),
            "DisplayVersion": ("REG_SZ", version),
            "DisplayIcon": ("REG_SZ", exe + ",0"),
            "InstallLocation": ("REG_SZ", folder_win),
            "UninstallString": ("REG_SZ", f'"{folder_win}\\Uninstall.exe" --uninstall'),
            "QuietUninstallString": ("REG_SZ",
                                     f'"{folder_win}\\Uninstall.exe" --uninstall --silent'),
            "NoModify": ("REG_DWORD", "0x1"),
            "NoRepair": ("REG_DWORD", "0x1"),
            "EstimatedSize": ("REG_DWORD", hex(max(1024, size // 1024))),
        },
        protocol: {"(Default)": ("REG_SZ", "URL:Varnok Client Protocol"),
                   "URL Protocol": ("REG_SZ", "")},
        protocol + r"\DefaultIcon": {"(Default)": ("REG_SZ", exe + ",0")},
        protocol + r"\shell\open\command": {"(Default)": ("REG_SZ", f'"{exe}" "%1"')},
    }


def shortcut_points_at_the_client(path, folder_win=FOLDER_WIN):
    """A saved shell link carries its target, working folder and description as text."""
    data = read(path)
    assert data[:4] == b"\x4c\x00\x00\x00", f"{path} is not a shell link"
    def has(text):
        return text.encode("utf-16-le") in data or text.encode("latin-1") in data
    for what, text in (("target", folder_win + r"\VarnokClient.exe"),
                       ("working folder", folder_win), ("description", "Varnok Client")):
        assert has(text), f"{path}: no {what} {text!r}"


def registered(name):
    """One text of the uninstall entry as registered, or None."""
    entry = harness.reg_query(ENTRY)
    values = (entry or {}).get(ENTRY.replace("HKCU", "HKEY_CURRENT_USER"), {})
    return values[name][1] if name in values else None


def uninstall_command():
    """The registered UninstallString, split the way Windows splits a command line."""
    text = registered("UninstallString")
    if text is None:
        return None
    return [part.strip('"') for part in shlex.split(text, posix=False)]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def visible_windows():
    """Every window the display shows, whatever its name, class or instance name."""
    return set(harness.xdotool("search", "--onlyvisible", "--name", "--class", "--classname", "",
                               check=False).split())


def run_unattended(probe, line, timeout=150.0):
    """`line` started as a deployment tool starts it (the probe creates the process and waits for
    it alone) while the display is watched: its whole exit code, and the windows that appeared
    at any moment of the run."""
    before, appeared = visible_windows(), set()
    proc = subprocess.Popen(["wine", probe, line], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + timeout
        while proc.poll() is None:
            assert time.time() < deadline, f"{line} did not end within {timeout} s"
            appeared |= visible_windows() - before
        out = proc.communicate(timeout=30)[0].decode("utf-8", "replace").split()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(20)
    assert len(out) == 2 and out[0] == "exit", f"the probe could not start {line}: {out}"
    return int(out[1]), appeared


def install_silently(probe, exe, args=(), timeout=150.0):
    """`exe --silent args` run unattended: its exit code, once it has shown nothing at all."""
    line = subprocess.list2cmdline([windows_path(exe), "--silent"] + list(args))
    code, appeared = run_unattended(probe, line, timeout)
    names = [harness.xdotool("getwindowname", w, check=False) for w in appeared]
    assert not appeared, f"{line} showed windows: {names}"
    return code


def linux_path(windows_path):
    assert windows_path.lower().startswith("c:\\"), windows_path
    return os.path.join(PREFIX, "drive_c", *windows_path[3:].split("\\"))


# The caption of the uninstaller's two message boxes.
MESSAGE_CAPTION = "Varnok Client"


def message_box(previous=None, timeout=30.0):
    """The X window of a visible message box other than `previous`, once it can take keys."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        ids = harness.xdotool("search", "--onlyvisible", "--name", f"^{MESSAGE_CAPTION}$",
                              check=False)
        ids = [i for i in ids.split() if i != previous]
        if ids:
            time.sleep(0.3)  # the box takes its keyboard focus after it shows
            return ids[0]
        time.sleep(0.1)
    raise AssertionError("no message box appeared")


def wait_gone(path, timeout=15.0):
    deadline = time.time() + timeout
    while os.path.lexists(path):
        assert time.time() < deadline, f"{path} is still there"
        time.sleep(0.2)


def launches():
    if not os.path.exists(LAUNCHES):
        return []
    with open(LAUNCHES, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def leftover_parts():
    """Partial downloads in the install folder. The partial file's name starts with a dot, which
    a shell-style pattern would pass over, so the folder is listed instead."""
    if not os.path.isdir(FOLDER):
        return []
    return [name for name in os.listdir(FOLDER) if name.endswith(".part")]


def reference_message(probe, message):
    """The Error screen with `message`, painted by the probe at scale 1: a pixel function."""
    folder = os.path.join(harness.ROOT, "build", "e2e-messages")
    os.makedirs(folder, exist_ok=True)
    png = os.path.join(folder, hashlib.sha1(message.encode()).hexdigest() + ".png")
    if not os.path.exists(png):
        win_png = "Z:" + png.replace("/", "\\")
        r = harness.run_wine([probe, win_png, message])
        assert r.returncode == 0, f"the message probe failed with {r.returncode}"
    _, _, pixel = harness.read_png(png)
    return pixel


# The message's box on the Error screen, inside its border.
MESSAGE_BOX = (50, 184, 390, 236)


def message_mismatch(shot, probe, message):
    """How many pixels of the message box differ from the reference (tolerance 12 a channel)."""
    want = reference_message(probe, message)
    x0, y0, x1, y1 = MESSAGE_BOX
    return sum(1 for y in range(y0, y1) for x in range(x0, x1)
               if not harness.close_to(shot.pixel(x, y), want(x, y), 12))


def expect_message(shot, probe, message):
    x0, y0, x1, y1 = MESSAGE_BOX
    allowed = (x1 - x0) * (y1 - y0) // 200  # half a percent: anti-aliasing at glyph edges
    wrong = message_mismatch(shot, probe, message)
    assert wrong <= allowed, (f"the message on screen is not {message!r}: {wrong} pixels differ; "
                              f"saved {shot.save('message')}")


def install_once(exe, standin, version="1.0.0"):
    """A real install through the window (launch after install cleared), ended on Done."""
    import installer_window
    from update_server import UpdateServer, publish
    www = os.path.join(SCRATCH, "www")
    client = os.path.join(SCRATCH, "client.exe")
    shutil.copyfile(standin, client)
    publish(www, client, version, 1)
    with UpdateServer(www):
        w = installer_window.Window(exe)
        try:
            w.click(250, 238)  # Launch after install
            w.click(200, 285)  # Install
            w.wait_for(installer_window.is_done, "the Done screen", timeout=90)
        finally:
            w.close()
