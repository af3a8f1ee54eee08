#!/usr/bin/env python3
"""End to end: the real program on a private X server, one case per run.

Cases:
  caption          the window's caption reads exactly "Tavro Popup Blocker Version 2.7"; SIGPIPE does not
                   end the program
  second-instance  a second start ends at once with status 0 and leaves the first running
  sigterm-saves    SIGTERM runs the unload: the three options (one changed by a click) land in the .conf file
  hide-on-start    with "HideOnStart" stored as 1 and no tray host the window is minimized, not hidden, and
                   the program runs on
  bad-setting      a stored option made of letters shows an error box; the program then ends
                   with a non-zero status and the settings file is unchanged
  tray             under a real tray host: the icon's double-click shows the hidden window, its
                   right-click opens the menu, and the menu's Exit saves and ends the program
  late-tray        the tray host starts seconds after the program: the one icon docks within a few
                   seconds, the window minimized by "Hide at Startup" is hidden then, and Hide hides it
  browsers         --browsers runs beside the program: exit status 1 while nothing is protected, 0 once
                   a profile's extension has said hello; "Browsers" on the tray menu opens the
                   "Browsers" view; the program's report goes with it

usage: program_e2e.py CASE PROGRAM [SCREENSHOT]
Each run starts an X server of its own (Xvfb) and gives the program a fresh
HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR.
"""
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from program import CAPTION, HIDE_ON_START, TITLE, Program, px, wait_for, window_names, windows_named  # noqa: E402
from xserver import start_x_server  # noqa: E402


def screenshot(path):
    if path:
        subprocess.run(["import", "-window", "root", path], check=False, capture_output=True, timeout=20)


def case_caption(program, shot):
    p = program.start()
    wait_for(lambda: windows_named(CAPTION), f"no window captioned {CAPTION!r}")
    time.sleep(0.5)
    screenshot(shot)
    # A peer that went away while the program wrote to it must not end it.
    p.send_signal(signal.SIGPIPE)
    time.sleep(0.5)
    assert p.poll() is None, f"SIGPIPE ended the program with status {p.returncode}"
    p.send_signal(signal.SIGTERM)
    status = p.wait(timeout=20)
    assert status == 0, f"exit status {status} after SIGTERM"


def case_second_instance(program, shot):
    first = program.start()
    main = wait_for(lambda: windows_named(CAPTION), "the first instance showed no window")
    started = time.monotonic()
    second = program.start()
    status = second.wait(timeout=20)
    took = time.monotonic() - started
    assert status == 0, f"the second start ended with status {status}"
    assert took < 10, f"the second start took {took:.1f} s to end"
    time.sleep(0.5)
    assert first.poll() is None, "the first instance ended"
    assert windows_named(CAPTION) == main, f"windows now {window_names()}"
    screenshot(shot)
    first.send_signal(signal.SIGTERM)
    assert first.wait(timeout=20) == 0


def case_sigterm_saves(program, shot):
    assert not os.path.exists(program.conf)
    p = program.start()
    window = wait_for(lambda: windows_named(CAPTION), "no window")[0]
    time.sleep(0.5)
    # Check "Hide at Startup": only the unload can have written it.
    subprocess.run(["xdotool", "mousemove", "--window", window, str(HIDE_ON_START[0]), str(HIDE_ON_START[1])],
                   check=True)
    subprocess.run(["xdotool", "click", "1"], check=True)
    time.sleep(0.5)
    screenshot(shot)
    assert not os.path.exists(program.conf), "settings written before the unload"
    # An upgrade may remove the program file while the program runs; its
    # files are still saved where they were read.
    os.remove(program.path)
    p.send_signal(signal.SIGTERM)
    status = p.wait(timeout=20)
    assert status == 0, f"exit status {status} after SIGTERM"
    with open(program.conf) as f:
        lines = [line.strip() for line in f if line.strip()]
    assert lines == ["[Options]", "Beep=1", "HideOnStart=1", "Menubar=0"], lines
    assert os.path.exists(os.path.join(program.folder, "Whitelst.txt")), "the allowed list was not saved"
    assert not os.path.exists(os.path.join(program.tmp, "Whitelst.txt")), "the list went to the working folder"


def case_hide_on_start(program, shot):
    with open(program.conf, "w") as f:
        f.write("[Options]\nBeep=0\nHideOnStart=1\nMenubar=0\n")
    p = program.start()
    # No tray host runs here, so no icon could bring a hidden window back: the
    # window is minimized instead (a no-op without a window manager) and stays
    # within the user's reach. The tray case sees it hidden under a tray host.
    window = wait_for(lambda: windows_named(CAPTION), "no window")[0]
    wait_for(lambda: "Iconic" in subprocess.run(["xprop", "-id", window, "WM_HINTS"], capture_output=True,
                                                 text=True).stdout, "the window was not minimized")
    time.sleep(1.0)
    screenshot(shot)
    assert p.poll() is None, "the program ended"
    assert windows_named(CAPTION) == [window], "the window left the screen with no way back"
    p.send_signal(signal.SIGTERM)
    assert p.wait(timeout=20) == 0
    with open(program.conf) as f:
        lines = [line.strip() for line in f if line.strip()]
    assert lines == ["[Options]", "Beep=0", "HideOnStart=1", "Menubar=0"], lines


