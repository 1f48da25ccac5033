"""The installer started without arguments shows its window, sized by DPI and centred, and
ends with exit code 0 on Alt+F4."""
import sys

import harness

EXE = sys.argv[1]
DESKTOP = r"HKCU\Control Panel\Desktop"


def open_and_close(expected_size):
    proc = harness.start_wine([EXE])
    try:
        window = harness.wait_for_window("Varnok Client")
        x, y, w, h = harness.window_geometry(window)
        assert (w, h) == expected_size, f"window is {w}x{h}, expected {expected_size}"
        sw, sh = harness.display_size()
        # Under Xvfb without a window manager the work area is the whole screen.
        assert (x, y) == ((sw - w) // 2, (sh - h) // 2), f"window at {x},{y} is not centred on {sw}x{sh}"
        harness.press_keys(window, "alt+F4")
        code = harness.wait_exit(proc)
        assert code == 0, f"exit code {code}"
    finally:
        if proc.poll() is None:
            proc.kill()


def test_window_at_96_dpi_is_440_by_336_centred_and_alt_f4_exits_0():
    open_and_close((440, 336))


def test_window_at_144_dpi_is_660_by_504():
    harness.reg_set_dword(DESKTOP, "LogPixels", 144)
    try:
        open_and_close((660, 504))
    finally:
        harness.reg_delete_value(DESKTOP, "LogPixels")


if __name__ == "__main__":
    harness.main([test_window_at_96_dpi_is_440_by_336_centred_and_alt_f4_exits_0,
                  test_window_at_144_dpi_is_660_by_504])
