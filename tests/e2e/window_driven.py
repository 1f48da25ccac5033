"""The installer window driven like a person under Wine and Xvfb: the mouse moves, presses and
releases at client coordinates through xdotool, and the results are read from outside, from
screenshot pixels (compared as the preview checks do: chosen pixels against the painted colours,
with a small tolerance), the X cursor image, the window geometry and the exit code. Screenshots
of the folder picker and of each screen reached stay in build/ as driven-*.png."""
import ctypes
import ctypes.util
import os
import subprocess
import sys
import time

import harness
from installer_window import (ACCENT, ACCENT_LIGHT, FIELD, HOVER_CANCEL, HOVER_CLOSE,
                              HOVER_INSTALL, HOVER_MINIMIZE, IDLE_INSTALL, OUT,
                              PRESSED_INSTALL, TITLE, header_at, is_error, is_installing,
                              is_ready, mix, release_input, settle)
import installer_window

EXE = sys.argv[1]
DESKTOP = r"HKCU\Control Panel\Desktop"
PICKER_TITLE = "Choose Varnok Client install folder"


def Window(scale=1.0):
    return installer_window.Window(EXE, scale)


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def cursor_image():
    """Size, hot spot and pixels of the pointer shape X is showing, through XFixes."""
    x11_name, xfixes_name = ctypes.util.find_library("X11"), ctypes.util.find_library("Xfixes")
    if not x11_name or not xfixes_name:
        raise harness.Skip("libX11 or libXfixes is missing: the cursor shape cannot be read")
    x11, xfixes = ctypes.CDLL(x11_name), ctypes.CDLL(xfixes_name)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(harness.wine_env()["DISPLAY"].encode())
    assert display, "cannot open the X display"
    try:
        ptr = xfixes.XFixesGetCursorImage(display)
        assert ptr, "XFixesGetCursorImage failed"
        img = ptr.contents
        n = img.width * img.height
        shape = (img.width, img.height, img.xhot, img.yhot,
                 tuple(img.pixels[i] & 0xFFFFFFFF for i in range(n)))
        x11.XFree(ptr)
        return shape
    finally:
        x11.XCloseDisplay(display)


def cursor_at(window, lx, ly):
    window.move(lx, ly)
    settle()
    return cursor_image()


def test_hover_changes_the_look_of_a_control_and_the_cursor():
    w = Window()
    try:
        arrow = cursor_at(w, 200, 120)
        w.shot().expect(60, 270, IDLE_INSTALL, "idle Install")
        hand = cursor_at(w, 200, 285)
        w.wait_for(lambda s: s.near(60, 270, HOVER_INSTALL), "the hovered Install look")
        assert hand != arrow, "the cursor over Install is the same as over the empty surface"
        assert cursor_at(w, 350, 165) == hand, "no hand over Browse"
        assert cursor_at(w, 300, 210) == hand, "no hand over a check box label"
        assert cursor_at(w, 200, 120) == arrow, "the hand stays over the empty surface"
        hover_shot = w.shot()
        hover_shot.expect(60, 270, IDLE_INSTALL, "Install after the mouse left it")
        # The title-bar buttons are controls too, inside the caption band.
        assert cursor_at(w, 384, 18) == hand, "no hand over the minimise button"
        w.wait_for(lambda s: s.near(374, 8, HOVER_MINIMIZE), "the hovered minimise button")
        assert cursor_at(w, 410, 10) == hand, "no hand over the close button"
        w.wait_for(lambda s: s.near(405, 8, HOVER_CLOSE), "the hovered close button")
        w.shot().expect(374, 8, header_at(8), "minimise button after the mouse left it")
    finally:
        w.close()


def test_a_click_on_a_check_box_label_toggles_it():
    w = Window()
    try:
        w.click(250, 210)  # the words "Desktop shortcut", well right of the box
        w.wait_for(lambda s: s.near(46, 209, FIELD), "the tick to disappear")
        w.shot().expect(46, 237, ACCENT, "the other box's tick")
        w.click(250, 210)
        w.wait_for(lambda s: s.near(46, 209, ACCENT_LIGHT, 12), "the hovered tick to come back")
    finally:
        w.close()


def test_install_starts_only_when_released_over_it():
    # No update server answers here: an install that starts ends on the Error screen.
    w = Window()
    try:
        w.down(200, 285)
        w.wait_for(lambda s: s.near(60, 270, PRESSED_INSTALL), "the pressed Install look")
        w.up(200, 325)  # moved off the button before releasing
        settle()
        s = w.shot()
        s.expect(60, 270, IDLE_INSTALL, "Install after a release elsewhere")
        assert is_ready(s), f"not the Ready screen after a release elsewhere: {s.save('release-elsewhere')}"

        w.down(200, 285)
        w.up(390, 300)  # released over the same button
        w.wait_for(is_error, "the Error screen of an install without a server", timeout=30)
    finally:
        w.close()