def case_bad_setting(program, shot):
    content = b"[Options]\nBeep=abc\nHideOnStart=0\nMenubar=0\n"
    with open(program.conf, "wb") as f:
        f.write(content)
    before = os.stat(program.conf).st_mtime_ns
    p = program.start()
    box = wait_for(lambda: windows_named(TITLE), "no error box")[0]
    time.sleep(0.5)
    screenshot(shot)
    assert not windows_named(CAPTION), "the window showed although start-up failed"
    assert p.poll() is None, "the program ended before the error was dismissed"
    subprocess.run(["xdotool", "windowfocus", "--sync", box], check=True, timeout=20)
    subprocess.run(["xdotool", "key", "Return"], check=True)
    status = p.wait(timeout=20)
    assert status != 0, "a failed start ended with status 0"
    with open(program.conf, "rb") as f:
        assert f.read() == content, "the settings file changed"
    assert os.stat(program.conf).st_mtime_ns == before, "the settings file was written"
    # Start-up stopped at the options, before the allowed list.
    assert not os.path.exists(os.path.join(program.folder, "Whitelst.txt"))


def geometry(wid):
    """The window's position and size on the screen."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], capture_output=True, text=True,
                         check=True).stdout
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def visible_windows():
    return set(subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], capture_output=True,
                              text=True).stdout.split())


def tray_hosts():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "trayer"], capture_output=True,
                          text=True).stdout.split()


def start_trayer():
    """trayer, a tray host, at the screen's bottom right; returns its process once its window shows."""
    if shutil.which("trayer") is None:
        raise AssertionError("trayer, the tray host for this test, is not installed")
    tray = subprocess.Popen(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                             "--height", "24", "--transparent", "false"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        wait_for(tray_hosts, "no tray host")
    except AssertionError:
        tray.terminate()
        tray.wait()
        raise
    return tray


def docked_icon(host):
    """The centre of the icon once it has docked in the host, which grows to hold it."""
    x, y, w, h = geometry(host)
    return (x + w - h // 2, y + h // 2) if w >= h else None


def case_tray(program, shot):
    tray = start_trayer()
    try:
        host = tray_hosts()[0]
        with open(program.conf, "w") as f:
            f.write("[Options]\nBeep=1\nHideOnStart=1\nMenubar=0\n")
        p = program.start()
        icon = wait_for(lambda: docked_icon(host), "the icon did not dock")
        wait_for(lambda: subprocess.run(["xdotool", "search", "--name", f"^{CAPTION}$"],
                                        capture_output=True, text=True).stdout.split()
                 and not windows_named(CAPTION), "the window did not hide itself")

        subprocess.run(["xdotool", "mousemove", str(icon[0]), str(icon[1]), "click", "--repeat", "2",
                        "--delay", "80", "1"], check=True)
        wait_for(lambda: windows_named(CAPTION), "a double-click on the icon did not show the window")

        before = visible_windows()
        subprocess.run(["xdotool", "click", "3"], check=True)
        menu = wait_for(lambda: list(visible_windows() - before), "a right-click on the icon opened no menu")[0]
        time.sleep(0.3)
        screenshot(shot)
        x, y, w, h = geometry(menu)
        # Exit is the menu's last item.
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h - 12), "click", "1"], check=True)
        status = p.wait(timeout=20)
        assert status == 0, f"exit status {status} after Exit"
        assert os.path.exists(os.path.join(program.folder, "Whitelst.txt")), "the allowed list was not saved"
        with open(program.conf) as f:
            lines = [line.strip() for line in f if line.strip()]
        assert lines == ["[Options]", "Beep=1", "HideOnStart=1", "Menubar=0"], lines
    finally:
        tray.terminate()
        tray.wait()


