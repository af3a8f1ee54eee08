#!/usr/bin/env python3
"""Impressions: whether a pop-up that the rules block ever reached its
server, whether one they keep loaded, and what the program costs the kept.

A local server on 127.0.0.1 (the opener's site), 127.0.0.2 (another site) and
the .localhost names (allowed domains) logs every request that carries a
trial's nonce. Under Xvfb, an opener page opens one pop-up of one kind for each
real click (xdotool) on a button that covers it, and a DevTools connection of
the script's own times each page from Target.targetCreated to
Target.targetDestroyed. Each trial counts whether the pop-up's address was
requested, whether its page loaded (it sends a beacon), how long after the
click its first request arrived, and how long it lived.

Routes, each one function that yields a browser with what watches it:
  Chromium alone       the same browser with nothing watching: the click to
                       request time the others are held against;
  Chromium guarded     the real program, installed with scripts/install.sh
                       into a fresh HOME, and Chromium on the program's own
                       profile with a debugging port, started by the installed
                       start-browser.sh as the user starts it;
  today's close-after  the DevTools reference closer on the same Chromium,
                       told which kinds the rules keep.

usage: impressions.py SOURCE BUILD [--trials N] [--routes A,B] [--kinds A,B]
SOURCE is the source tree, BUILD a build folder of it that holds the program
(cmake --preset bench builds one: build/bench).
"""
import argparse
import contextlib
import http.server
import os
import secrets
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from devtools_reference import DevTools, ReferenceCloser  # noqa: E402
from installed import Installed  # noqa: E402
from program import visible_windows, wait_for, xdotool  # noqa: E402
from xserver import start_x_server  # noqa: E402

ALLOWED = "allowed.localhost"
WINDOW = "'popup,width=420,height=320,left=500,top=400'"
# Each kind: what the rules do with it, and the script behind the opener's
# button; page(host, path) is the trial's address on that host.
KINDS = {
    "same-site": ("block", f"open(page('127.0.0.1', '/popup'), '_blank', {WINDOW})"),
    "cross-site": ("block", f"open(page('127.0.0.2', '/popup'), '_blank', {WINDOW})"),
    "tab": ("keep", "open(page('127.0.0.2', '/popup'))"),
    "noopener": ("keep", f"open(page('127.0.0.2', '/popup'), '_blank', 'noopener,' + {WINDOW})"),
    "iframe": ("block", f"frame.contentWindow.open(page('127.0.0.2', '/popup'), '_blank', {WINDOW})"),
    "anchor": ("keep", "const a = document.createElement('a'); a.href = page('127.0.0.2', '/popup');"
                       " a.target = '_blank'; document.body.append(a); a.click()"),
    "redirect": ("block", "open(page('127.0.0.1', '/redirect') + '&to=' + encodeURIComponent("
                          f"page('127.0.0.2', '/popup')), '_blank', {WINDOW})"),
    "allowed": ("keep", f"open(page('{ALLOWED}', '/popup'), '_blank', {WINDOW})"),
    "ctrl": ("keep", f"open(page('c' + nonce + '.localhost', '/popup'), '_blank', {WINDOW})"),
    "warm": ("block", f"open(page('127.0.0.2', '/popup'), '_blank', {WINDOW})"),
}
# The button covers the page, so a click at the window's middle meets it.
OPENER = """<!doctype html><title>tavro opener</title>
<button style="position:fixed;inset:0;width:100%;height:100%">open</button><script>
const nonce = '{nonce}', kind = '{kind}';
const page = (host, path) => `http://${{host}}:${{location.port}}${{path}}?n=${{nonce}}&kind=${{kind}}`;
const frame = document.createElement('iframe');
frame.style.display = 'none';
document.body.append(frame);
document.querySelector('button').onclick = () => {{ window.clicked = true; {action}; }};
// Ready once the page has been drawn: the browser drops clicks on a page not yet on screen.
const drawn = new Promise(resolve => requestAnimationFrame(() => requestAnimationFrame(resolve)));
(kind === 'warm' ? fetch(page('127.0.0.2', '/warm'), {{mode: 'no-cors'}}) : Promise.resolve())
  .then(() => drawn).then(() => fetch(page(location.hostname, '/ready')));
</script>"""
POPUP = """<!doctype html><title>ad</title>ad<script>
navigator.sendBeacon('/loaded' + location.search, 'loaded');
</script>"""


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, log):
        self.log = log
        super().__init__(address, Handler)


