"""The installer window as the end-to-end tests see it: one running installer driven through
xdotool at logical client coordinates, screenshots of its client area read as raw RGB, and the
colours and points that tell its screens apart."""
import os
import subprocess
import time

import harness

OUT = os.path.join(harness.ROOT, "build")
TITLE = "Varnok Client"

FIELD, ACCENT, ACCENT_LIGHT = 0x101822, 0x66C0F4, 0x82CEFA
ERROR_PANEL = 0x34181C


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def mix(a, b, t):
    """Where a vertical gradient from a to b stands at fraction t."""
    return tuple(round(x + (y - x) * t) for x, y in zip(rgb(a), rgb(b)))


def body_at(y):
    return mix(0x1E2E41, 0x172230, (y + 0.5 - 36) / 300)


def header_at(y):
    return mix(0x252B34, 0x13161C, (y + 0.5) / 36)


# Looks of the controls at logical points away from text and edges.
IDLE_INSTALL = mix(0x799905, 0x536904, 5.5 / 40)      # (60, 270): inner gradient, idle
HOVER_INSTALL = mix(0xA1BF07, 0x80A006, 5.5 / 40)     # the same point hovered
PRESSED_INSTALL = mix(0x627D05, 0x485C03, 5.5 / 40)   # the same point pressed
IDLE_CANCEL = mix(0x2E435B, 0x233346, 21.5 / 42)      # (276, 285): the wide Cancel button
HOVER_CANCEL = mix(0x3A5471, 0x2D425A, 21.5 / 42)     # the same point hovered
HOVER_MINIMIZE = rgb(0x2A3848)
HOVER_CLOSE = rgb(0xAD3838)


class Window:
    """One running installer and its window."""

    def __init__(self, exe, scale=1.0, args=(), extra_env=None):
        release_input()
        self.scale = scale
        self.proc = harness.start_wine([exe] + list(args), extra_env)
        self.id = harness.wait_for_window(TITLE)
        self.wait_painted()

    def origin(self):
        x, y, _, _ = harness.window_geometry(self.id)
        return x, y

    def screen_point(self, lx, ly):
        x, y = self.origin()
        return x + int(lx * self.scale), y + int(ly * self.scale)

    def move(self, lx, ly):
        harness.xdotool("mousemove", *self.screen_point(lx, ly))

    def down(self, lx, ly):
        self.move(lx, ly)
        harness.xdotool("mousedown", 1)

    def up(self, lx, ly):
        self.move(lx, ly)
        harness.xdotool("mouseup", 1)

    def click(self, lx, ly):
        self.down(lx, ly)
        harness.xdotool("mouseup", 1)

    def keys(self, *names):
        """These keys, and only these, to the window once it has the focus."""
        harness.xdotool("windowfocus", self.id, check=False)
        harness.xdotool("key", *names)

    def shot(self):
        return Shot(self)

    def wait_painted(self):
        self.wait_for(lambda s: s.near(200, 20, header_at(20)), "the window to be painted")

    def wait_for(self, predicate, what, timeout=6.0):
        """Takes screenshots until `predicate` holds for one; returns that screenshot."""
        deadline = time.time() + timeout
        last = None
        while time.time() < deadline:
            last = self.shot()
            if predicate(last):
                return last
            time.sleep(0.05)
        raise AssertionError(f"timed out waiting for {what}; last look saved as {last.save('timeout')}")

    def close(self, timeout=20.0):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout)
        release_input()


class Shot:
    """The window's client area as raw RGB, read once from the X screen."""

    def __init__(self, window):
        x, y, w, h = harness.window_geometry(window.id)
        self.window, self.w, self.h = window, w, h
        self.geometry = f"{w}x{h}+{x}+{y}"
        self.data = subprocess.run(["/usr/bin/import", "-window", "root", "-crop", self.geometry,
                                    "+repage", "-depth", "8", "rgb:-"], env=harness.wine_env(),
                                   check=True, capture_output=True, timeout=30).stdout
        assert len(self.data) == w * h * 3, f"screenshot of {len(self.data)} bytes for {w}x{h}"

    def pixel(self, lx, ly):
        s = self.window.scale
        i = (int(ly * s) * self.w + int(lx * s)) * 3
        return tuple(self.data[i:i + 3])

    def near(self, lx, ly, colour, tolerance=8):
        want = rgb(colour) if isinstance(colour, int) else colour
        return harness.close_to(self.pixel(lx, ly), want, tolerance)

    def expect(self, lx, ly, colour, what, tolerance=8):
        want = rgb(colour) if isinstance(colour, int) else colour
        assert self.near(lx, ly, want, tolerance), \
            f"{what} at ({lx}, {ly}): {self.pixel(lx, ly)}, expected {want}; saved {self.save(what)}"

    def region(self, lx0, ly0, lx1, ly1):
        return [self.pixel(x, y) for y in range(ly0, ly1) for x in range(lx0, lx1)]

    def save(self, name):
        path = os.path.join(OUT, "driven-" + "".join(c if c.isalnum() else "-" for c in name) + ".png")
        subprocess.run(["/usr/bin/import", "-window", "root", "-crop", self.geometry, "+repage", path],
                       env=harness.wine_env(), capture_output=True, timeout=30)
        return path


def release_input():
    """A key or button left down by an aborted run would reach the next window."""
    harness.xdotool("keyup", "alt", "keyup", "F4", "mouseup", "1", check=False)


def settle():
    """Time for Wine to deliver a mouse event and repaint, where nothing may change."""
    time.sleep(0.4)



def is_error(s):
    return s.near(42, 200, ERROR_PANEL)


def is_ready(s):
    # The wide Install button reaches x 276, where Retry and Close leave a gap.
    install = s.near(276, 285, mix(0x799905, 0x536904, 20.5 / 40), 5) or \
        s.near(276, 285, mix(0xA1BF07, 0x80A006, 20.5 / 40), 5)
    return install and not s.near(42, 200, ERROR_PANEL)


def is_installing(s):
    # Hover follows mouse moves only, so a Cancel that appeared under a still mouse looks idle.
    cancel = s.near(276, 285, IDLE_CANCEL, 5) or s.near(276, 285, HOVER_CANCEL, 5)
    return cancel and not s.near(42, 200, ERROR_PANEL)


def is_done(s):
    # The middle of the green tick disc below the tick itself; no other screen is green there.
    return s.near(220, 190, mix(0x799905, 0x536904, 33.5 / 38), 10) and not is_error(s)