# The cmd_Hide button at its centre.
CMD_HIDE = (px(3360 + 975 // 2), px(120 + 255 // 2))


def iconic(window):
    return "Iconic" in subprocess.run(["xprop", "-id", window, "WM_HINTS"], capture_output=True, text=True).stdout


def case_late_tray(program, shot):
    with open(program.conf, "w") as f:
        f.write("[Options]\nBeep=0\nHideOnStart=1\nMenubar=0\n")
    p = program.start()
    window = wait_for(lambda: windows_named(CAPTION), "no window")[0]
    wait_for(lambda: iconic(window), "with no tray host the window was not minimized")
    # The panel comes up after the program, as at some logins.
    time.sleep(3)
    tray = start_trayer()
    try:
        host = tray_hosts()[0]
        icon = wait_for(lambda: docked_icon(host), "the icon did not dock once the host appeared", timeout=8)
        wait_for(lambda: not windows_named(CAPTION), "the icon docked, yet the window was not hidden")
        time.sleep(1.5)
        _, _, width, height = geometry(host)
        assert width < 2 * height, f"the host holds more than one icon ({width} x {height})"

        subprocess.run(["xdotool", "mousemove", str(icon[0]), str(icon[1]), "click", "--repeat", "2",
                        "--delay", "80", "1"], check=True)
        window = wait_for(lambda: windows_named(CAPTION), "a double-click on the icon did not show the window")[0]
        time.sleep(0.5)
        screenshot(shot)
        subprocess.run(["xdotool", "mousemove", "--window", window, str(CMD_HIDE[0]), str(CMD_HIDE[1]), "click",
                        "1"], check=True)
        # Hidden, not minimized: a minimized window stays on this screen, which has no window manager.
        wait_for(lambda: not windows_named(CAPTION), "Hide did not hide the window")
        assert p.poll() is None, "the program ended"
        p.send_signal(signal.SIGTERM)
        assert p.wait(timeout=20) == 0
    finally:
        tray.terminate()
        tray.wait()


def browsers_table(program):
    return subprocess.run([program.path, "--browsers"], env=program.env, capture_output=True, text=True,
                          timeout=30)


def case_browsers(program, shot):
    share = os.path.join(program.tmp, "data", "tavro-popup-blocker")
    os.makedirs(share, exist_ok=True)
    shutil.copy2(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "browsers.py"),
                 share)
    alone = browsers_table(program)
    assert alone.returncode == 1 and "program not running" in alone.stdout, alone
    tray = start_trayer()
    try:
        host = tray_hosts()[0]
        p = program.start()
        icon = wait_for(lambda: docked_icon(host), "the icon did not dock")
        wait_for(lambda: windows_named(CAPTION), "no window")
        # No browser runs for the program: every browser found is not connected, and none is protected.
        beside = wait_for(lambda: (t := browsers_table(program)) and "not connected" in t.stdout and t,
                          "--browsers did not see the running program")
        assert beside.returncode == 1, beside
        assert "program not running" not in beside.stdout, beside.stdout

        # A Chromium profile's extension, as its host passes it on; of the first version, which is never
        # asked whether it still listens.
        extension = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        extension.connect(os.path.join(program.runtime, "tavro-popup-blocker", "extension.sock"))
        for message in (b'{"type":"hello","protocol":1,"browser":"chromium"}', b'{"type":"tabs","tabs":[]}'):
            extension.sendall(struct.pack("<I", len(message)) + message)
        watched = wait_for(lambda: (t := browsers_table(program)) and t.returncode == 0 and t,
                           "--browsers did not count the connected profile")
        assert "connected, 1 profile" in watched.stdout, watched.stdout

        before = visible_windows()
        subprocess.run(["xdotool", "mousemove", str(icon[0]), str(icon[1]), "click", "3"], check=True)
        wait_for(lambda: list(visible_windows() - before), "a right-click on the icon opened no menu")
        time.sleep(0.3)
        # Show, Disable, Browsers.
        subprocess.run(["xdotool", "key", "--delay", "100", "Down", "Down", "Down", "Return"], check=True)
        wait_for(lambda: windows_named("Browsers"), "the menu's Browsers opened no view")
        # The installed browsers are looked for in the background.
        time.sleep(3)
        screenshot(shot)
        report = os.path.join(program.runtime, "tavro-popup-blocker", "protection")
        assert os.path.exists(report), "the running program wrote no report"
        extension.close()
        p.send_signal(signal.SIGTERM)
        assert p.wait(timeout=20) == 0
        assert not os.path.exists(report), "the report outlived the program"
    finally:
        tray.terminate()
        tray.wait()


CASES = {
    "caption": case_caption,
    "second-instance": case_second_instance,
    "sigterm-saves": case_sigterm_saves,
    "hide-on-start": case_hide_on_start,
    "bad-setting": case_bad_setting,
    "tray": case_tray,
    "late-tray": case_late_tray,
    "browsers": case_browsers,
}


def main():
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in CASES:
        print(__doc__, file=sys.stderr)
        return 2
    case, source = sys.argv[1], os.path.abspath(sys.argv[2])
    shot = os.path.abspath(sys.argv[3]) if len(sys.argv) == 4 else None
    xvfb, os.environ["DISPLAY"] = start_x_server("800x600x24")
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-e2e-") as tmp:
            program = Program(source, tmp)
            try:
                CASES[case](program, shot)
            finally:
                program.stop_all()
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
