"""The README's first command as a newcomer without a display runs it: scripts/demo installs,
shows where everything landed, uninstalls through the registered command and shows what is
left; and the same split in two with --keep and --uninstall. The demo runs inside this test
session's Wine session, which it must use and leave running."""
import os
import subprocess
import time

import harness
import install_env as env

DEMO = os.path.join(harness.ROOT, "scripts", "demo")
OUT = os.path.join(harness.ROOT, "build", "demo")
SESSION = os.path.join(harness.ROOT, "scripts", "lib", "wine-session.sh")

LEFT = [f"Client and Uninstall.exe: gone, with their folder {env.FOLDER_WIN}",
        "Shortcuts: none",
        "Registry entries: none",
        f"config.json: kept, {env.CONFIG}",
        "config.json is kept: it holds the user's settings"]


def session_running():
    r = subprocess.run(["bash", "-c", f'source "{SESSION}" && varnok_session_running'],
                       capture_output=True, timeout=30)
    return r.returncode == 0


def run_demo(*args):
    """The demo's summary as {section title: lines}, run with no display of its own."""
    assert session_running(), "no Wine session is up for the end-to-end tests"
    plain = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "VARNOK_USE_DISPLAY")}
    r = subprocess.run([DEMO] + list(args), env=plain, stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=400)
    assert r.returncode == 0, f"scripts/demo {' '.join(args)} ended with {r.returncode}:\n" + \
        r.stderr[-3000:]
    assert session_running(), f"scripts/demo {' '.join(args)} stopped the test session"
    summary, lines = {}, None
    for line in r.stdout.splitlines():
        if line.startswith("== "):
            lines = summary.setdefault(line[3:], [])
        elif lines is not None and line:
            lines.append(line)
    return summary


def expect_installed(summary):
    client = summary.get("Client")
    assert client == [env.CLIENT, env.FOLDER_WIN + "\\VarnokClient.exe"], client
    links = summary.get("Shortcuts")
    assert links == [env.START_MENU_LNK, env.DESKTOP_LNK], links
    registry = "\n".join(summary.get("Registry (HKEY_CURRENT_USER)", []))
    assert f'UninstallString = "{env.FOLDER_WIN}\\Uninstall.exe" --uninstall' in registry, registry


def expect_uninstalled(summary, started):
    command = summary.get("Uninstall: the registered UninstallString, run in the same Wine session")
    assert command == [f'"{env.FOLDER_WIN}\\Uninstall.exe" --uninstall'], command or sorted(summary)
    left = summary.get("What is left after the uninstall")
    assert left == LEFT, left
    # What the summary says is what the prefix holds.
    for path in (env.FOLDER, env.START_MENU, env.DESKTOP_LNK):
        assert not os.path.lexists(path), f"{path} is still there"
    assert env.registry() == {}, env.registry()
    assert os.path.exists(env.CONFIG), "config.json was removed"
    shots = [os.path.join(OUT, name) for name in ("screen-1-ready.png", "screen-2-installing.png",
             "screen-3-done.png", "screen-4-confirm.png", "screen-5-removed.png")]
    screens = os.path.join(OUT, "screens.png")
    listed = summary.get("Screenshots")
    assert listed == shots + [screens + "  (side by side)"], listed
    for path in shots + [screens]:
        assert os.path.getmtime(path) >= started, f"{path} is not from this run"


def test_the_demo_installs_then_uninstalls_and_shows_both_halves():
    env.clean_slate()
    started = time.time() - 1
    summary = run_demo()
    expect_installed(summary)
    expect_uninstalled(summary, started)


def test_keep_stops_after_the_install_and_its_uninstall_command_works_without_a_display():
    env.clean_slate()
    started = time.time() - 1
    summary = run_demo("--keep")
    expect_installed(summary)
    hint = summary.get("To uninstall")
    assert hint and hint[0] == "scripts/demo --uninstall", hint
    assert os.path.exists(env.CLIENT) and env.registry(), "--keep did not keep the install"
    expect_uninstalled(run_demo("--uninstall"), started)


if __name__ == "__main__":
    try:
        harness.main([
            test_the_demo_installs_then_uninstalls_and_shows_both_halves,
            test_keep_stops_after_the_install_and_its_uninstall_command_works_without_a_display,
        ])
    finally:
        env.clean_slate()
