#!/usr/bin/env python3
"""Help from end to end, on a private X server: the Help button opens the viewer
on the contents, F1 on the allowed list shows its topic, and Exit closes the
viewer unless another program still uses it.

The program, the viewer and the help file are copied to a folder of the test's
own, so the program finds its help file beside itself and writes nothing into
the build tree; its runtime, settings and data folders are the test's too.
"""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xserver import start_x_server  # noqa: E402

# Positions on the window, in pixels from its client area's top left corner:
# the middle of the Help button, of the allowed list and of "Exit Program".
HELP_BUTTON = (304 + 28, 8 + 8)
ALLOWED_LIST = (16 + 100, 256 + 30)
EXIT_BUTTON = (272 + 44, 32 + 8)
MAIN_TITLE = "Tavro Popup Blocker Version 2.7"
VIEWER_TITLE = "Tavro Popup Blocker Help"


SCREEN_ON_FAILURE = None


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    if SCREEN_ON_FAILURE:
        SCREEN_ON_FAILURE()
    sys.exit(1)


def wait_for(what, predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.1)


def wait_for_quietly(predicate, timeout):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


class Session:
    def __init__(self, args, root):
        self.root = root
        self.bin = os.path.join(root, "bin")
        os.makedirs(self.bin)
        for source in (args.program, args.viewer, args.help_file):
            shutil.copy2(source, self.bin)
        self.program = os.path.join(self.bin, os.path.basename(args.program))
        runtime = os.path.join(root, "run")
        os.makedirs(runtime, mode=0o700)
        self.socket_path = os.path.join(runtime, "tavro-help-viewer")
        self.env = dict(os.environ)
        self.env.update(
            XDG_RUNTIME_DIR=runtime,
            XDG_CONFIG_HOME=os.path.join(root, "config"),
            XDG_DATA_HOME=os.path.join(root, "data"),
            QT_QPA_PLATFORM="xcb",
            # Leaks at exit are the sanitizer suites' business, not this test's.
            ASAN_OPTIONS="detect_leaks=0",
        )
        self.display = None
        self.xvfb = None
        self.programs = []

    def start_x(self):
        try:
            self.xvfb, self.display = start_x_server()
        except AssertionError as e:
            fail(str(e))
        self.env["DISPLAY"] = self.display

    def stop(self):
        for process in self.programs:
            if process.poll() is None:
                process.kill()
                process.wait()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)

    def xdotool(self, *arguments):
        result = subprocess.run(["xdotool", *arguments], env=self.env, capture_output=True, text=True)
        return result.stdout.strip() if result.returncode == 0 else ""

    def window(self, title):
        found = self.xdotool("search", "--onlyvisible", "--name", "^" + title + "$")
        return found.splitlines()[0] if found else ""

    def origin(self, window):
        shell = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell", window).splitlines())
        return int(shell["X"]), int(shell["Y"])

    def click(self, window, point):
        x, y = self.origin(window)
        self.xdotool("mousemove", "--sync", str(x + point[0]), str(y + point[1]), "click", "1")

    def ask(self, owner, command, data=0):
        """One request to the viewer, as the program's adapter sends it; None when none listens."""
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
                connection.settimeout(5)
                connection.connect(self.socket_path)
                request = {"owner": owner, "file": os.path.join(self.bin, "QuellitProject.HLP"),
                           "command": command, "data": data}
                connection.sendall((json.dumps(request) + "\n").encode())
                reply = b""
                while not reply.endswith(b"\n"):
                    chunk = connection.recv(4096)
                    if not chunk:
                        break
                    reply += chunk
                return json.loads(reply) if reply else None
        except OSError:
            return None

    def status(self):
        return self.ask("e2e-status", 0x100)

    def page(self):
        status = self.status()
        return status and status["visible"] and status["page"]

    def start_program(self):
        process = subprocess.Popen([self.program], env=self.env, cwd=self.root)
        self.programs.append(process)
        window = wait_for("the main window", lambda: self.window(MAIN_TITLE))
        # The window shows before its first paint settles; give it a moment.
        time.sleep(0.5)
        return process, window


def open_help(session, window):
    session.click(window, HELP_BUTTON)
    wait_for("the contents", lambda: session.page() == "contents")
    # Without a window manager the viewer opens over the program's window.
    viewer = wait_for("the viewer's window", lambda: session.window(VIEWER_TITLE))
    session.xdotool("windowmove", "--sync", viewer, "400", "0")


def run(args):
    root = tempfile.mkdtemp(prefix="tavro-help-e2e-")
    session = Session(args, root)
    session.start_x()
    global SCREEN_ON_FAILURE
    if args.failure_screenshot:
        SCREEN_ON_FAILURE = lambda: subprocess.run(["import", "-window", "root", args.failure_screenshot],
                                                   env=session.env)
    try:
        # 1. Help button, F1, and Exit while another program still uses the viewer.
        program, window = session.start_program()
        if session.status() is not None:
            fail("a viewer runs before anyone asked for help")
        open_help(session, window)
        # The viewer took the keyboard focus when it came up; with no window
        # manager to hand it back on a click, the test gives it back itself.
        session.xdotool("windowfocus", "--sync", window)
        session.click(window, ALLOWED_LIST)
        # A key that came before the window knew it was active is pressed again.
        for _ in range(5):
            time.sleep(0.3)
            session.xdotool("key", "F1")
            if wait_for_quietly(lambda: session.page() == "100", 3.0):
                break
        wait_for("topic 100", lambda: session.page() == "100", timeout=1.0)
        if args.screenshot:
            time.sleep(0.5)
            subprocess.run(["import", "-window", "root", args.screenshot], env=session.env, check=True)

        if session.ask("another-program:1", 3) != {"ok": True}:
            fail("a second owner was not served")
        session.click(window, EXIT_BUTTON)
        if program.wait(timeout=20) != 0:
            fail("the program ended with status %d" % program.returncode)
        status = session.status()
        if not status or status["owners"] != 1:
            fail("the viewer should stay for the other program, got %r" % (status,))
        session.ask("another-program:1", 2)
        wait_for("the viewer to close", lambda: session.status() is None)

        # 2. The program alone: its Exit closes the viewer.
        program, window = session.start_program()
        open_help(session, window)
        session.click(window, EXIT_BUTTON)
        if program.wait(timeout=20) != 0:
            fail("the program ended with status %d" % program.returncode)
        wait_for("the viewer to close", lambda: session.status() is None)
        print("help end to end: contents, topic 100 on F1, viewer kept for another owner and closed by the last")
    finally:
        session.stop()
        shutil.rmtree(root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--help-file", required=True)
    parser.add_argument("--screenshot", help="save a picture of the screen once F1 has shown its topic")
    parser.add_argument("--failure-screenshot", help="save a picture of the screen when the test fails")
    run(parser.parse_args())


if __name__ == "__main__":
    main()
