#!/usr/bin/env python3
"""A pop-up opened the moment the real program's window appears, its opener
closed 0.7 to 1 s later, as a pop-under's is: how long the pop-up lives.

Each run starts, on a private X server (Xvfb), a Chromium on the program's own
profile folder in a fresh HOME, showing an opener page; then a copy of the
real program in a fresh folder with that HOME. The moment the program's window
is on screen, the opener page opens a pop-up window; 0.7 to 1 s later the
opener is closed. The pop-up's life is taken from Chromium's own target
events, on a DevTools connection of this script's own, from its creation to
its end; a pop-up still open 6 s after its creation counts as left open.

usage: popunder_bench.py [--runs N] [PROGRAM]
       (default: 8 runs of build/bench/bin/tavro-popup-blocker; the browser
       is chromium, or $TAVRO_CHROMIUM)
"""
import argparse
import http.server
import os
import queue
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from devtools_reference import DevTools  # noqa: E402
from program import CAPTION, Program  # noqa: E402
from xserver import start_x_server  # noqa: E402

LEFT_OPEN_AFTER = 6.0


class Pages(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        title = "opener" if self.path.startswith("/opener.html") else "ad"
        body = f"<!doctype html><title>{title}</title>{title}".encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def start_chromium(profile, url, display):
    """Chromium with real windows on the display, on the program's own profile."""
    os.makedirs(profile, mode=0o700, exist_ok=True)
    binary = os.environ.get("TAVRO_CHROMIUM") or "chromium"
    args = [binary, f"--user-data-dir={profile}", "--remote-debugging-port=0",
            "--remote-debugging-address=127.0.0.1", "--no-first-run", "--no-default-browser-check",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-default-apps", "--disable-extensions", "--disable-dev-shm-usage",
            "--password-store=basic", "--disable-popup-blocking", "--ozone-platform=x11"]
    if os.geteuid() == 0:
        args.append("--no-sandbox")
    browser = subprocess.Popen([*args, url], env=dict(os.environ, DISPLAY=display), start_new_session=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, "DevToolsActivePort")
    deadline = time.monotonic() + 60
    while not (os.path.exists(port_file) and len(open(port_file).read().split("\n")) >= 2):
        if browser.poll() is not None or time.monotonic() > deadline:
            stop_group(browser)
            raise AssertionError("chromium did not open its debugging port")
        time.sleep(0.05)
    port, path = open(port_file).read().split("\n")[:2]
    return browser, int(port), path


def stop_group(process):
    try:
        os.killpg(process.pid, 9)
    except ProcessLookupError:
        pass
    process.wait()


def window_shown():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{CAPTION}$"],
                          capture_output=True, text=True).stdout.split()


def one_run(source, pages_port, display):
    """One run; returns (ms from the window to the pop-up's creation, its lifetime in ms or None)."""
    tmp = tempfile.mkdtemp(prefix="tavro-popunder-")
    program = Program(source, tmp)
    browser = None
    devtools = None
    try:
        profile = os.path.join(tmp, "data", "tavro-popup-blocker", "browser")
        browser, port, path = start_chromium(profile, f"http://site.localhost:{pages_port}/opener.html", display)
        devtools = DevTools(port, path)
        deadline = time.monotonic() + 30
        opener = None
        while opener is None and time.monotonic() < deadline:
            for target in devtools.call("Target.getTargets")["targetInfos"]:
                if target["type"] == "page" and target.get("title") == "opener":
                    opener = target["targetId"]
            time.sleep(0.05)
        if opener is None:
            raise AssertionError("the opener page did not load")
        session = devtools.call("Target.attachToTarget", {"targetId": opener, "flatten": True})["sessionId"]
        devtools.call("Target.setDiscoverTargets", {"discover": True})

        program.start()
        deadline = time.monotonic() + 30
        while not window_shown():
            if time.monotonic() > deadline:
                raise AssertionError("the program's window did not appear")
        shown = time.monotonic()
        devtools.post("Runtime.evaluate", {
            "expression": f"window.open('http://ads.localhost:{pages_port}/ad.html', 'ad', "
                          "'width=320,height=240'); 0",
            "userGesture": True}, session=session)
        opened = time.monotonic()
        close_at = opened + random.uniform(0.7, 1.0)
        popup = None
        created = None
        while True:
            now = time.monotonic()
            if close_at is not None and now >= close_at:
                devtools.post("Target.closeTarget", {"targetId": opener})
                close_at = None
            if created is not None and now - created > LEFT_OPEN_AFTER:
                return ms(created - shown), None
            if created is None and now - opened > LEFT_OPEN_AFTER:
                raise AssertionError("the pop-up was never created")
            try:
                arrived, event = devtools.events.get(timeout=0.01)
            except queue.Empty:
                continue
            params = event.get("params", {})
            info = params.get("targetInfo", {})
            if (event["method"] == "Target.targetCreated" and info.get("type") == "page"
                    and info.get("openerId") == opener and popup is None):
                popup, created = info["targetId"], arrived
            elif event["method"] == "Target.targetDestroyed" and params.get("targetId") == popup:
                return ms(created - shown), ms(arrived - created)
    finally:
        if devtools is not None:
            devtools.close()
        program.stop_all()
        if browser is not None:
            stop_group(browser)
        shutil.rmtree(tmp, ignore_errors=True)


def ms(seconds):
    return seconds * 1000.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=8)
    parser.add_argument("program", nargs="?",
                        default=os.path.join(HERE, "..", "build", "bench", "bin", "tavro-popup-blocker"))
    args = parser.parse_args()
    source = os.path.abspath(args.program)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    xvfb, display = start_x_server()
    os.environ["DISPLAY"] = display
    lifetimes = []
    left_open = 0
    try:
        print(f"A pop-up opened the moment the program's window appears, its opener closed 0.7 to 1 s later "
              f"({args.runs} runs, Chromium under Xvfb):")
        for run in range(1, args.runs + 1):
            delay, lived = one_run(source, server.server_address[1], display)
            if lived is None:
                left_open += 1
                print(f"  run {run}: created {delay:.0f} ms after the window appeared; still open "
                      f"{LEFT_OPEN_AFTER:.0f} s later")
            else:
                lifetimes.append(lived)
                print(f"  run {run}: created {delay:.0f} ms after the window appeared; lived {lived:.0f} ms")
            sys.stdout.flush()
    finally:
        xvfb.terminate()
        xvfb.wait()
        server.shutdown()
    if lifetimes:
        print(f"  closed in {len(lifetimes)} of {args.runs} runs: median {statistics.median(lifetimes):.0f} ms, "
              f"longest {max(lifetimes):.0f} ms; left open in {left_open}")
    else:
        print(f"  closed in none of {args.runs} runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