class Log:
    """Every request with a nonce: (time, method, host, path, body) by nonce."""

    def __init__(self):
        self.lock = threading.Condition()
        self.requests = {}

    def add(self, nonce, entry):
        with self.lock:
            self.requests.setdefault(nonce, []).append(entry)
            self.lock.notify_all()

    def of(self, nonce, paths):
        with self.lock:
            return [e for e in self.requests.get(nonce, []) if e[3] in paths]

    def wait(self, nonce, path, timeout):
        with self.lock:
            return self.lock.wait_for(lambda: self.of(nonce, (path,)), timeout)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections, so that one can be warm

    def do_GET(self):
        self.answer()

    def do_POST(self):
        self.answer()

    def answer(self):
        now = time.monotonic()
        url = urllib.parse.urlparse(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        if "n" in query:
            self.server.log.add(query["n"], (now, self.command, self.headers.get("Host"), url.path, body))
        if url.path == "/opener":
            self.send(200, OPENER.format(nonce=query["n"], kind=query["kind"], action=KINDS.get(query["kind"], ("", ""))[1]))
        elif url.path == "/popup":
            self.send(200, POPUP)
        elif url.path == "/redirect":
            self.send(302, "", [("Location", query["to"])])
        else:
            self.send(204, "")

    def send(self, status, text, headers=()):
        body = text.encode()
        self.send_response(status)
        for name, value in [("Content-Type", "text/html"), ("Content-Length", str(len(body))), *headers]:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass

    def handle(self):
        # A page closed mid-answer is what the blocked pop-ups are for.
        with contextlib.suppress(ConnectionError):
            super().handle()


class Server6(Server):
    address_family = socket.AF_INET6


def serve(log):
    """The same port on 127.0.0.1, 127.0.0.2 and ::1, where .localhost names may go first."""
    for _ in range(20):
        servers = [Server(("127.0.0.1", 0), log)]
        port = servers[0].server_address[1]
        try:
            servers += [Server(("127.0.0.2", port), log), Server6(("::1", port), log)]
        except OSError:
            for server in servers:
                server.server_close()
            continue
        for server in servers:
            threading.Thread(target=server.serve_forever, daemon=True).start()
        return port, servers
    raise AssertionError("no port free on 127.0.0.1, 127.0.0.2 and ::1 at once")


class Watch:
    """Every page the browser tells of, by its own target events, with its
    birth, its address and its end."""

    def __init__(self, port, path):
        self.lock = threading.Lock()
        self.pages = {}
        self.devtools = DevTools(port, path, self._event)
        self.devtools.call("Target.setDiscoverTargets", {"discover": True})

    def _event(self, message, now):
        params = message.get("params", {})
        info = params.get("targetInfo", {})
        with self.lock:
            if message.get("method") == "Target.targetCreated" and info.get("type") == "page":
                self.pages[info["targetId"]] = {"born": now, "url": info.get("url", "")}
            elif message.get("method") == "Target.targetInfoChanged" and info.get("targetId") in self.pages:
                self.pages[info["targetId"]]["url"] = info.get("url", "")
            elif message.get("method") == "Target.targetDestroyed" and params.get("targetId") in self.pages:
                self.pages[params["targetId"]]["died"] = now

    def born_after(self, moment):
        with self.lock:
            return {k: dict(v) for k, v in self.pages.items() if v["born"] >= moment}


class Chromium:
    """Chromium started by the installed start-browser.sh on the program's own
    profile, with its debugging port, showing the opener page in a window of
    its own on the display."""

    def __init__(self, installed, opener_url):
        self.profile = os.path.join(installed.home, ".local", "share", "tavro-popup-blocker", "browser")
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        with contextlib.suppress(FileNotFoundError):
            os.remove(port_file)
        self.log = open(os.path.join(installed.home, "browser.log"), "a")
        self.process = subprocess.Popen(
            [os.path.join(installed.share, "start-browser.sh"), "--ozone-platform=x11", "--disable-gpu",
             "--window-position=0,0", "--window-size=1000,700", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--password-store=basic", opener_url],
            env=dict(installed.env, TAVRO_BROWSER_AS_ROOT="1"), stdout=self.log, stderr=subprocess.STDOUT,
            start_new_session=True)
        try:
            self.watch = None
            self._attach(installed, port_file)
        except BaseException:
            self.stop()
            raise

    def _attach(self, installed, port_file):
        def endpoint():
            with contextlib.suppress(OSError, ValueError):
                lines = open(port_file).read().split("\n")
                return (int(lines[0]), lines[1]) if len(lines) >= 2 and lines[1] else None
        self.port, self.path = wait_for(endpoint, "chromium opened no debugging port", timeout=60)
        self.watch = Watch(self.port, self.path)
        self.opener = wait_for(lambda: next((t["targetId"] for t in self.targets() if "/opener" in t["url"]), None),
                               "the opener page did not open")
        self.session = self.watch.devtools.call("Target.attachToTarget",
                                                {"targetId": self.opener, "flatten": True})["sessionId"]
        self.window = wait_for(lambda: visible_windows("^tavro opener"),
                               "the opener's window did not appear", timeout=30)[-1]
        shape = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.window))
        self.middle = (str(int(shape["WIDTH"]) // 2), str(int(shape["HEIGHT"]) // 2))

    def targets(self):
        return [t for t in self.watch.devtools.call("Target.getTargets", {})["targetInfos"] if t["type"] == "page"]

    def show(self, url):
        """The opener on a new address, in front."""
        self.watch.devtools.call("Page.navigate", {"url": url}, session=self.session)
        self.watch.devtools.call("Target.activateTarget", {"targetId": self.opener})

    def clicked(self):
        """Whether the opener's button heard the click."""
        answer = self.watch.devtools.call("Runtime.evaluate", {"expression": "window.clicked === true"},
                                          session=self.session)
        return answer.get("result", {}).get("value") is True

    def close_others(self):
        """Closes every page but the opener, and waits until they have gone."""
        for target in self.targets():
            if target["targetId"] != self.opener:
                self.watch.devtools.post("Target.closeTarget", {"targetId": target["targetId"]})
        wait_for(lambda: len(self.targets()) == 1, "pages stayed open", timeout=10, step=0.05)

    def stop(self):
        if self.watch is not None:
            self.watch.devtools.close()
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.process.pid, signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.log.close()


# The routes: each a context manager that starts its browser and what watches
# it, yields the browser, and ends both.
@contextlib.contextmanager
def chromium_alone(lab):
    browser = Chromium(lab.installed, lab.opener_url("none", "start"))
    try:
        yield browser
    finally:
        browser.stop()


@contextlib.contextmanager
def chromium_guarded(lab):
    with open(lab.installed.list, "w") as f:
        f.write(f"{ALLOWED}:{lab.port}\r\n")
    with chromium_alone(lab) as browser:
        program = lab.installed.start()
        try:
            wait_for(lambda: holds_connection(program.pid, browser.port), "the program did not reach the browser",
                     timeout=30)
            time.sleep(1)  # its mirror fills
            yield browser
        finally:
            program.send_signal(signal.SIGTERM)
            program.wait(timeout=30)


@contextlib.contextmanager
def close_after(lab):
    def kept(url):
        kind = dict(urllib.parse.parse_qsl(urllib.parse.urlparse(url).query)).get("kind")
        return kind in KINDS and KINDS[kind][0] == "keep"
    with chromium_alone(lab) as browser:
        closer = ReferenceCloser(browser.port, browser.path, spare=kept)
        try:
            yield browser
        finally:
            closer.close()


# Name: (route, the route whose click to request times it is held against).
ROUTES = {
    "Chromium alone": (chromium_alone, None),
    "Chromium guarded": (chromium_guarded, "Chromium alone"),
    "today's close-after": (close_after, "Chromium alone"),
}


def holds_connection(pid, port):
    done = subprocess.run(["ss", "-tnpH", "state", "established"], capture_output=True, text=True, check=True)
    return any(f"pid={pid}," in line and f":{port} " in line for line in done.stdout.splitlines())


class Lab:
    """What every route shares: the display, the server and the program installed into a fresh HOME."""

    def __init__(self, source, build, home, log, port):
        self.installed = Installed(source, build, home)
        self.installed.install("--quiet")
        self.log, self.port = log, port
        self.lost_clicks = 0

    def opener_url(self, kind, nonce):
        return f"http://127.0.0.1:{self.port}/opener?kind={kind}&n={nonce}"


def trial(lab, browser, kind):
    """One click, one pop-up: what became of it."""
    nonce = secrets.token_hex(6)
    browser.show(lab.opener_url(kind, nonce))
    if not lab.log.wait(nonce, "/ready", 10):
        raise AssertionError(f"the opener of {kind} never got ready")
    xdotool("mousemove", "--window", browser.window, *browser.middle)
    if kind == "ctrl":
        xdotool("keydown", "ctrl")
    clicked = time.monotonic()
    xdotool("click", "1")
    try:
        # Settled once the pop-up has gone, or has loaded and lived on a second, or after 4 s.
        deadline = clicked + 4
        while time.monotonic() < deadline:
            pages = browser.watch.born_after(clicked)
            popup = next(iter(pages.values()), None)
            if popup is None and time.monotonic() > clicked + 2.5:
                break
            if popup and "died" in popup:
                time.sleep(0.3)  # a request on its way when the page went
                break
            loaded = lab.log.of(nonce, ("/loaded",))
            if popup and loaded and time.monotonic() > loaded[0][0] + 1:
                break
            time.sleep(0.02)
    finally:
        if kind == "ctrl":
            xdotool("keyup", "ctrl")
    pages = browser.watch.born_after(clicked)
    popup = next(iter(pages.values()), None)
    if popup is None and not browser.clicked():
        lab.lost_clicks += 1
        return None
    requests = lab.log.of(nonce, ("/popup", "/redirect"))
    result = {"opened": popup is not None, "closed": bool(popup and "died" in popup),
              "requested": bool(requests), "loaded": bool(lab.log.of(nonce, ("/loaded",))),
              "to request": 1000 * (requests[0][0] - clicked) if requests else None,
              "lifetime": 1000 * (popup["died"] - popup["born"]) if popup and "died" in popup else None}
    browser.close_others()
    return result


def run(lab, routes, kinds, trials):
    """Every route in turn, the kinds taking turns within it; results by route and kind."""
    results = {}
    for name in routes:
        started = time.monotonic()
        with ROUTES[name][0](lab) as browser:
            results[name] = {kind: [] for kind in kinds}
            for _ in range(trials):
                for kind in kinds:
                    # A click the page never heard is the harness's miss, not the browser's.
                    done = None
                    for _ in range(5):
                        done = done or trial(lab, browser, kind)
                    if done is None:
                        raise AssertionError(f"five clicks in a row missed the opener of {kind}")
                    results[name][kind].append(done)
        print(f"  {name}: {trials * len(kinds)} trials in {time.monotonic() - started:.0f} s, "
              f"{lab.lost_clicks} clicks missed so far", file=sys.stderr)
    return results


def share(trials, key):
    return f"{100 * sum(t[key] for t in trials) / len(trials):.0f} %" if trials else "-"


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def p95(values):
    values = sorted(v for v in values if v is not None)
    return values[min(len(values) - 1, round(0.95 * (len(values) - 1)))] if values else None


def ms(value, signed=False):
    return "-" if value is None else f"{value:+.0f} ms" if signed else f"{value:.0f} ms"


def report(results, kinds, trials):
    print(f"Pop-ups by kind, {trials} trials per route, one real click each (Chromium under Xvfb).")
    print("Blocked kinds aim at 0 % requested; kept kinds must load every time, at little added delay.")
    columns = ("route", "opened", "closed", "requested", "loaded", "click to request", "added",
               "lifetime (median, 95th)", "against close-after")
    widths = (20, 7, 7, 10, 7, 17, 8, 24, 20)
    for kind in kinds:
        rule = KINDS[kind][0]
        print(f"\n{kind} (the rules {'block' if rule == 'block' else 'keep'} it)")
        print("  " + "".join(f"{c:>{w}}" if i else f"{c:<{w}}" for i, (c, w) in enumerate(zip(columns, widths))))
        reference = results.get("today's close-after", {}).get(kind, [])
        for name, by_kind in results.items():
            done = by_kind[kind]
            base = ROUTES[name][1]
            delay = median(t["to request"] for t in done)
            base_delay = median(t["to request"] for t in results[base][kind]) if base in results else None
            lifetimes = [t["lifetime"] for t in done]
            ours, theirs = median(lifetimes), median(t["lifetime"] for t in reference)
            cells = (name, f"{sum(t['opened'] for t in done)}/{len(done)}", str(sum(t["closed"] for t in done)),
                     share(done, "requested"), share(done, "loaded"), ms(delay),
                     ms(delay - base_delay, True) if rule == "keep" and None not in (delay, base_delay) else "",
                     f"{ms(ours)}, {ms(p95(lifetimes))}" if ours is not None else "-",
                     f"{ours / theirs:.2f} times" if ours and theirs else "")
            print("  " + "".join(f"{c:>{w}}" if i else f"{c:<{w}}" for i, (c, w) in enumerate(zip(cells, widths))))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("build")
    parser.add_argument("--trials", type=int, default=200)
    parser.add_argument("--routes", default=",".join(ROUTES), help="of: " + ", ".join(ROUTES))
    parser.add_argument("--kinds", default=",".join(KINDS), help="of: " + ", ".join(KINDS))
    args = parser.parse_args()
    routes, kinds = args.routes.split(","), args.kinds.split(",")
    for name in routes + kinds:
        if name not in ROUTES and name not in KINDS:
            parser.error(f"no route or kind {name!r}")
    # The route the others' delays are held against runs first.
    routes = [r for r in ROUTES if r in routes or any(ROUTES[o][1] == r for o in routes)]
    # SIGTERM ends the run as Ctrl-C does, through every finally below.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    log = Log()
    port, servers = serve(log)
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-impressions-") as home:
            lab = Lab(os.path.abspath(args.source), os.path.abspath(args.build), home, log, port)
            try:
                results = run(lab, routes, kinds, args.trials)
            finally:
                lab.installed.stop_all()
    finally:
        xvfb.terminate()
        xvfb.wait()
        for server in servers:
            server.shutdown()
    report(results, kinds, args.trials)
    return 0


if __name__ == "__main__":
    sys.exit(main())
