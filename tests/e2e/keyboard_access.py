"""The window used without a mouse and through a screen reader, under Wine and Xvfb: keys go to
the focused window through xdotool (Tab, Shift+Tab, Space, Enter, Escape only), and what a
reader sees is read from another process by the accessibility probe, which gets the window's
object with AccessibleObjectFromWindow as a screen reader does. Outcomes of installs are read
from outside as the mouse install tests read them."""
import os
import re
import sys
import time

import harness
import install_env as env
import installer_window
from installer_window import ACCENT, is_done, is_error, is_ready
# The mouse install tests' helpers; that module takes the same first three arguments.
from install_flow import WWW, check_installed, publish_standin, slow_install_started
from update_server import MANIFEST, UpdateServer

EXE, A11Y = sys.argv[1], sys.argv[4]

ROLE_TEXT, ROLE_BUTTON, ROLE_CHECK, ROLE_PROGRESS = 0x29, 0x2B, 0x2C, 0x30
UNAVAILABLE, FOCUSED, CHECKED, READONLY, FOCUSABLE = 0x1, 0x4, 0x10, 0x40, 0x100000
BUTTON, FOCUSED_BUTTON = FOCUSABLE, FOCUSABLE | FOCUSED

# A point on the focus outline left of a control: (33, 285) for the bottom buttons, (322, 165)
# for Browse.
CUE_BOTTOM_LEFT, CUE_BROWSE = (33, 285), (322, 165)


def window():
    return installer_window.Window(EXE)


def keys(w, *names):
    w.keys(*names)


def probe(*args):
    r = harness.run_wine([A11Y] + list(args), timeout=60)
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    if r.returncode == 3:
        raise harness.Skip("Wine could not carry a screen reader's call to the installer from "
                           f"another process ({out.strip()}); test_app's AccessibleWindow tests "
                           "read the same object in-process")
    assert r.returncode == 0, f"accessibility probe {args}: exit code {r.returncode}: {out}"
    return out


def tree(w):
    """[(name, role, state, value, action)] of the window's children, and the focused child."""
    harness.xdotool("windowfocus", w.id, check=False)  # focus is reported while the window has it
    children, focus = [], None
    for line in probe("read").splitlines():
        parts = line.split("\t")
        if parts[0] == "child":
            children.append((parts[4], int(parts[2]), int(parts[3], 16), parts[5], parts[6]))
        elif parts[0] == "focus":
            focus = int(parts[1])
    return children, focus


def focused_name(w):
    children, focus = tree(w)
    return children[focus - 1][0] if focus and 0 < focus <= len(children) else None


def expect_tree(w, expected, what, timeout=10.0):
    """Reads the tree until it is `expected` (the window answers keys and workers in its own
    time); fails with the last reading."""
    deadline = time.time() + timeout
    while True:
        children, _ = tree(w)
        if children == expected:
            return
        if time.time() > deadline:
            raise AssertionError(f"{what}: the tree reads {children}, expected {expected}")
        time.sleep(0.2)


def expect_focus_order(w, names, key="Tab"):
    """Each key press moves the reported focus to the next name."""
    for name in names:
        keys(w, key)
        deadline = time.time() + 10
        while (seen := focused_name(w)) != name:
            assert time.time() < deadline, f"after {key} the focus is on {seen!r}, not {name!r}"
            time.sleep(0.2)


def wait_focus(w, name):
    deadline = time.time() + 10
    while (seen := focused_name(w)) != name:
        assert time.time() < deadline, f"the focus is on {seen!r}, not {name!r}"
        time.sleep(0.2)


def ready_tree(desktop=True, launch=True, focus="Install"):
    def box(name, checked):
        return (name, ROLE_CHECK, FOCUSABLE | (CHECKED if checked else 0) |
                (FOCUSED if focus == name else 0), "", "Uncheck" if checked else "Check")
    return [(env.FOLDER_WIN, ROLE_TEXT, READONLY, "", ""),
            ("Browse", ROLE_BUTTON, FOCUSED_BUTTON if focus == "Browse" else BUTTON, "", "Press"),
            box("Desktop shortcut", desktop), box("Launch after install", launch),
            ("Install", ROLE_BUTTON, FOCUSED_BUTTON if focus == "Install" else BUTTON, "",
             "Press")]


# --- the keyboard alone -----------------------------------------------------------------------

