"""The uninstaller started the way the system's program list starts it (the UninstallString
that a real install registered), its two message boxes answered with xdotool, and everything
read back from outside: the install folder, the shortcuts, the registry and the profile as a
whole, before the install and after the uninstall."""
import os
import shutil
import sys
import time

import harness
import install_env as env

EXE, STANDIN, RUN_PROBE = sys.argv[1:4]


def uninstall_command():
    command = env.uninstall_command()
    assert command, "no uninstall entry"
    return command


def answer(keys, previous=None):
    """Waits for a message box other than `previous`, presses `keys` in it, returns its id."""
    box = env.message_box(previous)
    harness.press_keys(box, keys)
    return box


def uninstall(command, confirm=True):
    """Runs the uninstaller; answers Yes (and then OK on the final message) or No."""
    proc = harness.start_wine(command)
    try:
        first = answer("Return" if confirm else "n")
        if confirm:
            answer("Return", previous=first)
        assert harness.wait_exit(proc, timeout=30) == 0, "the uninstaller's exit code is not 0"
    finally:
        if proc.poll() is None:
            proc.kill()


def profile_listing():
    """Every file and folder below the user's profile, except the temporary folder."""
    listing = set()
    for top, dirs, files in os.walk(env.PROFILE):
        rel = os.path.relpath(top, env.PROFILE)
        if rel.split(os.sep)[:3] == ["AppData", "Local", "Temp"]:
            dirs[:] = []
            continue
        listing.update(os.path.join(rel, name) for name in dirs + files)
    return listing


def user_keys():
    tree = harness.reg_query(r"HKCU\Software") or {}
    return {key: values for key, values in tree.items() if "\\Software\\Wine" not in key}


def test_no_leaves_everything_in_place():
    env.clean_slate()
    env.install_once(EXE, STANDIN)
    before = (profile_listing(), user_keys())
    uninstall(uninstall_command(), confirm=False)
    assert (profile_listing(), user_keys()) == before, "answering No changed something"


def test_yes_removes_the_install_and_leaves_the_profile_as_before_except_config_json():
    # By a person answering the boxes, then by a deployment tool running the quiet line.
    for quiet in (False, True):
        env.clean_slate()
        files_before, keys_before = profile_listing(), user_keys()
        env.install_once(EXE, STANDIN)
        if quiet:
            # As winget runs it: the registered line as it stands, nothing shown, nothing asked.
            line = env.registered("QuietUninstallString")
            code, appeared = env.run_unattended(RUN_PROBE, line)
            assert (code, appeared) == (0, set()), f"{line}: exit code {code}, windows {appeared}"
        else:
            command = uninstall_command()
            assert env.linux_path(command[0]) == env.UNINSTALLER and \
                command[1:] == ["--uninstall"], command
            uninstall(command)
        env.wait_gone(env.FOLDER)  # the delayed removal, Uninstall.exe included
        assert os.path.exists(env.CONFIG), "config.json was removed"
        settings = os.path.relpath(os.path.dirname(env.CONFIG), env.PROFILE)
        added = {p for p in profile_listing() - files_before if not p.startswith(settings)}
        assert added == set(), f"quiet={quiet}: left behind: {sorted(added)}"
        assert files_before - profile_listing() == set(), "something that was there before is gone"
        assert user_keys() == keys_before, "the user's registry differs from before the install"


def test_from_a_folder_not_named_for_the_client_everything_but_the_folder_goes():
    for name in ("Games", "varnokclient"):
        env.clean_slate()
        env.install_once(EXE, STANDIN)
        folder = os.path.join(env.LOCAL, name)
        os.makedirs(folder)
        copy = os.path.join(folder, "Uninstall.exe")
        shutil.copyfile(EXE, copy)
        shutil.copyfile(STANDIN, os.path.join(folder, "VarnokClient.exe"))
        try:
            uninstall([copy, "--uninstall"])
            time.sleep(4)  # longer than a delayed removal would take to act
            assert os.path.exists(copy), f"{name}: the folder was removed"
            assert not os.path.exists(os.path.join(folder, "VarnokClient.exe")), name
            assert not os.path.exists(env.START_MENU) and not os.path.exists(env.DESKTOP_LNK)
            assert env.registry() == {}, f"{name}: registry entries left"
        finally:
            env.remove_path(folder)


