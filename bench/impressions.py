#!/usr/bin/env python3
"""Impressions: whether a pop-up that the rules block ever reached its
server, whether one they keep loaded, and what the program costs them.

A local server on one port of 127.0.0.1 (the opener's site), 127.0.0.2
(another site) and the .localhost names (allowed domains) logs every request
that carries a trial's nonce. Under Xvfb, an opener page opens one pop-up of
one kind for each real click (xdotool) on a button that covers it. The
browser's own account times each page from its birth to its end: its target
events on a debugging connection of the script's own in Chromium; in Firefox,
whose one automation session is the program's, a small extension of the
script's own. A trial counts whether the pop-up's address was requested,
whether its page loaded (it sends a beacon), how long after the click its
first request arrived, and how long it lived.

Routes, each a function that starts a browser and what watches it: the
browser on the program's own profile with the port the program looks for,
started by the installed start-browser.sh as the user starts it, with
  Chromium alone, Firefox alone   nothing: the click to request times the
                                  others are held against;
  Chromium guarded, Firefox guarded   the real program, installed with
                                  scripts/install.sh into a fresh HOME;
  today's close-after, Firefox close-after   the reference closer (on a
                                  debugging connection, on a WebDriver BiDi
                                  session), told which kinds the rules keep:
                                  the guarded routes' lifetimes against it;
  Chromium held at once           the reference holder: every request that
                                  the guarded route holds, held and let go
                                  at once, the floor of its added delay;
  Chromium extension, Firefox extension   the real program, which sees the
                                  browser through the browser extension
                                  alone: it looks for a port in a profile
                                  of its own, and Firefox opens none.

usage: impressions.py SOURCE BUILD [--trials N] [--routes A,B] [--kinds A,B] [--alone]
SOURCE is the source tree, BUILD a build folder of it that holds the program
(cmake --preset bench builds one: build/bench).
"""
import argparse
import contextlib
import functools
import http.server
import json
import os
import queue
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
from devtools_reference import ReferenceCloser, ReferenceHolder  # noqa: E402
from impression_browsers import BidiReferenceCloser, Chromium, Firefox  # noqa: E402
from installed import Installed, hosts_of  # noqa: E402
from program import wait_for, xdotool  # noqa: E402
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
# After its click, or at once on the first page, the opener asks the server
# where to go next: the script steers every browser alike, and learns that
# the click was heard.
OPENER = """<!doctype html><title>tavro opener</title>
<button style="position:fixed;inset:0;width:100%;height:100%">open</button><script>
const nonce = '{nonce}', kind = '{kind}';
const page = (host, path) => `http://${{host}}:${{location.port}}${{path}}?n=${{nonce}}&kind=${{kind}}`;
const frame = document.createElement('iframe');
frame.style.display = 'none';
document.body.append(frame);
const next = () => fetch('/next?n=' + nonce).then(r => r.status === 200 ? r.text().then(u => location.href = u)
                                                                        : next(), () => setTimeout(next, 500));
let clicked = false;
document.querySelector('button').onclick = () => {{ if (!clicked) {{ clicked = true; {action}; next(); }} }};
if (kind === 'none') next();
// Ready once the page has been drawn: the browser drops clicks on a page not yet on screen.
const drawn = new Promise(resolve => requestAnimationFrame(() => requestAnimationFrame(resolve)));
(kind === 'warm' ? fetch(page('127.0.0.2', '/warm'), {{mode: 'no-cors'}}) : Promise.resolve())
  .then(() => drawn).then(() => fetch(page(location.hostname, '/ready')));
</script>"""
POPUP = """<!doctype html><title>ad</title>ad<script>
navigator.sendBeacon('/loaded' + location.search, 'loaded');
</script>"""


class Site(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, shared):
        self.shared = shared
        super().__init__(address, Handler)


class Site6(Site):
    address_family = socket.AF_INET6


