#!/usr/bin/env python3
"""End to end: the real program, under a private X server, edits "Whitelst.txt".

Starts a copy of the program in a fresh folder beside a hand-written file (LF
line ends, two names on one line), removes an allowed domain by double-click
and Yes (and, when a browser is given, first blocks a pop-up, allows its
domain by double-click and Yes), then ends the program with "Exit Program" and
checks the file: the edited list, one name a line, CR LF line ends.

usage: e2e_allowed_domains.py PROGRAM [SCREENSHOT_FOLDER]
It runs itself again under xvfb-run -a, on an X server of its own.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

TITLE = "Tavro Popup Blocker"
TWIPS_PER_PIXEL = 15


def px(twips):
    return (twips + TWIPS_PER_PIXEL // 2) // TWIPS_PER_PIXEL


# Window-relative points, from the window's design (twips): the first entry of
# lstWhiteList (inside Frame4 at 120, 3600; the list at 120, 240 in it) and
# the middle of the "Exit Program" button (4080, 480, 1335 x 255).
FIRST_ALLOWED = (px(120 + 120) + 30, px(3600 + 240) + 7)
EXIT_BUTTON = (px(4080 + 1335 // 2), px(480 + 255 // 2))


def xdotool(*args, timeout=20):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True,
                          timeout=timeout).stdout.split()


def wait_for_window(name_pattern, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name_pattern],
                               capture_output=True, text=True).stdout.split()
        if found:
            return found[-1]
        time.sleep(0.2)
    raise AssertionError(f"no window named {name_pattern!r} within {timeout} s")


def wait_gone(window, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        r = subprocess.run(["xdotool", "getwindowname", window], capture_output=True)
        visible = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{TITLE}$"],
                                 capture_output=True, text=True).stdout.split()
        if r.returncode != 0 or window not in visible:
            return
        time.sleep(0.2)
    raise AssertionError("the question stayed open")


def screenshot(folder, name):
    if folder:
        subprocess.run(["import", "-window", "root", os.path.join(folder, name)], check=False,
                       capture_output=True, timeout=20)


def double_click(window, point):
    xdotool("mousemove", "--window", window, str(point[0]), str(point[1]))
    xdotool("click", "--repeat", "2", "--delay", "80", "1")


def answer_yes(shots, shot_name):
    box = wait_for_window(f"^{TITLE}$")
    time.sleep(0.3)
    screenshot(shots, shot_name)
    # Yes is the default button, so Return answers Yes.
    xdotool("windowfocus", "--sync", box)
    xdotool("key", "Return")
    wait_gone(box)


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    # Always a private X server, never the desktop the tests were started from.
    if os.environ.get("TAVRO_E2E_XVFB") != "1":
        os.environ["TAVRO_E2E_XVFB"] = "1"
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable, *sys.argv])

    program = os.path.abspath(sys.argv[1])
    shots = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    if shots:
        os.makedirs(shots, exist_ok=True)

    with tempfile.TemporaryDirectory(prefix="tavro-e2e-") as tmp:
        folder = os.path.join(tmp, "program")
        os.makedirs(folder)
        # A copy, not a link: the program looks for the file beside its real path.
        copy = os.path.join(folder, os.path.basename(program))
        shutil.copy2(program, copy)
        whitelist = os.path.join(folder, "Whitelst.txt")
        with open(whitelist, "wb") as f:
            f.write(b"a.example\nb.example, c.example\nb.example")

        runtime = os.path.join(tmp, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=os.path.join(tmp, "config"),
                   XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")
        # Qt keeps some memory to the end of the process on purpose.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        proc = subprocess.Popen([copy], cwd=tmp, env=env)
        try:
            window = wait_for_window(f"^{TITLE} Version")
            time.sleep(0.5)
            screenshot(shots, "1-started.png")

            double_click(window, FIRST_ALLOWED)
            answer_yes(shots, "2-remove-question.png")
            time.sleep(0.3)
            screenshot(shots, "3-removed.png")

            # The removal left no entry selected, so a double-click below the
            # entries asks nothing.
            double_click(window, (FIRST_ALLOWED[0], FIRST_ALLOWED[1] + 50))
            time.sleep(1.0)
            asked = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{TITLE}$"],
                                   capture_output=True, text=True).stdout.split()
            screenshot(shots, "4-below-entries.png")
            if asked:
                raise AssertionError("a double-click with no entry selected asked a question")

            xdotool("mousemove", "--window", window, str(EXIT_BUTTON[0]), str(EXIT_BUTTON[1]))
            xdotool("click", "1")
            status = proc.wait(timeout=20)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()

        with open(whitelist, "rb") as f:
            saved = f.read()
        expected = b"b.example\r\nc.example\r\n"
        if status != 0 or saved != expected:
            print(f"exit status {status}; file {saved!r}, expected {expected!r}", file=sys.stderr)
            return 1
        print(f"ok: file holds {saved!r}")
        return 0


if __name__ == "__main__":
    sys.exit(main())
