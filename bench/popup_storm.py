#!/usr/bin/env python3
"""A page that opens a thousand windows at once, then pop-ups at odd moments:
whether the real program still closes each of them, and how soon.

Each run starts, on a private X server (Xvfb), a Chromium with its debugging
port on the program's own profile folder in a fresh HOME, then a copy of the
real program in a fresh folder with that HOME. A page opens COUNT windows at
once; once the last of them is born and none is left open (or the storm's
time is up), another page opens ten pop-ups, 170 to 430 ms apart. Every
page's birth and end are taken from Chromium's own target events, on a
DevTools connection of this script's own. It prints, for each run, how long
the storm's windows took to be born, how many were still open at its end and
how many were ever open at once, and the lifetimes of the pop-ups after it;
a pop-up still open 6 s after its creation counts as left open.

usage: popup_storm.py [--runs N] [--count N] [PROGRAM]
       (default: 5 runs of 1000 windows, build/bench/bin/tavro-popup-blocker;
       the browser is chromium, or $TAVRO_CHROMIUM)
"""
import argparse
import http.server
import os
import queue
import shutil
import statistics
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from devtools_reference import DevTools  # noqa: E402
from popunder_bench import start_chromium, stop_group, window_shown  # noqa: E402
from program import Program  # noqa: E402
from xserver import start_x_server  # noqa: E402

LEFT_OPEN_AFTER = 6.0
AFTER = 10
# The longest a window of the storm is waited for; Chromium on a busy
# machine gives birth to a few windows a second.
STORM_EACH = 1.0

# Plain pages: nothing a page keeps open holds back the next one's load.
STORM = """<!doctype html><title>storm</title><script>
const q = new URLSearchParams(location.search);
for (let i = 0; i < Number(q.get('count')); ++i)
  window.open('http://storm.localhost:' + location.port + '/ad.html?' + i, 's' + i, 'width=100,height=100');
</script>"""
SERIES = """<!doctype html><title>series</title><script>
const q = new URLSearchParams(location.search);
let opened = 0;
function next() {
  if (opened >= Number(q.get('count'))) return;
  window.open('http://after.localhost:' + location.port + '/ad.html?' + opened, 'p' + opened,
              'width=300,height=200');
  ++opened;
  setTimeout(next, 170 + Math.random() * 260);
}
next();
</script>"""


class Pages(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = urllib.parse.urlparse(self.path).path
        body = {"/storm.html": STORM, "/series.html": SERIES}.get(path, "<!doctype html><title>ad</title>ad")
        data = body.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        try:
            self.wfile.write(data)
        except OSError:
            pass  # the page was closed before its answer

    def log_message(self, *args):
        pass


class Births:
    """The pages a script opened, from Chromium's own events: when each was
    born and ended, and by which page it was opened."""

    def __init__(self, devtools):
        self.devtools = devtools
        self.born, self.ended, self.opener = {}, {}, {}
        self.most_open = 0

    def take(self, timeout=0.05):
        try:
            arrived, event = self.devtools.events.get(timeout=timeout)
        except queue.Empty:
            return
        params = event.get("params", {})
        info = params.get("targetInfo", {})
        if event.get("method") == "Target.targetCreated" and info.get("type") == "page" and info.get("openerId"):
            self.born.setdefault(info["targetId"], arrived)
            self.opener[info["targetId"]] = info["openerId"]
        elif event.get("method") == "Target.targetDestroyed" and params.get("targetId") in self.born:
            self.ended.setdefault(params["targetId"], arrived)
        self.most_open = max(self.most_open, len(self.open_now()))

    def of(self, opener):
        return [t for t, o in self.opener.items() if o == opener]

    def open_now(self, opener=None):
        return [t for t in (self.of(opener) if opener else self.born) if t not in self.ended]


def one_run(source, port, display, count):
    tmp = tempfile.mkdtemp(prefix="tavro-storm-")
    program = Program(source, tmp)
    browser = devtools = None
    try:
        profile = os.path.join(tmp, "data", "tavro-popup-blocker", "browser")
        browser, debugging_port, path = start_chromium(profile, "about:blank", display)
        devtools = DevTools(debugging_port, path)
        devtools.call("Target.setDiscoverTargets", {"discover": True})
        births = Births(devtools)
        program.start()
        deadline = time.monotonic() + 30
        while not window_shown():
            if time.monotonic() > deadline:
                raise AssertionError("the program's window did not appear")
            time.sleep(0.05)
        time.sleep(1)

        site = f"http://127.0.0.1:{port}"
        storm = devtools.call("Target.createTarget", {"url": f"{site}/storm.html?count={count}"})["targetId"]
        started = time.monotonic()
        end = started + count * STORM_EACH + 30
        while time.monotonic() < end and (len(births.of(storm)) < count or births.open_now(storm)):
            births.take()
        born = births.of(storm)
        last_born = max((births.born[t] for t in born), default=started)
        left_in_storm = len(births.open_now(storm))
        most_open = births.most_open

        series = devtools.call("Target.createTarget", {"url": f"{site}/series.html?count={AFTER}"})["targetId"]
        end = time.monotonic() + AFTER * 0.45 + LEFT_OPEN_AFTER + 2
        while time.monotonic() < end:
            births.take()
        now = time.monotonic()
        lifetimes, left = [], 0
        for target in births.of(series):
            if target in births.ended:
                lifetimes.append(1000 * (births.ended[target] - births.born[target]))
            elif now - births.born[target] > LEFT_OPEN_AFTER:
                left += 1
        return (len(born), last_born - started, left_in_storm, most_open, len(births.of(series)), lifetimes,
                left)
    finally:
        if devtools is not None:
            devtools.close()
        program.stop_all()
        if browser is not None:
            stop_group(browser)
        shutil.rmtree(tmp, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("program", nargs="?",
                        default=os.path.join(HERE, "..", "build", "bench", "bin", "tavro-popup-blocker"))
    args = parser.parse_args()
    source = os.path.abspath(args.program)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    xvfb, display = start_x_server()
    os.environ["DISPLAY"] = display
    every, left_after = [], 0
    try:
        print(f"A page opening {args.count} windows at once, then {AFTER} pop-ups at odd moments "
              f"({args.runs} runs, Chromium under Xvfb):")
        for run in range(1, args.runs + 1):
            born, took, left_in_storm, most_open, opened, lifetimes, left = one_run(
                source, server.server_address[1], display, args.count)
            every += lifetimes
            left_after += left
            shown = " ".join(f"{x:.0f}" for x in lifetimes)
            print(f"  run {run}: {born} windows born in {took:.1f} s, at most {most_open} open at once, "
                  f"{left_in_storm} open at the storm's end; after it {opened} pop-ups, {left} left open, "
                  f"closed after (ms): {shown}")
        if every:
            ordered = sorted(every)
            print(f"  pop-ups after the storm: {len(every)} closed, {left_after} left open; median "
                  f"{statistics.median(ordered):.0f} ms, longest {ordered[-1]:.0f} ms")
    finally:
        xvfb.terminate()
        xvfb.wait()
        server.shutdown()


if __name__ == "__main__":
    main()
