#!/usr/bin/env python3
"""Pop-up lifetimes in a real Chromium, by the browser's own target events,
three ways in one run:

  (a) the browser extension and the real program, installed with
      scripts/install.sh into a fresh HOME: the program sees the pages through
      the extension alone (its own browser profile, where it would look for a
      debugging port, is empty, and it is checked to hold no TCP connection);
  (b) the DevTools reference closer: a minimal closer on a connection of its
      own that sends Target.closeTarget the moment a page opened by script is
      announced with an address, as bench/browser_bench.cpp's does;
  (c) the floor: a test-only extension that removes each tab at once on
      webNavigation.onCreatedNavigationTarget.

The measuring Chromium runs on a profile of its own, under Xvfb, with the
extension loaded, the host's manifest in its NativeMessagingHosts/ and a
debugging port that only this script uses: a second connection watches
Target.targetCreated and Target.targetDestroyed for pages with an opener, and
a lifetime runs from the one to the other. A page on 127.0.0.1 opens the
pop-ups from ads.localhost one after another at odd moments (170 to 430 ms
apart), as browser_bench's does.

usage: extension_lifetimes.py SOURCE BUILD [--popups N]
SOURCE is the source tree, BUILD a build folder of it that holds the program
(cmake --preset bench builds one: build/bench).
"""
import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from browser_pages import BrowserPages  # noqa: E402
from installed import Installed, hosts_of  # noqa: E402
from program import wait_for  # noqa: E402
from xserver import start_x_server  # noqa: E402
from devtools_reference import DevTools, ReferenceCloser, opened_by_script  # noqa: E402

# Closes every tab opened from another page the moment the browser tells of
# it: nothing outside the browser can be quicker. Never shipped.
FLOOR_MANIFEST = {"manifest_version": 3, "name": "closes at once", "version": "1",
                  "background": {"service_worker": "background.js"}, "permissions": ["webNavigation"]}
FLOOR_SCRIPT = ("chrome.webNavigation.onCreatedNavigationTarget.addListener("
                "(details) => chrome.tabs.remove(details.tabId).catch(() => {}));\n")


class Tap:
    """Sits between the host and the program's socket: relays every frame
    unchanged and notes when it passed, for the breakdown."""

    def __init__(self, listen_path, program_path):
        self.program_path = program_path
        self.lock = threading.Lock()
        self.frames = []  # (time, "to program" or "to extension", message)
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(listen_path)
        self.server.listen()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                host, _ = self.server.accept()
            except OSError:
                return
            program = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            program.connect(self.program_path)
            threading.Thread(target=self._pump, args=(host, program, "to program"), daemon=True).start()
            threading.Thread(target=self._pump, args=(program, host, "to extension"), daemon=True).start()

    def _pump(self, source, target, direction):
        def take(size):
            data = b""
            while len(data) < size:
                chunk = source.recv(size - len(data))
                if not chunk:
                    raise OSError("closed")
                data += chunk
            return data
        try:
            while True:
                head = take(4)
                body = take(struct.unpack("=I", head)[0])
                now = time.monotonic()
                target.sendall(head + body)
                with self.lock:
                    self.frames.append((now, direction, json.loads(body)))
        except (OSError, ValueError):
            for end in (source, target):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def close(self):
        self.server.close()


def popup_number(url):
    """The pop-up's number in its series, from its address (…&n=N)."""
    query = urllib.parse.parse_qs(urllib.parse.urlparse(url).query)
    return int(query["n"][0]) if "n" in query else None


def breakdown(targets, frames):
    """Where each pop-up's life went, from the browser's events and the tap's
    frames: each stretch's lengths in ms, and the questions each pop-up was
    asked until one was answered."""
    tabs = {}
    for at, direction, message in frames:
        if direction == "to program" and message.get("type") == "opened":
            number = popup_number(message.get("url", ""))
            if number is not None:
                tabs.setdefault(message["tab"], {"number": number, "opened": at,
                                                 "vouched": message.get("opener") is True})
    by_number = {t["number"]: t for t in tabs.values()}
    probes = {}
    for at, direction, message in frames:
        tab = tabs.get(message.get("tab"))
        if tab is None:
            continue
        kind = message.get("type")
        if direction == "to extension" and kind == "probe" and "answered" not in tab:
            tab.setdefault("asked", at)
            tab["probes"] = tab.get("probes", 0) + 1
            probes[message["id"]] = at
        elif direction == "to program" and kind == "probe" and "answered" not in tab:
            if message.get("opener") is not None:
                tab["answered"] = at
                tab["last asked"] = probes.get(message["id"], at)
        elif direction == "to program" and kind == "address":
            tab.setdefault("address", at)
        elif direction == "to extension" and kind == "close":
            tab.setdefault("close", at)
    stretches = {name: [] for name in STRETCHES}
    questions = []
    for target in targets.values():
        tab = by_number.get(popup_number(target["url"]))
        if tab is None or "died" not in target:
            continue
        points = {"created": target["born"], "died": target["died"], **tab}
        for name, (start, end) in STRETCHES.items():
            if start in points and end in points:
                stretches[name].append(1000 * (points[end] - points[start]))
        questions.append((tab.get("probes", 0), tab["vouched"]))
    return stretches, questions


