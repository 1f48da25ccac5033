"""The demo's second half, run by scripts/demo once everything is built and the Wine session is
up: publishes the stand-in client with the development key, serves it on the build's base URL
(https://localhost:8443 unless the build tree was configured with another), runs the installer
and shows where everything landed; then runs the uninstall command that the install registered,
as the system's program list runs it, and shows what is left. With a display the person clicks
and answers; without one the demo does, and saves a screenshot of every screen and message box.

    demo.py              install, then uninstall
    demo.py --keep       install only
    demo.py --uninstall  uninstall only, of what an earlier --keep installed
"""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402
import install_env as env  # noqa: E402
import installer_window  # noqa: E402
import update_server  # noqa: E402

OUT = os.path.join(ROOT, "build", "demo")
WWW = os.path.join(OUT, "www")
SCREENS = os.path.join(OUT, "screens.png")
EXE = os.path.join(ROOT, "build", "windows", "VarnokClientSetup.exe")
STANDIN = os.path.join(ROOT, "build", "windows", "standin", "VarnokClientStandIn.exe")
KEPT_LINE = "config.json is kept: it holds the user's settings"


def log(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)


def capture(geometry, number, name):
    """The part of the screen at `geometry` ("WxH+X+Y") as build/demo/screen-N-name.png."""
    path = os.path.join(OUT, f"screen-{number}-{name}.png")
    subprocess.run(["/usr/bin/import", "-window", "root", "-crop", geometry, "+repage", path],
                   env=harness.wine_env(), check=True, capture_output=True)


def box_geometry(window):
    x, y, w, h = harness.window_geometry(window)
    return f"{w}x{h}+{x}+{y}"


def remove_screens(prefixes):
    for name in os.listdir(OUT):
        if name.startswith(prefixes):
            os.remove(os.path.join(OUT, name))


def show(title, text):
    print(f"\n== {title}")
    print(text.rstrip())


def drive_install():
    """Install clicked for the user, a screenshot of every screen on the way."""
    w = installer_window.Window(EXE)
    try:
        capture(w.shot().geometry, 1, "ready")
        w.click(250, 238)  # keep the Done screen up for its picture; Launch is clicked below
        w.click(200, 285)
        w.wait_for(lambda s: os.path.exists(env.PART), "the download", timeout=60)
        time.sleep(0.5)
        capture(w.shot().geometry, 2, "installing")
        w.wait_for(installer_window.is_done, "the Done screen", timeout=120)
        capture(w.shot().geometry, 3, "done")
        w.click(100, 285)  # Launch: starts the client and closes the window
        harness.wait_exit(w.proc, timeout=30)
    finally:
        w.close()


def install(interactive, then):
    shutil.rmtree(WWW, ignore_errors=True)
    env.clean_slate()
    log("publishing the stand-in client 1.0.0 with the development key")
    update_server.publish(WWW, STANDIN, "1.0.0", 1)
    # Slowed a little so that the download is seen on the Installing screen.
    with update_server.UpdateServer(WWW, rate="256k"):
        log(f"serving the update tree on https://localhost:{update_server.PORT} (nginx)")
        if interactive:
            log(f"the installer is on your display: press Install; closing it {then}")
            subprocess.run(["wine", EXE], env=harness.wine_env(), stdin=subprocess.DEVNULL)
        else:
            log("no display: running under Xvfb and clicking Install")
            drive_install()


def installed_summary():
    show("Client", f"{env.CLIENT}\n{env.FOLDER_WIN}\\VarnokClient.exe")
    show("Uninstaller", f"{env.UNINSTALLER}\n{env.FOLDER_WIN}\\Uninstall.exe")
    links = [p for p in (env.START_MENU_LNK, env.DESKTOP_LNK) if os.path.exists(p)]
    show("Shortcuts", "\n".join(links) or "(none)")
    lines = []
    for key, values in env.registry().items():
        lines.append(key)
        lines += [f"    {name} = {data}" for name, (_, data) in sorted(values.items())]
    show("Registry (HKEY_CURRENT_USER)", "\n".join(lines) or "(none)")
    config = open(env.CONFIG, encoding="utf-8").read() if os.path.exists(env.CONFIG) else "(none)"
    show(f"config.json ({env.CONFIG})", config)
    starts = env.launches()
    show("The client's own record of its start", "\n".join(map(str, starts)) or "(not started)")


