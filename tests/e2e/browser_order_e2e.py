#!/usr/bin/env python3
"""End to end: the real program watches a browser whichever starts first, after
every restart and while a page loops, and leaves Firefox's one automation
session free when it exits.

One private X server and one HOME for every case; Firefox ESR is started by
scripts/start-browser.sh --firefox on the program's own Firefox profile (one
profile for every case), Chromium by scripts/start-browser.sh, headless, on
the program's Chromium profile. The pages come from a loopback server; an
opener page opens a pop-up from a name of its own, pop-N.localhost.

  late-start    the program, then Firefox on nine pages, one of them an opener
  restarts      Firefox, then the program as Firefox opens its port; Firefox
                killed and started again three times
  busy-before   Firefox with a page that loops from its first moment (its
                session then takes seconds to come) and an opener, then the
                program as Firefox opens its port
  busy-after    the program, then Firefox on the looping page and an opener
  pending-exit  Firefox on the looping page and nine others, the program
                started as Firefox opens its port and ended by SIGTERM as soon
                as it has asked for its session, which Firefox grants seconds
                later
  chromium      the program, then Chromium, its first page an opener

Every pop-up must be closed, and its domain listed in lstBlockedUrls: each
listed domain is allowed in turn (double-click, Yes), and "Whitelst.txt" must
then hold exactly the pop-ups' domains. After the program's exit (Exit
Program, or SIGTERM) another client must get a WebDriver BiDi session on that
Firefox. How long each pop-up lived and how long the program took to exit are
printed, never judged: the bounds only tell "never".

usage: browser_order_e2e.py PROGRAM SOURCE [CASE...]
SOURCE is the source tree, whose scripts/start-browser.sh starts the browsers.
"""
import dataclasses
import http.server
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from typing import Callable, List

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browsers import QUIET_CHROMIUM_FLAGS, new_bidi_session, write_firefox_prefs  # noqa: E402
from program import CAPTION, EXIT_BUTTON, FIRST_BLOCKED, TITLE, Program, click, wait_for, windows_named  # noqa: E402
from xserver import start_x_server  # noqa: E402

# Bounds that only mean "it never happened": a session may take 30 s to come.
POPUP_CLOSED_WITHIN = 60
BROWSER_UP_WITHIN = 60
EXIT_WITHIN = 30

LOOP = "<!doctype html><title>loop</title><script>for (;;) {}</script>"


class Pages(http.server.BaseHTTPRequestHandler):
    """/opener/N opens pop-up N from pop-N.localhost; the pop-up tells when it
    is served and when its page goes (pagehide), closed with its window."""

    def do_GET(self):
        port = self.server.server_address[1]
        kind, _, number = self.path.strip("/").partition("/")
        if kind == "opener":
            self.server.served.setdefault("opener " + number, time.monotonic())
            body = (f"<!doctype html><title>opener {number}</title><script>window.open("
                    f"'http://pop-{number}.localhost:{port}/popup/{number}', 'ad', 'width=320,height=240');"
                    "</script>opener")
        elif kind == "popup":
            self.server.served.setdefault(number, time.monotonic())
            body = (f"<!doctype html><title>pop-{number}</title><script>addEventListener('pagehide', "
                    f"() => navigator.sendBeacon('/gone/{number}'));</script>pop-up")
        elif kind == "loop":
            body = LOOP
        else:
            body = f"<!doctype html><title>page {number}</title>a page"
        data = body.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        kind, _, number = self.path.strip("/").partition("/")
        if kind == "gone":
            self.server.gone.setdefault(number, time.monotonic())
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def nine_pages(site, number):
    """An opener among pages of every kind a user has open."""
    return [f"{site}/page/1", "about:blank", f"{site}/opener/{number}", "data:text/html,<title>data</title>",
            f"{site}/page/2", "about:robots", f"{site}/page/3", f"{site}/page/4", f"{site}/page/5"]


def opener_only(site, number):
    return [f"{site}/opener/{number}"]


def looping_then_opener(site, number):
    # The looping page from a site of its own, so that its process is not the opener's.
    return [site.replace("127.0.0.1", "loop.localhost") + "/loop", f"{site}/opener/{number}"]


def looping_among_nine(site, number):
    return [site.replace("127.0.0.1", "loop.localhost") + "/loop", *nine_pages(site, number)]