# From one moment of a pop-up's life to another: the target's birth and end
# as the browser tells them, the rest as the frames passed the tap.
STRETCHES = {
    "created to 'opened' at the program": ("created", "opened"),
    "'opened' to the program's first probe": ("opened", "asked"),
    "first probe to the answer that settled it": ("asked", "answered"),
    "  of which that last probe's round trip": ("last asked", "answered"),
    "(created to its first document: 'address')": ("created", "address"),
    "'opened' to the program's close request": ("opened", "close"),
    "the answer to the program's close request": ("answered", "close"),
    "close request to the target's end": ("close", "died"),
}


class Lifetimes:
    """The lifetime of every page opened by script, by the browser's own events."""

    def __init__(self, port, path):
        self.lock = threading.Lock()
        self.born = {}
        self.lifetimes = []
        # Each pop-up's target: its address, its birth and its end (for the breakdown).
        self.targets = {}
        self.devtools = DevTools(port, path, self._event)
        self.devtools.call("Target.setDiscoverTargets", {"discover": True})

    def _event(self, message, now):
        params = message.get("params", {})
        method = message.get("method")
        with self.lock:
            if method in ("Target.targetCreated", "Target.targetInfoChanged"):
                info = params["targetInfo"]
                if method == "Target.targetCreated" and opened_by_script(info):
                    self.born[info["targetId"]] = now
                    self.targets[info["targetId"]] = {"url": "", "born": now}
                if info["targetId"] in self.targets and "://" in info.get("url", ""):
                    self.targets[info["targetId"]]["url"] = info["url"]
            elif method == "Target.targetDestroyed":
                start = self.born.pop(params.get("targetId"), None)
                if start is not None:
                    self.lifetimes.append(1000 * (now - start))
                    self.targets[params["targetId"]]["died"] = now

    def counts(self):
        with self.lock:
            return len(self.lifetimes), len(self.lifetimes) + len(self.born)