def test_a_keyboard_only_install_without_the_desktop_shortcut_equals_the_mouse_install():
    env.clean_slate()
    client = publish_standin("1.0.0")
    with UpdateServer(WWW) as server:
        w = window()
        try:
            # Install has the focus; Tab wraps to Browse, then the desktop shortcut box.
            keys(w, "Tab", "Tab", "space", "Return")
            assert harness.wait_exit(w.proc, timeout=90) == 0, "exit code is not 0"
        finally:
            w.close()
        assert server.requests() == [MANIFEST, "/api/updates/files/" + os.path.basename(client)], \
            server.requests()
    check_installed("1.0.0", client, desktop=False)
    harness.wait_until(env.launches, "the client's start record")
    assert len(env.launches()) == 1, env.launches()


def test_enter_on_a_focused_check_box_installs_and_leaves_the_box_as_it_was():
    env.clean_slate()
    client = publish_standin("1.0.0")
    with UpdateServer(WWW):
        w = window()
        try:
            keys(w, "Tab", "Tab", "Return")  # the desktop shortcut box has the focus
            assert harness.wait_exit(w.proc, timeout=90) == 0, "exit code is not 0"
        finally:
            w.close()
    check_installed("1.0.0", client, desktop=True)


def test_escape_on_ready_closes_with_exit_code_0():
    w = window()
    try:
        keys(w, "Escape")
        assert harness.wait_exit(w.proc) == 0, "exit code is not 0"
    finally:
        w.close()


def test_escape_while_installing_cancels_back_to_ready():
    env.clean_slate()
    publish_standin("1.0.0", extra=b"\0" * 600_000)
    with UpdateServer(WWW, rate="64k"):
        w = window()
        try:
            slow_install_started(w, lambda: keys(w, "Return"))
            keys(w, "Escape")
            w.wait_for(is_ready, "the Ready screen after Escape", timeout=30)
            assert w.proc.poll() is None, "Escape while installing closed the window"
            harness.wait_until(lambda: not os.path.exists(env.PART), "the partial file to go", timeout=10)
        finally:
            w.close()


def test_escape_on_error_closes_with_exit_code_0():
    env.clean_slate()  # no server: the install fails
    w = window()
    try:
        keys(w, "Return")
        w.wait_for(is_error, "the Error screen", timeout=60)
        keys(w, "Escape")
        assert harness.wait_exit(w.proc) == 0, "exit code is not 0"
    finally:
        w.close()


def test_escape_on_done_closes_without_launching():
    env.clean_slate()
    publish_standin("1.0.0")
    with UpdateServer(WWW):
        w = window()
        try:
            keys(w, "Tab", "Tab", "Tab", "space", "Return")  # launch after install cleared
            w.wait_for(is_done, "the Done screen", timeout=90)
            keys(w, "Escape")
            assert harness.wait_exit(w.proc) == 0, "exit code is not 0"
        finally:
            w.close()
    assert env.launches() == [], "Escape on Done started the client"


def test_the_focus_cue_shows_only_once_the_keyboard_is_used():
    w = window()
    try:
        shot = w.shot()
        assert not shot.near(*CUE_BOTTOM_LEFT, ACCENT, 40), \
            f"a focus outline before any key: {shot.save('cue-before-keys')}"
        keys(w, "Tab")
        w.wait_for(lambda s: s.near(*CUE_BROWSE, ACCENT, 40), "the outline around Browse")
        keys(w, "shift+Tab")
        w.wait_for(lambda s: s.near(*CUE_BOTTOM_LEFT, ACCENT, 40) and
                   not s.near(*CUE_BROWSE, ACCENT, 40), "the outline back on Install")
    finally:
        w.close()


# --- the focus order, read back through the accessible tree -------------------------------------

def test_the_focus_order_of_ready_and_error_read_through_the_tree():
    env.clean_slate()  # no server: Install ends on the Error screen
    w = window()
    try:
        wait_focus(w, "Install")
        expect_focus_order(w, ["Browse", "Desktop shortcut", "Launch after install", "Install"])
        expect_focus_order(w, ["Launch after install", "Desktop shortcut"], key="shift+Tab")
        keys(w, "Return")  # on a check box: Install
        w.wait_for(is_error, "the Error screen", timeout=60)
        wait_focus(w, "Retry")
        expect_focus_order(w, ["Close", "Retry"])
        expect_focus_order(w, ["Close"], key="shift+Tab")
    finally:
        w.close()


