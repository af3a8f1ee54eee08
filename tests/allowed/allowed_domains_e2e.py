#!/usr/bin/env python3
"""End to end: the real program, under a private X server, edits "Whitelst.txt".

Starts a copy of the program in a fresh folder beside a hand-written file (LF
line ends, two names on one line) and removes an allowed domain by
double-click and Yes. With --browser CHROMIUM, a headless Chromium first opens
a pop-up from a loopback page; the program blocks it, and its domain is
allowed by double-click and Yes. With --browser firefox, Firefox ESR (or
$TAVRO_FIREFOX) opens the pop-up while Ctrl is held: the program lets it
through and allows its domain, the pop-up stays open once Ctrl is let go, and
the program holds Firefox's one automation session while it runs and ends it
at exit, so another client can start one then. "Exit Program" then ends the
program, and the file must hold the edited list, one name a line, CR LF line
ends.

usage: e2e_allowed_domains.py [--browser CHROMIUM|firefox] PROGRAM [SCREENSHOT_FOLDER]
It starts an X server of its own (Xvfb), never using the desktop's.
"""
import argparse
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browsers import new_bidi_session, write_firefox_prefs  # noqa: E402
from program import (EXIT_BUTTON, FIRST_ALLOWED, FIRST_BLOCKED, TITLE, answer, click, double_click,  # noqa: E402
                     visible_windows, wait_for_window, xdotool)
from xserver import start_x_server  # noqa: E402



def screenshot(folder, name):
    if folder:
        subprocess.run(["import", "-window", "root", os.path.join(folder, name)], check=False,
                       capture_output=True, timeout=20)


def answer_yes(box, shots, shot_name):
    time.sleep(0.3)
    screenshot(shots, shot_name)
    answer(box, "Return")


class Pages(http.server.BaseHTTPRequestHandler):
    """The opener page opens a pop-up window from another loopback name as it loads."""

    def do_GET(self):
        port = self.server.server_address[1]
        if self.path.startswith("/opener.html"):
            body = ("<!doctype html><title>opener</title><script>window.open("
                    f"'http://ads.localhost:{port}/ad.html', 'ad', 'width=320,height=240');"
                    "</script>opener").encode()
        else:
            body = b"<!doctype html><title>ad</title>ad"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def start_chromium(chromium, profile, url):
    """Headless Chromium in the profile where the program looks for its debugging port."""
    os.makedirs(profile, exist_ok=True)
    args = [chromium, f"--user-data-dir={profile}", "--remote-debugging-port=0",
            "--remote-debugging-address=127.0.0.1", "--no-first-run", "--no-default-browser-check",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-default-apps", "--disable-extensions", "--disable-dev-shm-usage",
            "--password-store=basic", "--disable-popup-blocking", "--headless"]
    if os.geteuid() == 0:
        args.append("--no-sandbox")
    browser = subprocess.Popen([*args, url], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, "DevToolsActivePort")
    deadline = time.monotonic() + 30
    while not os.path.exists(port_file):
        if browser.poll() is not None or time.monotonic() > deadline:
            browser.kill()
            raise AssertionError("chromium did not open its debugging port")
        time.sleep(0.1)
    return browser


