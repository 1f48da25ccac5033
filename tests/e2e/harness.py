"""Drives the real installer under Wine and Xvfb like a person would, and reads results from
outside: windows through xdotool, pixels from screenshots, the registry through `wine reg`.

Every test script imports this module; scripts/lib/wine-session.sh has already started the
display, the private prefix and a persistent wineserver.
"""
import os
import struct
import subprocess
import sys
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_ROOT = os.environ.get("VARNOK_WINE_ROOT", os.path.join(ROOT, "build", "wine"))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
WINE_BIN = os.path.join(ROOT, "scripts", "lib", "wine-bin")


class Skip(Exception):
    """A behaviour Wine cannot show; reported by name, never as a pass."""


def wine_env(extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(WINE_ROOT, "prefix")
    env["HOME"] = os.path.join(WINE_ROOT, "home")
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d;mscoree,mshtml="
    # wine through the wrapper that starts it with the address layout it needs
    if WINE_BIN not in env.get("PATH", "").split(os.pathsep):
        env["PATH"] = WINE_BIN + os.pathsep + env.get("PATH", "")
    for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(k, None)
    display_file = os.path.join(WINE_ROOT, "display")
    if os.path.exists(display_file):
        env["DISPLAY"] = open(display_file).read().strip()
    if extra:
        env.update(extra)
    return env


def run_wine(args, timeout=60, extra_env=None):
    return subprocess.run(["wine"] + list(args), env=wine_env(extra_env), capture_output=True,
                          timeout=timeout)


def start_wine(args, extra_env=None):
    return subprocess.Popen(["wine"] + list(args), env=wine_env(extra_env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def xdotool(*args, check=True, timeout=30):
    r = subprocess.run(["xdotool"] + [str(a) for a in args], env=wine_env(), capture_output=True,
                       text=True, timeout=timeout)
    if check and r.returncode != 0:
        raise AssertionError(f"xdotool {' '.join(map(str, args))} failed: {r.stderr.strip()}")
    return r.stdout.strip()


def wait_for_window(title, timeout=30.0):
    """The X window id of the first visible window whose name is exactly `title`."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        out = xdotool("search", "--onlyvisible", "--name", f"^{title}$", check=False)
        ids = [line for line in out.splitlines() if line.strip()]
        if ids:
            return ids[0]
        time.sleep(0.1)
    raise AssertionError(f"no window titled {title!r} within {timeout} s")


def window_geometry(window):
    out = xdotool("getwindowgeometry", "--shell", window)
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def display_size():
    w, h = xdotool("getdisplaygeometry").split()
    return int(w), int(h)


def press_keys(window, keys):
    """Keys go to the focused window: there is no window manager to activate one, and events
    sent straight to a window (xdotool --window) are ignored by Wine."""
    xdotool("windowfocus", window, check=False)
    xdotool("key", keys)


def wait_until(predicate, what, timeout=30.0):
    """Polls `predicate` until it holds; fails naming `what` when it never does."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def wait_exit(proc, timeout=20.0):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise AssertionError(f"process did not end within {timeout} s")


def reg_set_dword(key, name, value):
    run_wine(["reg", "add", key, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f"])


def reg_delete_value(key, name):
    run_wine(["reg", "delete", key, "/v", name, "/f"])


def reg_query(key):
    """{subkey: {name: (type, data)}} for a key and its subkeys, as reg.exe prints them."""
    r = run_wine(["reg", "query", key, "/s"])
    if r.returncode != 0:
        return None
    tree, current = {}, None
    for line in r.stdout.decode("utf-8", "replace").replace("\r", "").split("\n"):
        if line.startswith("HKEY_"):
            current = tree.setdefault(line.strip(), {})
        elif line.startswith("    ") and current is not None:
            parts = line[4:].split("    ", 2)
            if len(parts) >= 2:
                current[parts[0]] = (parts[1], parts[2] if len(parts) == 3 else "")
    return tree


def screenshot(path):
    """The whole X screen as PNG (ImageMagick's import from Debian, not a stand-in)."""
    # PNG24 keeps the layout read_png understands: ImageMagick would otherwise pick a palette
    # or a 1-bit grey image for screens with few colours.
    subprocess.run(["/usr/bin/import", "-window", "root", "PNG24:" + path], env=wine_env(), check=True,
                   capture_output=True, timeout=30)
    return path


def read_png(path):
    """(width, height, rows of (r, g, b, a)) for 8-bit RGB or RGBA PNGs, non-interlaced."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height, ctype = 8, b"", 0, 0, 0
    while pos < len(data):
        n = struct.unpack(">I", data[pos:pos + 4])[0]
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and ctype in (2, 6) and interlace == 0, "unsupported PNG layout"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    channels = 4 if ctype == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 0xFF
            elif f == 2:
                line[i] = (line[i] + b) & 0xFF
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(line)
        prev = line
    def pixel(x, y):
        i = x * channels
        px = rows[y][i:i + channels]
        return (px[0], px[1], px[2], px[3] if channels == 4 else 255)
    return width, height, pixel


def close_to(actual, expected, tolerance=6):
    return all(abs(a - e) <= tolerance for a, e in zip(actual[:3], expected[:3]))


def main(tests):
    """Runs named test functions; prints one line each and the closing count line."""
    passed = failed = skipped = 0
    for test in tests:
        name = test.__name__
        start = time.time()
        try:
            test()
            passed += 1
            print(f"PASS {name} ({time.time() - start:.1f} s)")
        except Skip as e:
            skipped += 1
            print(f"SKIP {name}: {e}")
        except Exception as e:  # noqa: BLE001 - every failure is reported and counted
            failed += 1
            print(f"FAIL {name}: {type(e).__name__}: {e}")
        sys.stdout.flush()
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    # ctest treats exit code 77 as skipped only when asked; a failure always wins.
    sys.exit(1 if failed else 0)