def test_with_nothing_installed_every_removal_fails_quietly_and_the_final_message_shows():
    env.clean_slate()
    folder = os.path.join(env.SCRATCH, "Varnok copy")
    os.makedirs(folder)
    copy = os.path.join(folder, "Uninstall.exe")
    shutil.copyfile(EXE, copy)
    uninstall([copy, "--uninstall"])  # fails unless the final message appears
    env.wait_gone(folder)


def test_the_setup_file_uninstalling_quietly_acts_on_the_registered_install_not_on_its_folder():
    # A package that holds only the setup uninstalls with it: the registered install goes (its
    # own Uninstall.exe does it), and the download folder, named for the client, keeps every file.
    for installed in (False, True):
        env.clean_slate()
        if installed:
            env.install_once(EXE, STANDIN)
        stuff = os.path.join(env.SCRATCH, "VarnokStuff")
        os.makedirs(os.path.join(stuff, "sub"))
        kept = {os.path.join(stuff, "notes.txt"): b"notes", os.path.join(stuff, "sub", "save.dat"): b"save"}
        for path, data in kept.items():
            with open(path, "wb") as f:
                f.write(data)
        setup = os.path.join(stuff, "VarnokClientSetup.exe")
        shutil.copyfile(EXE, setup)
        line = f'"{env.windows_path(setup)}" --uninstall --silent'
        code, appeared = env.run_unattended(RUN_PROBE, line)
        assert (code, appeared) == (0, set()), f"installed={installed}: {code}, {appeared}"
        if installed:
            env.wait_gone(env.FOLDER)
            assert env.registry() == {}, "registry entries left"
            assert not os.path.exists(env.START_MENU) and not os.path.exists(env.DESKTOP_LNK)
        time.sleep(4)  # longer than a delayed removal would take to act
        for path, data in kept.items():
            assert env.read(path) == data, f"installed={installed}: {path} is gone"
        assert os.path.exists(setup), "the setup file was removed"


def test_the_start_menu_folder_goes_whole_but_a_link_in_it_is_not_followed():
    env.clean_slate()
    env.install_once(EXE, STANDIN)
    outside = os.path.join(env.SCRATCH, "outside")
    os.makedirs(outside)
    with open(os.path.join(outside, "keep.txt"), "w") as f:
        f.write("kept")
    with open(os.path.join(env.START_MENU, "Second.lnk"), "wb") as f:
        f.write(b"extra")
    # Wine shows a Linux directory link as a directory reparse point, as Windows shows a junction.
    os.symlink(outside, os.path.join(env.START_MENU, "linked"))
    uninstall(uninstall_command())
    env.wait_gone(env.FOLDER)
    assert open(os.path.join(outside, "keep.txt")).read() == "kept", "the link was followed"
    left = os.listdir(env.START_MENU) if os.path.lexists(env.START_MENU) else []
    if left == ["linked"] and os.path.islink(os.path.join(env.START_MENU, "linked")):
        raise harness.Skip("Wine's RemoveDirectoryW acts on a host directory link's target, not "
                           "on the link (Windows removes a junction itself): everything else in "
                           "the folder went and the target kept its contents")
    assert not os.path.lexists(env.START_MENU), left


def test_uninstall_with_render_preview_in_either_order_writes_no_png():
    env.clean_slate()
    png = os.path.join(env.SCRATCH, "x.png")
    win_png = "Z:" + png.replace("/", "\\")
    for args in (["--uninstall", "--render-preview", win_png],
                 ["--render-preview", win_png, "--uninstall"]):
        uninstall([EXE] + args, confirm=False)
        assert not os.path.exists(png), f"{args}: a PNG was written"


if __name__ == "__main__":
    started = time.time()
    try:
        harness.main([
            test_no_leaves_everything_in_place,
            test_yes_removes_the_install_and_leaves_the_profile_as_before_except_config_json,
            test_from_a_folder_not_named_for_the_client_everything_but_the_folder_goes,
            test_with_nothing_installed_every_removal_fails_quietly_and_the_final_message_shows,
            test_the_setup_file_uninstalling_quietly_acts_on_the_registered_install_not_on_its_folder,
            test_the_start_menu_folder_goes_whole_but_a_link_in_it_is_not_followed,
            test_uninstall_with_render_preview_in_either_order_writes_no_png,
        ])
    finally:
        env.clean_slate()
        print(f"uninstall flow tests took {time.time() - started:.1f} s")