class Browser:
    """One start of a browser through scripts/start-browser.sh, in a process
    group of its own so that it dies whole."""

    def __init__(self, test, urls):
        self.firefox = test.case.browser == "firefox"
        profile = "firefox" if self.firefox else "browser"
        self.profile = os.path.join(test.env["XDG_DATA_HOME"], "tavro-popup-blocker", profile)
        self.port_file = os.path.join(self.profile,
                                      "WebDriverBiDiServer.json" if self.firefox else "DevToolsActivePort")
        arguments = [os.path.join(test.source, "scripts", "start-browser.sh")]
        if self.firefox:
            write_firefox_prefs(self.profile)
            arguments.append("--firefox")
        else:
            arguments += ["--headless", *QUIET_CHROMIUM_FLAGS]
        # A killed browser leaves its port file behind; the one this start writes is newer.
        self.started = time.time()
        self.process = subprocess.Popen([*arguments, *urls], env=test.browser_env, start_new_session=True,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def port(self):
        """The port this start opened, once its file is written."""
        def written():
            if self.process.poll() is not None:
                raise AssertionError(f"the browser ended with status {self.process.returncode}")
            try:
                if os.path.getmtime(self.port_file) < self.started - 0.5:
                    return None
                with open(self.port_file) as f:
                    text = f.read()
                return json.loads(text)["ws_port"] if self.firefox else int(text.splitlines()[0])
            except (OSError, ValueError, KeyError, IndexError):
                return None
        return wait_for(written, "the browser opened no port", timeout=BROWSER_UP_WITHIN, step=0.05)

    def pages(self):
        """The addresses of the browser's pages, as its DevTools endpoint lists them."""
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port()}/json/list", timeout=10) as answer:
            return [target["url"] for target in json.load(answer)]

    def kill(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()


@dataclasses.dataclass
class Case:
    name: str
    pages: Callable
    browser_first: bool = False
    restarts: int = 0
    end: str = "exit"  # or "sigterm"
    end_when_asking: bool = False  # the program ended as it asks for its session; no pop-up then
    browser: str = "firefox"


CASES = [
    Case("late-start", nine_pages),
    Case("restarts", opener_only, browser_first=True, restarts=3, end="sigterm"),
    Case("busy-before", looping_then_opener, browser_first=True, end="sigterm"),
    Case("busy-after", looping_then_opener),
    Case("pending-exit", looping_among_nine, browser_first=True, end="sigterm", end_when_asking=True),
    Case("chromium", opener_only, browser="chromium"),
]


class Run:
    """One case: the program, the browser's starts, and what the pop-ups did."""

    def __init__(self, case, program, server, source):
        self.case = case
        self.program = program
        self.server = server
        self.source = source
        self.env = program.env
        self.browser_env = dict(program.env, TAVRO_BROWSER_AS_ROOT="1", MOZ_CRASHREPORTER_DISABLE="1")
        self.site = f"http://127.0.0.1:{server.server_address[1]}"
        self.popups: List[str] = []
        self.browser = None
        self.process = None
        self.errors = None

    def start_browser(self):
        number = f"{self.case.name}-{len(self.popups) + 1}"
        if not self.case.end_when_asking:
            self.popups.append(number)
        self.browser = Browser(self, self.case.pages(self.site, number))

    def start_program(self):
        self.errors = open(os.path.join(self.program.tmp, f"{self.case.name}.stderr"), "w+")
        self.started = time.monotonic()
        self.process = self.program.start(stderr=self.errors)
        return wait_for(lambda: windows_named(CAPTION), "the program showed no window")[0]

    def popup_closed(self, number):
        """How long pop-up N lived: from its page served to its page gone
        (the window itself is checked gone, never timed). Chromium holds a new
        page until the program lets it run, and a pop-up the program closes
        then never asks for its page: one still unasked 3 s after its opener
        was served counts as closed, which its domain, listed as blocked, then
        has to bear out."""
        def closed():
            opener = self.server.served.get("opener " + number)
            if (not self.browser.firefox and number not in self.server.served and opener is not None
                    and time.monotonic() - opener > 3
                    and not any(f"/popup/{number}" in url for url in self.browser.pages())):
                return opener
            if number not in self.server.gone:
                return None
            if self.browser.firefox:
                if windows_named(f"pop-{number} — Mozilla Firefox"):
                    return None
            elif any(f"/popup/{number}" in url for url in self.browser.pages()):
                return None
            return self.server.gone[number]
        gone = wait_for(closed, f"pop-up {number} was not closed", timeout=POPUP_CLOSED_WITHIN, step=0.05)
        if number not in self.server.served:
            print(f"  pop-up {number}: closed before its page was asked for")
            return
        print(f"  pop-up {number}: closed {1000 * (gone - self.server.served[number]):.0f} ms after it was served")

    def connected_to(self, port):
        """Whether the program holds a connection to the port: it asks for its
        session the moment it has one."""
        listed = subprocess.run(["ss", "-tnpH", "state", "established", "dst", f"127.0.0.1:{port}"],
                                capture_output=True, text=True).stdout
        return f"pid={self.process.pid}," in listed

    def end_program(self, window):
        if self.case.end == "exit":
            subprocess.run(["xdotool", "windowraise", window], check=True, timeout=20)
            began = time.monotonic()
            click(window, EXIT_BUTTON)
        else:
            began = time.monotonic()
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=EXIT_WITHIN)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the program did not exit within {EXIT_WITHIN} s") from None
        print(f"  program exited {1000 * (time.monotonic() - began):.0f} ms after the "
              f"{'click on Exit Program' if self.case.end == 'exit' else 'SIGTERM'}, status {status}")
        assert status == 0, f"the program exited with status {status}"

    def allow_listed(self, window):
        """Allows every domain lstBlockedUrls lists, the first each time: one
        for each pop-up, each given time to ask on a machine that a looping
        page keeps busy, then one more double-click that must ask nothing."""
        subprocess.run(["xdotool", "windowraise", window], check=True, timeout=20)
        for expected in [True] * len(self.popups) + [False]:
            click(window, FIRST_BLOCKED, repeat=2)
            try:
                box = wait_for(lambda: windows_named(TITLE), "", timeout=8 if expected else 1.5, step=0.1)[0]
            except AssertionError:
                # Too few listed: the allowed list, checked after the exit, tells which.
                return
            if not expected:
                raise AssertionError("lstBlockedUrls lists more domains than pop-ups were opened")
            subprocess.run(["xdotool", "windowfocus", "--sync", box, "key", "Return"], check=True, timeout=20)
            wait_for(lambda: not windows_named(TITLE), "the question stayed open", timeout=10)

    def run(self):
        case = self.case
        if case.browser_first:
            self.start_browser()
            port = self.browser.port()
            window = self.start_program()
        else:
            window = self.start_program()
            self.start_browser()
            port = self.browser.port()
        if case.end_when_asking:
            wait_for(lambda: self.connected_to(port), "the program never connected to Firefox", timeout=20,
                     step=0.02)
            connected = time.monotonic() - self.started
            time.sleep(0.2)
            print(f"  program connected {1000 * connected:.0f} ms after its start, "
                  f"ended {1000 * (time.monotonic() - self.started):.0f} ms after it")
        else:
            self.popup_closed(self.popups[-1])
            for _ in range(case.restarts):
                self.browser.kill()
                self.start_browser()
                self.popup_closed(self.popups[-1])
            self.allow_listed(window)
        self.end_program(window)
        port = self.browser.port()
        if self.browser.firefox:
            answer = new_bidi_session(port, timeout=30)
            assert answer.get("type") == "success", f"another client got no session after the exit: {answer}"
        with open(self.program.whitelist) as f:
            allowed = f.read().split()
        expected = [f"pop-{n}.localhost:{self.server.server_address[1]}" for n in self.popups]
        assert allowed == expected, f"lstBlockedUrls listed {allowed}, not the pop-ups' {expected}"

    def tidy(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.browser is not None:
            self.browser.kill()
        if self.errors is not None:
            self.errors.seek(0)
            sys.stdout.write("".join(f"  stderr: {line}\n" for line in self.errors.read().splitlines()))
            self.errors.close()


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    program_path, source = (os.path.abspath(a) for a in sys.argv[1:3])
    wanted = sys.argv[3:]
    cases = [c for c in CASES if not wanted or c.name in wanted]
    start_browser = os.path.join(source, "scripts", "start-browser.sh")
    for family, option in (("firefox", ["--firefox"]), ("chromium", [])):
        if any(c.browser == family for c in cases) and \
                subprocess.run([start_browser, *option, "--installed"]).returncode != 0:
            print(f"{family}: SKIPPED, not installed")
            cases = [c for c in cases if c.browser != family]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
    server.served, server.gone = {}, {}
    threading.Thread(target=server.serve_forever, daemon=True).start()
    xvfb, os.environ["DISPLAY"] = start_x_server()
    failed = []
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-order-") as tmp:
            program = Program(program_path, tmp)
            # Leaks are the sanitizer suites' business.
            program.env["ASAN_OPTIONS"] = "detect_leaks=0"
            for case in cases:
                print(f"{case.name}:")
                with open(program.whitelist, "w"):
                    pass
                run = Run(case, program, server, source)
                try:
                    run.run()
                    print("  ok")
                except (AssertionError, OSError) as e:
                    print(f"  FAILED: {e}")
                    failed.append(case.name)
                finally:
                    run.tidy()
    finally:
        xvfb.terminate()
        xvfb.wait()
        server.shutdown()
    if failed:
        print(f"failed: {', '.join(failed)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
