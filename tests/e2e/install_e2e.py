#!/usr/bin/env python3
"""End to end: the program as a user installs it with scripts/install.sh, one case per run.

Cases:
  install        into an empty HOME, "install.sh --autostart" puts every file in place and nothing else;
                 the desktop entries and the metainfo validate; the installed command starts the program,
                 which creates "Whitelst.txt" in the installed folder; reinstalling, also while the program
                 runs, keeps an edited list and the settings byte for byte; the uninstall removes all it
                 installed and the autostart entry, and keeps the list, saying where
  hide-on-start  under a tray host: check "Hide at Startup", Exit, start again: the window is hidden
  blocking-on    Disable, Exit, start again: blocking is on
  letters        "HideOnStart" or "Menubar" stored as letters: an error box, a non-zero end, the file unchanged
  host-manifests the browser extension's host is named to this machine's Chromium and Firefox ESR, neither of
                 which has run, with its exact path and the extension's exact id, and to no other browser; an
                 install on a machine with no browser says so; the uninstall removes ours and no others

usage: install_e2e.py CASE SOURCE BUILD
SOURCE is the source tree, BUILD a build folder of it that holds the program.
"""
import os
import json
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from installed import Installed  # noqa: E402
from program import (CAPTION, CMD_ENABLE, EXIT_BUTTON, HIDE_ON_START, TITLE, click, wait_for,  # noqa: E402
                     window_names, windows_named)
from program_e2e import start_trayer  # noqa: E402
from xserver import start_x_server  # noqa: E402
from extension_id import chromium_id  # noqa: E402

ICON_SIDES = (16, 22, 24, 32, 48, 64, 128, 256)


def files_below(folder):
    """Every file and link below the folder, as paths relative to it."""
    found = set()
    for root, _, names in os.walk(folder):
        found.update(os.path.relpath(os.path.join(root, n), folder) for n in names)
    # The desktop's own cache of the folder's entries, remade on every change.
    found.discard("share/applications/mimeinfo.cache")
    return found


def extension_files(source):
    return sorted(n for n in os.listdir(os.path.join(source, "extension")) if n != "CMakeLists.txt")


def expected_files(source):
    share = "share/tavro-popup-blocker"
    demo = {f"{share}/demo/{n}" for n in os.listdir(os.path.join(source, "demo"))}
    demo |= {f"{share}/extension/{n}" for n in extension_files(source)}
    icons = {f"share/icons/hicolor/{s}x{s}/apps/tavro-popup-blocker.png" for s in ICON_SIDES}
    return demo | icons | {
        "bin/tavro-popup-blocker",
        "lib/tavro-popup-blocker/tavro-popup-blocker",
        "lib/tavro-popup-blocker/tavro-help-viewer",
        "lib/tavro-popup-blocker/tavro-popup-blocker-host",
        "lib/tavro-popup-blocker/QuellitProject.HLP",
        "share/applications/tavro-popup-blocker.desktop",
        "share/applications/tavro-popup-blocker-browser.desktop",
        "share/icons/hicolor/scalable/apps/tavro-popup-blocker.svg",
        "share/metainfo/example.tavro.PopupBlocker.metainfo.xml",
        f"{share}/start-browser.sh",
        f"{share}/demo_server.py",
        f"{share}/browsers.py",
        f"{share}/extension-ids.txt",
        f"{share}/tavro-popup-blocker.xpi",
        f"{share}/native-messaging-chromium.json",
        f"{share}/native-messaging-firefox.json",
        f"{share}/installed-files",
    }


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is no PNG"
    return struct.unpack(">II", header[16:24])


def validate(tool, path):
    done = subprocess.run([*tool, path], capture_output=True, text=True)
    assert done.returncode == 0, f"{' '.join(tool)} {path}:\n{done.stdout}{done.stderr}"


