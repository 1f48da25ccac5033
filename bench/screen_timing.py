#!/usr/bin/env python3
"""Times what a person sees, from outside the program, one way for every program compared:

  startup LX LY RRGGBB RUNS EXE TITLE [EXE TITLE ...]
      from the start of `wine EXE` until its window titled TITLE is mapped and shows the colour
      RRGGBB at the window point (LX, LY); the median of RUNS starts of each, in seconds.
  install EXE STANDIN BENCH SIZE RUNS
      a real install through the window of a SIZE-byte client (the stand-in padded): from the
      release of the Install click until the Done screen shows; then the same steps run one by one
      by the benchmark program BENCH (manifest fetch and check, download, placing the client).

The screen is read with Xlib's XGetImage, one pixel at a time, every 2 ms or so, so the moment is
known to a few milliseconds; a screenshot tool would add tens. Run inside the Wine session
(scripts/lib/wine-session.sh). Prints key=value lines.
"""
import ctypes
import ctypes.util
import hashlib
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
import harness  # noqa: E402


class _WindowAttributes(ctypes.Structure):
    """Xlib's XWindowAttributes."""
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class _Screen:
    """The X screen, read directly."""

    def __init__(self):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x = self.x
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XGetImage.restype = ctypes.c_void_p
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XGetPixel.restype = ctypes.c_ulong
        x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        x.XDestroyImage.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                 ctypes.POINTER(ctypes.c_char_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        display = harness.wine_env().get("DISPLAY", "").encode()
        self.dpy = x.XOpenDisplay(display)
        if not self.dpy:
            raise SystemExit("cannot open the X display")
        self.root = x.XDefaultRootWindow(self.dpy)
        # A window that goes away between two calls would otherwise end this process.
        handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self._ignore = handler(lambda display, event: 0)
        x.XSetErrorHandler(self._ignore)

    def mapped_window(self, title):
        """(x, y) of a mapped top-level window named exactly `title`, or None."""
        x = self.x
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent),
                            ctypes.byref(children), ctypes.byref(count)):
            return None
        try:
            for i in range(count.value):
                w = children[i]
                name = ctypes.c_char_p()
                if not x.XFetchName(self.dpy, w, ctypes.byref(name)) or not name.value:
                    continue
                matches = name.value == title.encode()
                x.XFree(name)
                if not matches:
                    continue
                attrs = _WindowAttributes()
                if not x.XGetWindowAttributes(self.dpy, w, ctypes.byref(attrs)):
                    continue
                if attrs.map_state == 2:  # IsViewable
                    return attrs.x, attrs.y
        finally:
            if children:
                x.XFree(children)
        return None

    def pixel(self, sx, sy):
        image = self.x.XGetImage(self.dpy, self.root, sx, sy, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return None
        value = self.x.XGetPixel(image, 0, 0)
        self.x.XDestroyImage(image)
        return (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF


def colour(text):
    value = int(text, 16)
    return (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF


def wait_shown(screen, title, lx, ly, want, timeout=30.0, proc=None):
    """Polls until the window shows `want` at (lx, ly); returns the monotonic time it did."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        origin = screen.mapped_window(title)
        if origin is not None:
            got = screen.pixel(origin[0] + lx, origin[1] + ly)
            if got is not None and harness.close_to(got, want, 8):
                return time.monotonic()
        if proc is not None and proc.poll() is not None:
            raise SystemExit(f"{title}: the program ended with {proc.returncode} before showing")
        time.sleep(0.002)
    raise SystemExit(f"{title}: not shown within {timeout} s")


def wait_gone(screen, title, timeout=20.0):
    deadline = time.monotonic() + timeout
    while screen.mapped_window(title) is not None and time.monotonic() < deadline:
        time.sleep(0.02)


def startup(programs, lx, ly, rgb, runs):
    """The programs take turns, so that a busy moment of the machine hits them alike."""
    screen = _Screen()
    want = colour(rgb)
    times = {exe: [] for exe, _ in programs}
    for _ in range(runs):
        for exe, title in programs:
            wait_gone(screen, title)
            start = time.monotonic()
            proc = subprocess.Popen(["wine", exe], env=harness.wine_env(),
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            try:
                times[exe].append(wait_shown(screen, title, lx, ly, want, proc=proc) - start)
            finally:
                proc.kill()
                proc.wait(20)
    for exe, values in times.items():
        print(f"program={os.path.basename(exe)} seconds={statistics.median(values):.4f} "
              f"runs={','.join(f'{t:.4f}' for t in values)}")


def field(line, key):
    for part in line.split():
        if part.startswith(key + "="):
            return part.split("=", 1)[1]
    return None


def run_bench(bench, *args):
    r = harness.run_wine([bench] + list(args), timeout=300)
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    if r.returncode != 0:
        raise SystemExit(f"{os.path.basename(bench)} {args[0]} failed ({r.returncode}): {out}")
    return out.splitlines()


def install(exe, standin, bench, size, runs):
    import install_env as env
    import installer_window
    from update_server import PORT, UpdateServer, publish

    # Outside the tests' scratch folder, which every clean slate removes.
    work = os.path.join(harness.ROOT, "build", "windows", "bench-out", "install")
    os.makedirs(work, exist_ok=True)
    www = os.path.join(work, "www")
    client = os.path.join(work, "client.exe")
    with open(standin, "rb") as f:
        data = f.read()
    # Extra bytes after the image leave it a valid executable.
    data += os.urandom(max(0, size - len(data)))
    with open(client, "wb") as f:
        f.write(data)
    published = publish(www, client, "1.0.0", 1)
    digest = hashlib.sha256(data).hexdigest()
    base = f"https://localhost:{PORT}"
    folder_win = env.FOLDER_WIN
    exe_win = "Z:" + os.path.abspath(exe).replace("/", "\\")
    screen = _Screen()
    done_colour = installer_window.mix(0x799905, 0x536904, 33.5 / 38)
    whole, parts = [], {}

    def part(name, seconds):
        parts.setdefault(name, []).append(float(seconds))

    with UpdateServer(www):
        for _ in range(runs):
            env.clean_slate()
            w = installer_window.Window(exe)
            try:
                w.click(250, 238)  # Launch after install cleared: the window stays on Done
                w.down(200, 285)
                start = time.monotonic()
                harness.xdotool("mouseup", 1)
                done = wait_shown(screen, installer_window.TITLE, 220, 190, done_colour,
                                  timeout=120, proc=w.proc)
                whole.append(done - start)
            finally:
                w.close()
            # The same steps one by one, against the same server and into the same folder.
            env.clean_slate()
            for line in run_bench(bench, "manifest", base, folder_win.encode("utf-8").decode()):
                if field(line, "mode") in ("manifest-fetch", "manifest-verify"):
                    part(field(line, "mode"), field(line, "seconds"))
            os.makedirs(env.FOLDER, exist_ok=True)
            part_win = folder_win + "\\.VarnokClient.exe.part"
            for line in run_bench(bench, "download", base + "/api/updates/files/" +
                                  os.path.basename(published), part_win, str(len(data)), digest):
                if field(line, "mode") == "download":
                    part("download", field(line, "seconds"))
            for line in run_bench(bench, "place", part_win, folder_win, exe_win):
                if field(line, "step"):
                    part(field(line, "step"), field(line, "seconds"))
    env.clean_slate()
    medians = {name: statistics.median(values) for name, values in parts.items()}
    print(f"click_to_done={statistics.median(whole):.4f} runs={' '.join(f'{t:.4f}' for t in whole)}")
    for name, value in medians.items():
        print(f"part={name} seconds={value:.4f}")
    print(f"parts_sum={sum(medians.values()):.4f}")


def main():
    if len(sys.argv) >= 8 and len(sys.argv) % 2 == 0 and sys.argv[1] == "startup":
        _, _, lx, ly, rgb, runs, *rest = sys.argv
        startup(list(zip(rest[::2], rest[1::2])), int(lx), int(ly), rgb, int(runs))
    elif len(sys.argv) == 7 and sys.argv[1] == "install":
        _, _, exe, standin, bench, size, runs = sys.argv
        install(exe, standin, bench, int(size), int(runs))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