def start_firefox(profile, url):
    """Firefox on the program's own Firefox profile, with its WebDriver BiDi port."""
    write_firefox_prefs(profile)
    binary = os.environ.get("TAVRO_FIREFOX") or "firefox-esr"
    browser = subprocess.Popen([binary, "--no-remote", "--remote-debugging-port=0", "--profile", profile, url],
                               env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server_file = os.path.join(profile, "WebDriverBiDiServer.json")
    deadline = time.monotonic() + 60
    while not (os.path.exists(server_file) and os.path.getsize(server_file) > 0):
        if browser.poll() is not None or time.monotonic() > deadline:
            browser.kill()
            raise AssertionError("firefox did not open its WebDriver BiDi port")
        time.sleep(0.1)
    with open(server_file) as f:
        return browser, json.load(f)["ws_port"]


def let_popup_through_with_ctrl(port, shots):
    """Ctrl, held since the program started, is let go once the program holds Firefox's
    session and a few ticks more have passed: its scans let the open pop-up through."""
    try:
        deadline = time.monotonic() + 30
        while True:
            time.sleep(3)
            answer = new_bidi_session(port)
            if answer.get("type") == "error":
                break
            if time.monotonic() > deadline:
                raise AssertionError("the program did not take Firefox's session within 30 s")
        time.sleep(1.5)  # a few more ticks with Ctrl held
    finally:
        xdotool("keyup", "ctrl")
    time.sleep(2)  # ticks without Ctrl: the allowed pop-up must stay
    screenshot(shots, "2-let-through.png")
    if not visible_windows("^ad .*Firefox"):
        raise AssertionError("the pop-up let through with Ctrl was closed")


def allow_blocked_domain(window, shots):
    """Double-clicks the first blocked domain until the scan has listed one and the question shows."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        double_click(window, FIRST_BLOCKED)
        time.sleep(0.5)
        boxes = visible_windows(f"^{TITLE}$")
        if boxes:
            answer_yes(boxes[-1], shots, "2-add-question.png")
            return
        time.sleep(0.5)
    screenshot(shots, "2-nothing-blocked.png")
    raise AssertionError("no pop-up was blocked within 30 s")


def run(args, tmp):
    folder = os.path.join(tmp, "program")
    os.makedirs(folder)
    # A copy, not a link: the program looks for the file beside its real path.
    copy = os.path.join(folder, os.path.basename(args.program))
    shutil.copy2(args.program, copy)
    whitelist = os.path.join(folder, "Whitelst.txt")
    with open(whitelist, "wb") as f:
        f.write(b"a.example\nb.example, c.example\nb.example")
    expected = b"b.example\r\nc.example\r\n"

    runtime = os.path.join(tmp, "runtime")
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=os.path.join(tmp, "config"),
               XDG_DATA_HOME=os.path.join(tmp, "data"), XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")
    # Qt keeps some memory to the end of the process on purpose.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"

    server = browser = proc = None
    firefox = args.browser == "firefox"
    try:
        if args.browser:
            server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            port = server.server_address[1]
            opener = f"http://127.0.0.1:{port}/opener.html"
            profiles = os.path.join(tmp, "data", "tavro-popup-blocker")
            if firefox:
                browser, bidi_port = start_firefox(os.path.join(profiles, "firefox"), opener)
                wait_for_window("^ad .*Firefox", timeout=30)
            else:
                browser = start_chromium(args.browser, os.path.join(profiles, "browser"), opener)
            expected += f"ads.localhost:{port}\r\n".encode()

        if firefox:
            xdotool("keydown", "ctrl")
        proc = subprocess.Popen([copy], cwd=tmp, env=env)
        window = wait_for_window(f"^{TITLE} Version")
        time.sleep(0.5)
        screenshot(args.shots, "1-started.png")

        if firefox:
            let_popup_through_with_ctrl(bidi_port, args.shots)
        elif args.browser:
            allow_blocked_domain(window, args.shots)
            time.sleep(0.3)
            screenshot(args.shots, "3-allowed.png")

        double_click(window, FIRST_ALLOWED)
        answer_yes(wait_for_window(f"^{TITLE}$"), args.shots, "4-remove-question.png")
        time.sleep(0.3)
        screenshot(args.shots, "5-removed.png")

        # The removal left no entry selected, so a double-click below the
        # entries asks nothing.
        double_click(window, (FIRST_ALLOWED[0], FIRST_ALLOWED[1] + 50))
        time.sleep(1.0)
        if visible_windows(f"^{TITLE}$"):
            screenshot(args.shots, "6-unexpected-question.png")
            raise AssertionError("a double-click with no entry selected asked a question")

        click(window, EXIT_BUTTON)
        status = proc.wait(timeout=20)
        if firefox:
            answer = new_bidi_session(bidi_port)
            if answer.get("type") != "success":
                print(f"firefox's session was not ended at exit: {answer}", file=sys.stderr)
                return 1
    finally:
        if firefox:
            xdotool("keyup", "ctrl")
        for p in (proc, browser):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        if server is not None:
            server.shutdown()

    with open(whitelist, "rb") as f:
        saved = f.read()
    if status != 0 or saved != expected:
        print(f"exit status {status}; file {saved!r}, expected {expected!r}", file=sys.stderr)
        return 1
    print(f"ok: file holds {saved!r}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--browser", help="Chromium to block a pop-up in, or firefox to let one through")
    parser.add_argument("program")
    parser.add_argument("shots", nargs="?", help="folder for screenshots")
    args = parser.parse_args()
    args.program = os.path.abspath(args.program)
    if args.shots:
        args.shots = os.path.abspath(args.shots)
        os.makedirs(args.shots, exist_ok=True)
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-e2e-") as tmp:
            return run(args, tmp)
    finally:
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