class Server:
    """The pages on one port of 127.0.0.1, 127.0.0.2 and ::1 (where .localhost
    names may go first), and every request that carries a trial's nonce:
    (time, method, host, path, body), by nonce."""

    def __init__(self):
        self.lock = threading.Condition()
        self.requests = {}
        self.following = {}  # nonce: the address its opener goes to next
        self.orders = {}  # the pages for each Firefox observer to close, by its token
        self.on_tab = lambda *told: None
        for _ in range(20):
            self.sites = [Site(("127.0.0.1", 0), self)]
            self.port = self.sites[0].server_address[1]
            try:
                self.sites += [Site(("127.0.0.2", self.port), self), Site6(("::1", self.port), self)]
                break
            except OSError:
                for site in self.sites:
                    site.server_close()
        else:
            raise AssertionError("no port free on 127.0.0.1, 127.0.0.2 and ::1 at once")
        for site in self.sites:
            threading.Thread(target=site.serve_forever, daemon=True).start()

    def add(self, nonce, entry):
        with self.lock:
            self.requests.setdefault(nonce, []).append(entry)
            self.lock.notify_all()

    def of(self, nonce, paths):
        with self.lock:
            return [e for e in self.requests.get(nonce, []) if e[3] in paths]

    def wait(self, condition, timeout):
        with self.lock:
            return self.lock.wait_for(condition, timeout)

    def go(self, nonce, address):
        with self.lock:
            self.following[nonce] = address
            self.lock.notify_all()

    def stop(self):
        for site in self.sites:
            site.shutdown()
            site.server_close()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections, so that one can be warm

    def do_GET(self):
        now, shared = time.monotonic(), self.server.shared
        url = urllib.parse.urlparse(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        if "n" in query:
            shared.add(query["n"], (now, self.command, self.headers.get("Host"), url.path, body))
        if url.path == "/opener":
            self.send(200, OPENER.format(nonce=query["n"], kind=query["kind"],
                                         action=KINDS.get(query["kind"], ("", ""))[1]))
        elif url.path == "/popup":
            self.send(200, POPUP)
        elif url.path == "/redirect":
            self.send(302, "", [("Location", query["to"])])
        elif url.path == "/next" and shared.wait(lambda: query["n"] in shared.following, 20):
            self.send(200, shared.following[query["n"]])
        elif url.path == "/tab":
            shared.on_tab(query["what"], query["id"], float(query["at"]), now)
            self.send(204, "")
        elif url.path == "/orders":
            with contextlib.suppress(queue.Empty):
                self.send(200, json.dumps(shared.orders[query["of"]].get(timeout=20)))
                return
            self.send(200, "[]")
        else:
            self.send(204, "")

    do_POST = do_GET

    def send(self, status, text, headers=()):
        body = text.encode()
        self.send_response(status)
        for name, value in [("Content-Type", "text/html"), ("Access-Control-Allow-Origin", "*"),
                            ("Content-Length", str(len(body))), *headers]:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass

    def handle(self):
        # A page closed mid-answer is what the blocked pop-ups are for.
        with contextlib.suppress(ConnectionError):
            super().handle()


# The routes: each a context manager that starts its browser and what watches
# it, and yields the browser.
@contextlib.contextmanager
def alone(lab, family):
    lab.nonce = secrets.token_hex(6)
    browser = family(lab.installed, lab.opener_url("none", lab.nonce), lab.server)
    try:
        yield browser
    finally:
        browser.stop()


@contextlib.contextmanager
def program_running(lab, env=None):
    with open(lab.installed.list, "w") as f:
        f.write(f"{ALLOWED}:{lab.server.port}\r\n")
    program = lab.installed.start(env)
    try:
        yield program
    finally:
        program.send_signal(signal.SIGTERM)
        program.wait(timeout=30)


@contextlib.contextmanager
def guarded(lab, family):
    with alone(lab, family) as browser, program_running(lab) as program:
        wait_for(lambda: holds_connection(program.pid, browser.port), "the program did not reach the browser",
                 timeout=60)
        time.sleep(1)  # its mirror fills
        yield browser


@contextlib.contextmanager
def through_extension(lab, family):
    # The program looks for a debugging port in a profile of its own that
    # stays empty, so it sees the browser through the extension alone, while
    # Chromium's port serves the script's own account of the pages.
    env = {"XDG_DATA_HOME": os.path.join(lab.installed.home, "program-data")}
    with program_running(lab, env) as program, alone(lab, family) as browser:
        wait_for(lambda: hosts_of(lab.installed.folder), "the extension did not reach the program", timeout=60)
        time.sleep(1)
        assert browser.port is None or not holds_connection(program.pid, browser.port), \
            "the program reached the browser's debugging port"
        yield browser


def kept_by_rules(url):
    kind = dict(urllib.parse.parse_qsl(urllib.parse.urlparse(url).query)).get("kind")
    return kind in KINDS and KINDS[kind][0] == "keep"


@contextlib.contextmanager
def close_after(lab, family):
    with alone(lab, family) as browser:
        closer = (ReferenceCloser(browser.port, browser.path, spare=kept_by_rules) if family is Chromium
                  else BidiReferenceCloser(browser.port, spare=kept_by_rules))
        try:
            yield browser
        finally:
            closer.close()


@contextlib.contextmanager
def held_at_once(lab):
    with alone(lab, Chromium) as browser:
        holder = ReferenceHolder(browser.port, browser.path)
        try:
            yield browser
        finally:
            holder.close()


# Name: (route, the route whose click to request times it is held against,
# the route whose lifetimes it is held against).
ROUTES = {
    "Chromium alone": (lambda lab: alone(lab, Chromium), None, None),
    "Chromium guarded": (lambda lab: guarded(lab, Chromium), "Chromium alone", "today's close-after"),
    "today's close-after": (lambda lab: close_after(lab, Chromium), "Chromium alone", None),
    "Chromium held at once": (held_at_once, "Chromium alone", None),
    "Firefox alone": (lambda lab: alone(lab, Firefox), None, None),
    "Firefox guarded": (lambda lab: guarded(lab, Firefox), "Firefox alone", "Firefox close-after"),
    "Firefox close-after": (lambda lab: close_after(lab, Firefox), "Firefox alone", None),
    "Chromium extension": (lambda lab: through_extension(lab, Chromium), "Chromium alone", "today's close-after"),
    "Firefox extension": (lambda lab: through_extension(lab, functools.partial(Firefox, with_port=False)),
                          "Firefox alone", "Firefox close-after"),
}


def holds_connection(pid, port):
    done = subprocess.run(["ss", "-tnpH", "state", "established"], capture_output=True, text=True, check=True)
    return any(f"pid={pid}," in line and f":{port} " in line for line in done.stdout.splitlines())


class Lab:
    """What every route shares: the server, and the program installed into a fresh HOME."""

    def __init__(self, source, build, home, server):
        self.installed = Installed(source, build, home)
        self.installed.install("--quiet")
        self.server = server
        self.nonce = None  # the opener's now
        self.missed_clicks = 0

    def opener_url(self, kind, nonce):
        return f"http://127.0.0.1:{self.server.port}/opener?kind={kind}&n={nonce}"


def trial(lab, browser, kind):
    """One pop-up: what became of it."""
    server, nonce = lab.server, secrets.token_hex(6)
    server.go(lab.nonce, lab.opener_url(kind, nonce))
    lab.nonce = nonce
    if not server.wait(lambda: server.of(nonce, ("/ready",)), 20):
        raise AssertionError(f"the opener of {kind} never got ready")
    time.sleep(browser.pause_before_click)
    try:
        xdotool("mousemove", "--window", browser.window, *browser.middle)
    except subprocess.CalledProcessError:
        browser.find_window()
        xdotool("mousemove", "--window", browser.window, *browser.middle)
    if kind == "ctrl":
        xdotool("keydown", "ctrl")
    try:
        for _ in range(5):
            clicked = time.monotonic()
            xdotool("click", "1")
            if server.wait(lambda: server.of(nonce, ("/next",)), 2):
                break
            lab.missed_clicks += 1  # the page never heard it: the harness's miss, not the browser's
        else:
            raise AssertionError(f"five clicks in a row missed the opener of {kind}")
        # Settled once the pop-up has gone, or has loaded and lived on a second, or after 4 s.
        while time.monotonic() < clicked + 4:
            popup = next(iter(browser.pages.seen_after(clicked).values()), None)
            loaded = server.of(nonce, ("/loaded",))
            if (popup is None and time.monotonic() > clicked + 2.5) or (popup and "died" in popup) or (
                    popup and loaded and time.monotonic() > loaded[0][0] + 1):
                break
            time.sleep(0.02)
        time.sleep(0.3)  # a request on its way when the page went
    finally:
        if kind == "ctrl":
            xdotool("keyup", "ctrl")
    pages = browser.pages.seen_after(clicked)
    popup = next(iter(pages.values()), None)
    requests = server.of(nonce, ("/popup", "/redirect"))
    for _ in range(5):
        left = [page for page, told in browser.pages.seen_after(clicked).items() if "died" not in told]
        if not left:
            break
        browser.close(left)
        with contextlib.suppress(AssertionError):
            wait_for(lambda: all("died" in p for p in browser.pages.seen_after(clicked).values()), "", 2, 0.05)
    else:
        raise AssertionError(f"the pages of {kind} stayed open")
    return {"opened": popup is not None, "closed": bool(popup and "died" in popup),
            "requested": bool(requests), "loaded": bool(server.of(nonce, ("/loaded",))),
            "to request": 1000 * (requests[0][0] - clicked) if requests else None,
            "lifetime": 1000 * (popup["died"] - popup["born"]) if popup and "died" in popup else None}


def run(lab, routes, kinds, trials):
    """Every route in turn, the kinds taking turns within it; results by route and kind."""
    results = {}
    for name in routes:
        started = time.monotonic()
        with ROUTES[name][0](lab) as browser:
            results[name] = {kind: [] for kind in kinds}
            for _ in range(trials):
                for kind in kinds:
                    results[name][kind].append(trial(lab, browser, kind))
        print(f"  {name}: {trials * len(kinds)} trials in {time.monotonic() - started:.0f} s, "
              f"{lab.missed_clicks} clicks missed so far", file=sys.stderr)
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
    print(f"Pop-ups by kind, {trials} trials per route, one real click each (under Xvfb).")
    print("Blocked kinds aim at 0 % requested; kept kinds must load every time, at little added delay.")
    widths = (20, 7, 7, 10, 7, 17, 8, 25, 14)

    def row(cells):
        print("  " + "".join(f"{c:>{w}}" if i else f"{c:<{w}}" for i, (c, w) in enumerate(zip(cells, widths))))
    for kind in kinds:
        rule = KINDS[kind][0]
        print(f"\n{kind} (the rules {rule} it)")
        row(("route", "opened", "closed", "requested", "loaded", "click to request", "added",
             "lifetime (median, 95th)", "against ref."))
        for name, by_kind in results.items():
            done = by_kind[kind]
            base, reference = ROUTES[name][1], results.get(ROUTES[name][2], {}).get(kind, [])
            delay = median(t["to request"] for t in done)
            base_delay = median(t["to request"] for t in results[base][kind]) if base in results else None
            lifetimes = [t["lifetime"] for t in done]
            ours, theirs = median(lifetimes), median(t["lifetime"] for t in reference)
            row((name, f"{sum(t['opened'] for t in done)}/{len(done)}", str(sum(t["closed"] for t in done)),
                 share(done, "requested"), share(done, "loaded"), ms(delay),
                 ms(delay - base_delay, True) if rule == "keep" and None not in (delay, base_delay) else "",
                 f"{ms(ours)}, {ms(p95(lifetimes))}" if ours is not None else "-",
                 f"{ours / theirs:.2f} times" if ours and theirs else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("build")
    parser.add_argument("--trials", type=int, default=200)
    parser.add_argument("--routes", default=",".join(ROUTES), help="of: " + ", ".join(ROUTES))
    parser.add_argument("--kinds", default=",".join(KINDS), help="of: " + ", ".join(KINDS))
    parser.add_argument("--alone", action="store_true",
                        help="only the routes named, not those they are held against (shares without delays)")
    args = parser.parse_args()
    routes, kinds = args.routes.split(","), args.kinds.split(",")
    for name in routes + kinds:
        if name not in ROUTES and name not in KINDS:
            parser.error(f"no route or kind {name!r}")
    # The routes the others are held against run too, and first.
    routes = [r for r in ROUTES if r in routes or not args.alone and any(r in ROUTES[o][1:] for o in routes)]
    # SIGTERM ends the run as Ctrl-C does, through every finally below.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    server = Server()
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        # A browser may still write to its profile as the folder goes.
        with tempfile.TemporaryDirectory(prefix="tavro-impressions-", ignore_cleanup_errors=True) as home:
            lab = Lab(os.path.abspath(args.source), os.path.abspath(args.build), home, server)
            try:
                results = run(lab, routes, kinds, args.trials)
            finally:
                lab.installed.stop_all()
    finally:
        xvfb.terminate()
        xvfb.wait()
        server.stop()
    report(results, kinds, args.trials)
    return 0


if __name__ == "__main__":
    sys.exit(main())