def test_the_focus_order_of_installing_and_done_read_through_the_tree():
    env.clean_slate()
    publish_standin("1.0.0", extra=b"\0" * 600_000)
    with UpdateServer(WWW, rate="64k"):
        w = window()
        try:
            keys(w, "Tab", "Tab", "Tab", "space")  # launch after install cleared
            slow_install_started(w, lambda: keys(w, "Return"))
            wait_focus(w, "Cancel")
            expect_focus_order(w, ["Cancel"])
            w.wait_for(is_done, "the Done screen", timeout=90)
            wait_focus(w, "Launch")
            expect_focus_order(w, ["Close", "Launch"])
        finally:
            w.close()


# --- a screen reader ----------------------------------------------------------------------------

def test_a_reader_reads_ready_and_installing_and_presses_install_and_cancel():
    env.clean_slate()
    publish_standin("1.0.0", extra=b"\0" * 600_000)
    with UpdateServer(WWW, rate="64k"):
        w = window()
        try:
            expect_tree(w, ready_tree(), "Ready")
            slow_install_started(w, lambda: probe("press", "Install"))
            deadline = time.time() + 20
            while True:
                children, _ = tree(w)
                if children and children[0][0] == "Downloading" and children[1][3]:
                    break
                assert time.time() < deadline, f"no download in the tree: {children}"
                time.sleep(0.2)
            status, bar, cancel = children
            assert status[1:] == (ROLE_TEXT, READONLY, "", ""), status
            assert bar[:3] == ("Progress", ROLE_PROGRESS, READONLY), bar
            assert re.fullmatch(r"\d{1,3}%", bar[3]), f"progress value {bar[3]!r}"
            assert cancel == ("Cancel", ROLE_BUTTON, FOCUSED_BUTTON, "", "Press"), cancel
            probe("press", "Cancel")
            w.wait_for(is_ready, "the Ready screen after the reader's Cancel", timeout=30)
            expect_tree(w, ready_tree(), "Ready after Cancel")
        finally:
            w.close()


def test_a_reader_reads_the_error_message():
    env.clean_slate()  # no server
    w = window()
    try:
        probe("press", "Install")
        w.wait_for(is_error, "the Error screen", timeout=60)
        expect_tree(w, [("Installation failed", ROLE_TEXT, READONLY, "", ""),
                        ("Could not connect to server. Check your internet.", ROLE_TEXT,
                         READONLY, "", ""),
                        ("Retry", ROLE_BUTTON, FOCUSED_BUTTON, "", "Press"),
                        ("Close", ROLE_BUTTON, BUTTON, "", "Press")], "Error")
        probe("press", "Close")
        assert harness.wait_exit(w.proc) == 0, "exit code is not 0"
    finally:
        w.close()


def test_a_reader_ticks_a_box_installs_and_reads_done():
    env.clean_slate()
    publish_standin("1.0.0")
    with UpdateServer(WWW):
        w = window()
        try:
            probe("press", "Launch after install")
            expect_tree(w, ready_tree(launch=False), "Ready with launch after install cleared")
            probe("press", "Install")
            w.wait_for(is_done, "the Done screen", timeout=90)
            expect_tree(w, [("Installed", ROLE_TEXT, READONLY, "", ""),
                            ("Launch", ROLE_BUTTON, FOCUSED_BUTTON, "", "Press"),
                            ("Close", ROLE_BUTTON, BUTTON, "", "Press")], "Done")
            probe("press", "Close")
            assert harness.wait_exit(w.proc) == 0, "exit code is not 0"
        finally:
            w.close()
    assert env.launches() == [], "Close started the client"


if __name__ == "__main__":
    started = time.time()
    try:
        harness.main([
            test_a_keyboard_only_install_without_the_desktop_shortcut_equals_the_mouse_install,
            test_enter_on_a_focused_check_box_installs_and_leaves_the_box_as_it_was,
            test_escape_on_ready_closes_with_exit_code_0,
            test_escape_while_installing_cancels_back_to_ready,
            test_escape_on_error_closes_with_exit_code_0,
            test_escape_on_done_closes_without_launching,
            test_the_focus_cue_shows_only_once_the_keyboard_is_used,
            test_the_focus_order_of_ready_and_error_read_through_the_tree,
            test_the_focus_order_of_installing_and_done_read_through_the_tree,
            test_a_reader_reads_ready_and_installing_and_presses_install_and_cancel,
            test_a_reader_reads_the_error_message,
            test_a_reader_ticks_a_box_installs_and_reads_done,
        ])
    finally:
        env.clean_slate()
        print(f"keyboard and reader tests took {time.time() - started:.1f} s")