def check_installed(inst):
    got = files_below(inst.prefix)
    expected = expected_files(inst.source)
    assert got == expected, f"missing {sorted(expected - got)}, not expected {sorted(got - expected)}"
    assert os.path.realpath(inst.command) == os.path.join(inst.folder, "tavro-popup-blocker")
    for side in ICON_SIDES:
        path = f"{inst.prefix}/share/icons/hicolor/{side}x{side}/apps/tavro-popup-blocker.png"
        assert png_size(path) == (side, side), f"{path} is {png_size(path)}"
    applications = os.path.join(inst.prefix, "share", "applications")
    for entry in ("tavro-popup-blocker.desktop", "tavro-popup-blocker-browser.desktop"):
        validate(["desktop-file-validate"], os.path.join(applications, entry))
    validate(["desktop-file-validate"], inst.autostart)
    validate(["appstreamcli", "validate", "--no-net"],
             os.path.join(inst.prefix, "share", "metainfo", "example.tavro.PopupBlocker.metainfo.xml"))
    with open(inst.autostart) as f:
        keys = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    assert keys["Exec"] == f'"{inst.command}"', keys["Exec"]
    assert keys.get("X-GNOME-Autostart-Delay", "0") != "0" and keys.get("X-KDE-autostart-after") == "panel", keys
    # Firefox's .xpi is the very folder Chromium loads, but that its manifest
    # alone asks to hold requests, which only Firefox grants.
    extension = os.path.join(inst.share, "extension")
    with zipfile.ZipFile(os.path.join(inst.share, "tavro-popup-blocker.xpi")) as xpi:
        assert sorted(xpi.namelist()) == extension_files(inst.source), xpi.namelist()
        for name in xpi.namelist():
            if name == "manifest.json":
                continue
            assert xpi.read(name) == read(os.path.join(extension, name)), f"{name} differs in the .xpi"
        chromium = json.loads(read(os.path.join(extension, "manifest.json")))
        firefox = json.loads(xpi.read("manifest.json"))
        assert "webRequestBlocking" not in chromium["permissions"], chromium["permissions"]
        chromium["permissions"] += ["webRequest", "webRequestBlocking"]
        assert firefox == chromium, "the .xpi's manifest differs by more than the requests it holds"


def run_until_window(inst):
    p = inst.start()
    wait_for(lambda: windows_named(CAPTION), "the installed program showed no window")
    return p


def end(p, how="SIGTERM"):
    if how == "Exit":
        window = windows_named(CAPTION)[0]
        click(window, EXIT_BUTTON)
    else:
        p.send_signal(signal.SIGTERM)
    status = p.wait(timeout=20)
    assert status == 0, f"exit status {status} after {how}"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def case_install(inst):
    inst.install("--autostart")
    check_installed(inst)

    p = run_until_window(inst)
    wait_for(lambda: os.path.exists(inst.list), "no Whitelst.txt in the installed folder")
    end(p)

    # The user's data, as an editor would leave it.
    edited = b"b.example\nvoil\xc3\xa0.example"
    settings = b"[Options]\nBeep=1\nHideOnStart=0\nMenubar=1\n"
    for path, content in ((inst.list, edited), (inst.conf, settings)):
        with open(path, "wb") as f:
            f.write(content)
    inst.install()
    assert read(inst.list) == edited, "a reinstall changed Whitelst.txt"
    assert read(inst.conf) == settings, "a reinstall changed the settings"
    assert os.path.exists(inst.autostart), "a reinstall dropped the autostart entry"

    # An upgrade while the program runs: the files are older, so all are copied anew.
    p = run_until_window(inst)
    for name in os.listdir(inst.folder):
        os.utime(os.path.join(inst.folder, name), (0, 0))
    inst.install()
    program = os.path.join(inst.folder, "tavro-popup-blocker")
    assert os.stat(program).st_mtime != 0, "the upgrade did not replace the running program"
    assert p.poll() is None, "the running program ended during the upgrade"
    end(p)
    assert read(inst.list) == b"b.example\r\nvoil\xc3\xa0.example\r\n", read(inst.list)
    kept = read(inst.list)

    said = inst.script("uninstall.sh")
    assert files_below(inst.prefix) == {"lib/tavro-popup-blocker/Whitelst.txt"}, files_below(inst.prefix)
    assert read(inst.list) == kept, "the uninstall changed Whitelst.txt"
    assert inst.list in said, f"the uninstall did not say where the list stayed: {said!r}"
    assert not os.path.exists(inst.autostart), "the autostart entry stayed"
    assert read(inst.conf) == settings, "the uninstall changed the settings"


def case_hide_on_start(inst):
    inst.install()
    tray = start_trayer()
    try:
        p = run_until_window(inst)
        window = windows_named(CAPTION)[0]
        time.sleep(0.5)
        click(window, HIDE_ON_START)
        time.sleep(0.3)
        end(p, "Exit")
        p = inst.start()
        # The window exists and stays off the screen.
        wait_for(lambda: subprocess.run(["xdotool", "search", "--name", f"^{CAPTION}$"], capture_output=True,
                                        text=True).stdout.split(), "the program made no window")
        time.sleep(2)
        assert not windows_named(CAPTION), f"the window shows: {window_names()}"
        end(p)
    finally:
        tray.terminate()
        tray.wait()


def window_icon(window):
    return subprocess.run(["xprop", "-id", window, "_NET_WM_ICON"], capture_output=True, text=True).stdout