class MeasuringChromium:
    """Chromium on a profile of its own with the given extension and a debugging port."""

    def __init__(self, profile, extension, env, log):
        os.makedirs(profile, exist_ok=True)
        port_file = os.path.join(profile, "DevToolsActivePort")
        if os.path.exists(port_file):
            os.remove(port_file)
        arguments = [os.environ.get("TAVRO_CHROMIUM") or "chromium", f"--user-data-dir={profile}",
                     f"--load-extension={extension}", "--remote-debugging-port=0",
                     "--remote-debugging-address=127.0.0.1", "--no-first-run", "--no-default-browser-check",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-default-apps", "--password-store=basic", "--disable-popup-blocking",
                     "--disable-session-crashed-bubble", "--disable-gpu", "--ozone-platform=x11"]
        if os.geteuid() == 0:
            arguments.append("--no-sandbox")
        self.process = subprocess.Popen([*arguments, "about:blank"], env=env, stdout=log, stderr=subprocess.STDOUT,
                                        start_new_session=True)

        def endpoint():
            try:
                with open(port_file) as f:
                    lines = f.read().split("\n")
                return (int(lines[0]), lines[1]) if len(lines) >= 2 and lines[1] else None
            except (OSError, ValueError):
                return None
        self.port, self.path = wait_for(endpoint, "chromium opened no debugging port", timeout=60)

    def stop(self):
        os.killpg(self.process.pid, signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()


def measure(browser, pages, popups, title):
    """Opens the pop-ups and returns their lifetimes and how many are left open."""
    watch = Lifetimes(browser.port, browser.path)
    url = pages.opener_url("series", "ads.localhost", title, count=popups)
    target = watch.devtools.call("Target.createTarget", {"url": url})["targetId"]
    # The pop-ups open over popups * 0.3 s; whatever is open well after is left open.
    deadline = time.monotonic() + popups * 0.45 + 20
    while watch.counts()[0] < popups and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(1)
    closed, opened = watch.counts()
    targets = watch.devtools.call("Target.getTargets", {})["targetInfos"]
    left = sum(1 for t in targets if opened_by_script(t))
    watch.devtools.call("Target.closeTarget", {"targetId": target})
    watch.devtools.close()
    return watch.lifetimes, opened, left, watch.targets


def summary(lifetimes):
    ordered = sorted(lifetimes)
    if not ordered:
        return None
    p95 = ordered[min(len(ordered) - 1, int(round(0.95 * (len(ordered) - 1))))]
    return statistics.median(ordered), p95, ordered[-1]


def tcp_connections_of(pid):
    done = subprocess.run(["ss", "-tnpH"], capture_output=True, text=True, check=True)
    return [line for line in done.stdout.splitlines() if f"pid={pid}," in line]


def run(source, build, home, popups, traced):
    installed = Installed(source, build, home)
    installed.install("--quiet")
    # The program's own browser profile, where it looks for a debugging port,
    # stays empty: it sees the measuring browser through the extension alone.
    env = dict(installed.env, XDG_DATA_HOME=os.path.join(home, "program-data"))
    profile = os.path.join(home, "measuring")
    hosts = os.path.join(profile, "NativeMessagingHosts")
    os.makedirs(hosts)
    shutil.copy(os.path.join(installed.share, "native-messaging-chromium.json"),
                os.path.join(hosts, "tavro_popup_blocker.json"))
    extension = os.path.join(installed.share, "extension")
    floor = os.path.join(home, "floor-extension")
    os.makedirs(floor)
    with open(os.path.join(floor, "manifest.json"), "w") as f:
        json.dump(FLOOR_MANIFEST, f)
    with open(os.path.join(floor, "background.js"), "w") as f:
        f.write(FLOOR_SCRIPT)

    pages = BrowserPages()
    log = open(os.path.join(home, "browser.log"), "w")
    browser = tap = None
    results = {}
    try:
        program = installed.start()
        browser = MeasuringChromium(profile, extension, env, log)
        wait_for(lambda: hosts_of(installed.folder), "the extension did not reach the program", timeout=60)
        time.sleep(1)
        results["program"] = measure(browser, pages, popups, "program")
        connections = tcp_connections_of(program.pid)
        assert not connections, f"the program holds TCP connections: {connections}"
        program.send_signal(signal.SIGTERM)
        program.wait(timeout=30)

        reference = ReferenceCloser(browser.port, browser.path)
        results["reference"] = measure(browser, pages, popups, "reference")
        reference.devtools.close()
        results["reference waited"] = reference.waited
        browser.stop()

        browser = MeasuringChromium(profile, floor, env, log)
        time.sleep(1)
        results["floor"] = measure(browser, pages, popups, "floor")
        browser.stop()

        if traced:
            # The host of the measuring browser reaches the program through the tap.
            program = installed.start()
            program_socket = os.path.join(env["XDG_RUNTIME_DIR"], "tavro-popup-blocker", "extension.sock")
            wait_for(lambda: os.path.exists(program_socket), "the program made no socket")
            tapped = os.path.join(home, "tapped-runtime")
            os.makedirs(os.path.join(tapped, "tavro-popup-blocker"), mode=0o700)
            os.chmod(tapped, 0o700)
            tap = Tap(os.path.join(tapped, "tavro-popup-blocker", "extension.sock"), program_socket)
            browser = MeasuringChromium(profile, extension, dict(env, XDG_RUNTIME_DIR=tapped), log)
            wait_for(lambda: hosts_of(installed.folder), "the extension did not reach the tap", timeout=60)
            time.sleep(1)
            lifetimes, opened, left, targets = measure(browser, pages, popups, "traced")
            results["traced"] = (lifetimes, opened, left, breakdown(targets, tap.frames))
    finally:
        if browser is not None and browser.process.poll() is None:
            browser.stop()
        if tap is not None:
            tap.close()
        installed.stop_all()
        pages.stop()
        log.close()
    return results


def figures(values):
    s = summary(values)
    return "".join(f"{v:6.0f} ms" for v in s) if s else "       -       -       -"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("build")
    parser.add_argument("--popups", type=int, default=60)
    parser.add_argument("--breakdown", action="store_true",
                        help="then once more, through a tap between the host and the program, "
                             "to tell where the program's time goes")
    args = parser.parse_args()
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-extension-bench-") as home:
            results = run(os.path.abspath(args.source), os.path.abspath(args.build), home, args.popups,
                          args.breakdown)
    finally:
        xvfb.terminate()
        xvfb.wait()
    names = {"program": "(a) the extension and the program", "reference": "(b) DevTools reference closer",
             "floor": "(c) extension closing at once"}
    print(f"Pop-up lifetimes in Chromium, from Target.targetCreated to Target.targetDestroyed ({args.popups} "
          "pop-ups each):")
    print(f"  {'':36} {'closed':>9} {'median':>8} {'95th':>8} {'longest':>8} {'left open':>10}")
    for key, name in names.items():
        lifetimes, opened, left = results[key][:3]
        print(f"  {name:36} {len(lifetimes):>4} of {opened:<3}{figures(lifetimes)} {left:>10}")
    waited = summary(results["reference waited"])
    if waited:
        print(f"  the reference closer asked to close {waited[0]:.0f} ms after each birth (95th {waited[1]:.0f} ms, "
              f"longest {waited[2]:.0f} ms), once the browser announced the pop-up's address")
    ours, reference = summary(results["program"][0]), summary(results["reference"][0])
    if ours and reference:
        print(f"  the program's median against the reference's: {ours[0] / reference[0]:.2f} times "
              "(the aim: at most 0.5)")
    if "traced" in results:
        lifetimes, opened, left, (stretches, questions) = results["traced"]
        print(f"Once more through a tap between the host and the program: {len(lifetimes)} of {opened} closed, "
              f"{left} left open,{figures(lifetimes)}; median, 95th and longest of each stretch:")
        for name, values in stretches.items():
            print(f"  {name:44}{figures(values)}")
        if questions:
            probes = [count for count, _ in questions]
            print(f"  probes sent until one was answered: median {statistics.median(probes):.0f}, "
                  f"most {max(probes)}; the opener vouched for {sum(v for _, v in questions)} of {len(questions)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
