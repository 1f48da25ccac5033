"""The demo's middle part, run by scripts/demo once everything is built and the Wine session is
up: publishes the stand-in client with the development key, serves it on https://localhost:8443
(the address the default build talks to), runs the installer, and prints where everything
landed. With a display the person clicks; without one, Install is clicked for them."""
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
from update_server import UpdateServer, publish  # noqa: E402

OUT = os.path.join(ROOT, "build", "demo")
WWW = os.path.join(OUT, "www")
EXE = os.path.join(ROOT, "build", "windows", "VarnokClientSetup.exe")
STANDIN = os.path.join(ROOT, "build", "windows", "standin", "VarnokClientStandIn.exe")


def log(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)


def screen(window, name, shots):
    path = os.path.join(OUT, f"screen-{len(shots) + 1}-{name}.png")
    subprocess.run(["/usr/bin/import", "-window", "root", "-crop", window.shot().geometry,
                    "+repage", path], env=harness.wine_env(), check=True, capture_output=True)
    shots.append(path)


def drive(shots):
    """Install clicked for the user, a screenshot of every screen on the way."""
    w = installer_window.Window(EXE)
    try:
        screen(w, "ready", shots)
        w.click(250, 238)  # keep the Done screen up for its picture; Launch is clicked below
        w.click(200, 285)
        w.wait_for(lambda s: os.path.exists(env.PART), "the download", timeout=60)
        time.sleep(0.5)
        screen(w, "installing", shots)
        w.wait_for(installer_window.is_done, "the Done screen", timeout=120)
        screen(w, "done", shots)
        w.click(100, 285)  # Launch: starts the client and closes the window
        harness.wait_exit(w.proc, timeout=30)
    finally:
        w.close()


def show(title, text):
    print(f"\n== {title}")
    print(text.rstrip())


def summary(shots):
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
    if shots:
        side_by_side = os.path.join(OUT, "screens.png")
        subprocess.run(["/usr/bin/convert"] + shots + ["+append", side_by_side], check=False,
                       capture_output=True)
        show("Screenshots", "\n".join(shots + [side_by_side + "  (side by side)"]))
    show("To uninstall", f"scripts/wine-run '{env.FOLDER_WIN}\\Uninstall.exe' --uninstall")


def main():
    interactive = os.environ.get("VARNOK_USE_DISPLAY") == "1"
    shutil.rmtree(WWW, ignore_errors=True)
    for old in os.listdir(OUT) if os.path.isdir(OUT) else []:
        if old.startswith("screen"):
            os.remove(os.path.join(OUT, old))
    os.makedirs(OUT, exist_ok=True)
    env.clean_slate()
    log("publishing the stand-in client 1.0.0 with the development key")
    publish(WWW, STANDIN, "1.0.0", 1)
    shots = []
    # Slowed a little so that the download is seen on the Installing screen.
    with UpdateServer(WWW, rate="256k"):
        log("serving the update tree on https://localhost:8443 (nginx)")
        if interactive:
            log("the installer is on your display: press Install; close it to end the demo")
            subprocess.run(["wine", EXE], env=harness.wine_env(), stdin=subprocess.DEVNULL)
        else:
            log("no display: running under Xvfb and clicking Install")
            drive(shots)
    summary(shots)


if __name__ == "__main__":
    main()