def case_blocking_on(inst):
    inst.install()
    p = run_until_window(inst)
    window = windows_named(CAPTION)[0]
    enabled = wait_for(lambda: window_icon(window), "the window has no icon")
    time.sleep(0.5)
    click(window, CMD_ENABLE)
    wait_for(lambda: window_icon(window) != enabled, "Disable did not change the window's icon")
    end(p, "Exit")
    p = run_until_window(inst)
    window = windows_named(CAPTION)[0]
    assert wait_for(lambda: window_icon(window), "the window has no icon") == enabled, "blocking is off after a start"
    end(p)


def case_letters(inst):
    inst.install()
    for key in ("HideOnStart", "Menubar"):
        values = {"Beep": "0", "HideOnStart": "0", "Menubar": "0", key: "yes"}
        content = ("[Options]\n" + "".join(f"{k}={v}\n" for k, v in values.items())).encode()
        with open(inst.conf, "wb") as f:
            f.write(content)
        p = inst.start()
        box = wait_for(lambda: windows_named(TITLE), f"no error box for {key}")[0]
        assert not windows_named(CAPTION), f"the window showed although {key} holds letters"
        subprocess.run(["xdotool", "windowfocus", "--sync", box], check=True, timeout=20)
        subprocess.run(["xdotool", "key", "Return"], check=True)
        status = p.wait(timeout=20)
        assert status != 0, f"{key}: a failed start ended with status 0"
        assert read(inst.conf) == content, f"{key}: the settings file changed"


HOST_NAME = "tavro_popup_blocker"


def host_manifest_places(inst):
    """Where each browser looks for the host's manifest, by the browser."""
    chromium_family = {"chromium": "chromium", "chrome": "google-chrome", "brave": "BraveSoftware/Brave-Browser",
                       "edge": "microsoft-edge", "vivaldi": "vivaldi"}
    places = {b: os.path.join(inst.config, f, "NativeMessagingHosts", HOST_NAME + ".json")
              for b, f in chromium_family.items()}
    places["firefox-esr"] = os.path.join(inst.home, ".mozilla", "native-messaging-hosts", HOST_NAME + ".json")
    places["librewolf"] = os.path.join(inst.home, ".librewolf", "native-messaging-hosts", HOST_NAME + ".json")
    return places


def check_host_manifest(inst, path):
    with open(path) as f:
        manifest = json.load(f)
    with open(os.path.join(inst.share, "extension", "manifest.json")) as f:
        extension = json.load(f)
    host = os.path.join(inst.folder, "tavro-popup-blocker-host")
    assert manifest["path"] == host and os.access(host, os.X_OK), manifest
    assert manifest["name"] == HOST_NAME and manifest["type"] == "stdio", manifest
    if "native-messaging-hosts" in path:
        assert manifest["allowed_extensions"] == [extension["browser_specific_settings"]["gecko"]["id"]], manifest
    else:
        assert f"chrome-extension://{chromium_id(extension['key'])}/" in manifest["allowed_origins"], manifest


def case_host_manifests(inst):
    places = host_manifest_places(inst)
    # A machine with no browser: an empty folder stands for its root.
    with tempfile.TemporaryDirectory() as bare:
        said = inst.install(env={"TAVRO_ROOT": bare})
    assert "no host manifest written" in said, f"an install with no browser said nothing of it: {said!r}"
    assert not any(os.path.exists(os.path.dirname(m)) for m in places.values()), "a manifest without a browser"

    # Another program's host beside ours.
    other = os.path.join(inst.config, "chromium", "NativeMessagingHosts", "other_host.json")
    os.makedirs(os.path.dirname(other))
    with open(other, "w") as f:
        f.write("{}")
    inst.install()
    present = ("chromium", "firefox-esr")
    for browser, manifest in places.items():
        assert os.path.exists(manifest) == (browser in present), f"{manifest}: {os.path.exists(manifest)}"
        if browser in present:
            check_host_manifest(inst, manifest)

    inst.script("uninstall.sh")
    left = [m for m in places.values() if os.path.exists(m)]
    assert not left, f"the uninstall left {left}"
    assert os.path.exists(other), "the uninstall removed another program's manifest"


CASES = {
    "install": case_install,
    "hide-on-start": case_hide_on_start,
    "blocking-on": case_blocking_on,
    "letters": case_letters,
    "host-manifests": case_host_manifests,
}


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in CASES:
        print(__doc__, file=sys.stderr)
        return 2
    case, source, build = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    xvfb, os.environ["DISPLAY"] = start_x_server("800x600x24")
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-install-") as home:
            inst = Installed(source, build, home)
            try:
                CASES[case](inst)
            finally:
                inst.stop_all()
    except AssertionError as e:
        print(f"{case}: {e}", file=sys.stderr)
        return 1
    finally:
        xvfb.terminate()
        xvfb.wait()
    print(f"{case}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