def answer_boxes(command):
    """Yes on the confirmation and OK on the final message, each box saved before its answer."""
    proc = harness.start_wine(command)
    try:
        confirm = env.message_box()
        capture(box_geometry(confirm), 4, "confirm")
        harness.press_keys(confirm, "Return")  # Yes
        removed = env.message_box(previous=confirm)
        capture(box_geometry(removed), 5, "removed")
        harness.press_keys(removed, "Return")  # OK
        harness.wait_exit(proc, timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()


def uninstall(interactive):
    """Runs the registered uninstall command; False when nothing is registered."""
    command = env.uninstall_command()
    if not command:
        return False
    show("Uninstall: the registered UninstallString, run in the same Wine session",
         " ".join(f'"{part}"' if " " in part or not i else part for i, part in enumerate(command)))
    if interactive:
        log("the uninstaller asks on your display: answer Yes, then OK")
        subprocess.run(["wine"] + command, env=harness.wine_env(), stdin=subprocess.DEVNULL)
    else:
        log("no display: answering Yes and OK for you")
        answer_boxes(command)
    # Once the client is gone, a hidden cmd removes the folder a second after the uninstaller
    # ended; a declined uninstall leaves the client, and there is nothing to wait for.
    if not os.path.exists(env.CLIENT):
        deadline = time.time() + 10
        while os.path.lexists(env.FOLDER) and time.time() < deadline:
            time.sleep(0.2)
    return True


def left_summary():
    if not os.path.lexists(env.FOLDER):
        folder = f"gone, with their folder {env.FOLDER_WIN}"
    else:
        folder = f"still there, in {env.FOLDER_WIN}: " + ", ".join(sorted(os.listdir(env.FOLDER)))
    links = [p for p in (env.START_MENU, env.DESKTOP_LNK) if os.path.lexists(p)]
    keys = sorted(env.registry())
    lines = [f"Client and Uninstall.exe: {folder}",
             "Shortcuts: " + ("still there: " + ", ".join(links) if links else "none"),
             "Registry entries: " + ("still there: " + ", ".join(keys) if keys else "none")]
    if os.path.exists(env.CONFIG):
        lines += [f"config.json: kept, {env.CONFIG}", KEPT_LINE]
    else:
        lines.append("config.json: gone")
    show("What is left after the uninstall", "\n".join(lines))


def screenshots():
    shots = sorted(os.path.join(OUT, n) for n in os.listdir(OUT)
                   if n.startswith("screen-") and n.endswith(".png"))
    if not shots:
        return
    subprocess.run(["/usr/bin/convert", "-background", "#101822", "-gravity", "center"] + shots +
                   ["+append", SCREENS], check=False, capture_output=True)
    show("Screenshots", "\n".join(shots + [SCREENS + "  (side by side)"]))


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    interactive = os.environ.get("VARNOK_USE_DISPLAY") == "1"
    os.makedirs(OUT, exist_ok=True)
    if mode == "--uninstall":
        remove_screens(("screen-4-", "screen-5-", "screens.png"))
    else:
        remove_screens(("screen",))
        install(interactive, "ends the demo" if mode == "--keep" else "goes on to the uninstall")
        installed_summary()
    if mode == "--keep":
        screenshots()
        show("To uninstall", "scripts/demo --uninstall\n"
             "(without a display it answers the uninstaller's two boxes itself)")
        return 0
    if not uninstall(interactive):
        log("nothing to uninstall: the prefix has no uninstall entry (scripts/demo --keep "
            "installs and keeps the client)")
        return 1 if mode == "--uninstall" else 0
    left_summary()
    screenshots()
    return 0


if __name__ == "__main__":
    sys.exit(main())