def drag(window, start, delta):
    x, y = window.screen_point(*start)
    harness.xdotool("mousemove", x, y, "mousedown", 1)
    for i in range(1, 5):
        harness.xdotool("mousemove", x + delta[0] * i // 4, y + delta[1] * i // 4)
        time.sleep(0.05)
    harness.xdotool("mouseup", 1)
    settle()


def test_dragging_the_header_or_the_empty_surface_moves_the_window():
    w = Window()
    try:
        x0, y0 = w.origin()
        drag(w, (150, 20), (60, 40))
        assert w.origin() == (x0 + 60, y0 + 40), f"header drag: {w.origin()} from {(x0, y0)}"
        drag(w, (200, 125), (-30, 25))  # below the caption band, beside the logo
        assert w.origin() == (x0 + 30, y0 + 65), f"surface drag: {w.origin()} from {(x0, y0)}"
        drag(w, (300, 210), (50, 50))  # a check box row is a control, not a drag handle
        assert w.origin() == (x0 + 30, y0 + 65), "pressing a control dragged the window"
    finally:
        w.close()


def test_the_minimise_button_minimises():
    w = Window()
    try:
        w.click(384, 18)
        deadline = time.time() + 5
        size = None
        while time.time() < deadline:
            _, _, *size = harness.window_geometry(w.id)
            if size != [440, 336]:
                break
            time.sleep(0.1)
        # Without a window manager Wine shows a minimised window as a small title bar.
        assert size != [440, 336], "the window kept its size"
        assert w.proc.poll() is None, "minimising ended the process"
    finally:
        w.close()


def test_the_close_button_ends_the_process_with_exit_code_0():
    # Closing during a download is an install-flow test: it needs a server to download from.
    w = Window()
    try:
        w.click(415, 18)
        assert harness.wait_exit(w.proc) == 0, "exit code is not 0"
    finally:
        w.close()


def wait_picker_closed(how):
    deadline = time.time() + 10
    while harness.xdotool("search", "--name", f"^{PICKER_TITLE}$", check=False):
        assert time.time() < deadline, f"the picker did not close on {how}"
        time.sleep(0.1)


def test_the_folder_picker_shows_its_title_and_a_cancel_keeps_the_folder():
    w = Window()
    try:
        before = w.shot().region(46, 150, 318, 180)
        w.click(350, 165)
        dialog = harness.wait_for_window(PICKER_TITLE, timeout=20)
        time.sleep(0.5)  # the dialog fills its views after it appears
        harness.screenshot(os.path.join(OUT, "driven-folder-picker.png"))
        assert harness.xdotool("getwindowname", dialog) == PICKER_TITLE
        harness.press_keys(dialog, "Escape")
        wait_picker_closed("Escape")
        w.move(200, 120)
        settle()
        assert w.shot().region(46, 150, 318, 180) == before, "the folder text changed"

        # Choosing a folder stores it with the client folder appended.
        w.click(350, 165)
        dialog = harness.wait_for_window(PICKER_TITLE, timeout=20)
        time.sleep(0.5)
        harness.xdotool("windowfocus", dialog, check=False)
        harness.xdotool("type", "C:\\windows")
        harness.xdotool("key", "Return")
        wait_picker_closed("a typed folder and Return")
        w.move(200, 120)
        w.wait_for(lambda s: s.region(46, 150, 318, 180) != before, "the chosen folder").save(
            "chosen-folder")
    finally:
        w.close()


def test_at_144_dpi_the_controls_are_hit_at_their_scaled_places():
    harness.reg_set_dword(DESKTOP, "LogPixels", 144)
    try:
        w = Window(scale=1.5)
        try:
            _, _, width, height = harness.window_geometry(w.id)
            assert (width, height) == (660, 504), f"window is {width}x{height}"
            w.move(200, 285)
            w.wait_for(lambda s: s.near(60, 270, HOVER_INSTALL), "the hovered Install at 1.5")
            w.click(250, 210)
            w.wait_for(lambda s: s.near(46, 209, FIELD), "the tick to disappear at 1.5")
            w.click(384, 18)
            time.sleep(1)
            _, _, *size = harness.window_geometry(w.id)
            assert size != [660, 504], "the minimise button was not hit at 1.5"
        finally:
            w.close()
    finally:
        harness.reg_delete_value(DESKTOP, "LogPixels")


if __name__ == "__main__":
    started = time.time()
    try:
        harness.main([
            test_hover_changes_the_look_of_a_control_and_the_cursor,
            test_a_click_on_a_check_box_label_toggles_it,
            test_install_starts_only_when_released_over_it,
            test_dragging_the_header_or_the_empty_surface_moves_the_window,
            test_the_minimise_button_minimises,
            test_the_close_button_ends_the_process_with_exit_code_0,
            test_the_folder_picker_shows_its_title_and_a_cancel_keeps_the_folder,
            test_at_144_dpi_the_controls_are_hit_at_their_scaled_places,
        ])
    finally:
        print(f"driven tests took {time.time() - started:.1f} s")
