#!/usr/bin/env python3
"""End to end: the real program blocks pop-ups in a real browser through the
browser extension, with no debugging port anywhere.

The project is installed with scripts/install.sh into a fresh HOME; the
installed program runs there, and the installed start-browser.sh --without-port
starts the browser on the program's own profile, on a private X server:
Chromium loads the installed extension and finds the host named in its
profile, Firefox ESR takes the installed .xpi into its profile. One browser
and one program serve every case, in the order of the table, each case with
pop-ups from a domain of its own. The browser is steered by its own page (see
tests/support/browser_pages.py), never through a port or the keyboard.

What the program did is read from its window: a double-click on an entry of
"I blocked these" asks whether to allow it, so an entry is there when the
question comes, and Yes moves it to "Allowed Domains"; "Exit Program" writes
that list to "Whitelst.txt", which must then hold, in order, the domain the
file held before, each blocked domain once and the domain Ctrl let through.
Whether a pop-up is open is read from the names of the browser's windows.

  - pop-ups same-site, cross-site, that move elsewhere, in alert(), in an
    endless loop: closed, and their domain listed once (a pop-up that moves
    is judged where it was when the program heard of its document, which may
    be either of its two domains);
  - a tab opened by script is kept, unless "Aggressive Blocking (see Help)" is
    checked; a noopener tab and a pop-up from an allowed domain are kept;
  - Ctrl held while a pop-up opens lets it through and allows its domain;
    held over a script tab and an older pop-up (from an allowed domain) with a
    new pop-up opening in the middle of the hold, it lets the new one through
    and allows nothing else: not the tab's domain, nor the opener's site;
  - after Disable, pop-ups are kept;
  - blocking resumes after the program's restart and after the browser's;
  - a page the browser starts on opens, in one go, a window from its own site
    and one from another, a tab by script, a noopener tab and a window from an
    allowed domain, before the extension listens: the two windows are closed
    and their domains listed, the allowed one is kept;
  - no process of the browser listens on TCP (ss), checked after every case;
  - in Firefox, which lets the extension hold a new tab's first request, the
    page of a pop-up closed after the extension listened is never requested.

Firefox runs the main cases: a pop-up closed and listed once, noopener and an
allowed domain kept, Ctrl held over a script tab and an older pop-up, and the
page the browser starts on.

usage: program_extension_e2e.py chromium|firefox SOURCE BUILD [SCREENSHOT_FOLDER]
SOURCE is the source tree, BUILD a build folder of it that holds the program;
a case that fails leaves a screenshot in SCREENSHOT_FOLDER.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from browser_pages import BrowserPages  # noqa: E402
from installed import Installed, hosts_of, listeners_of, start_browser  # noqa: E402
from program import (AGGRESSIVE, CAPTION, CMD_ENABLE, EXIT_BUTTON, FIRST_BLOCKED, TITLE,  # noqa: E402
                     answer, click, double_click, visible_windows, wait_for, windows_named, xdotool)
from xserver import start_x_server  # noqa: E402

# Long enough for the program to have seen a page and judged it: a few ticks
# (600 ms), the page's own answer, and the second a page in alert() or in an
# endless loop is given before it counts as one that cannot answer.
SETTLE = 2.5
# How long a question from a double-click is waited for.
QUESTION = 1.5
# How long Ctrl is held before the pop-up it is held for opens.
HOLD = 2.5
# The browser's window right of the program's, which the script clicks.
CHROMIUM_PLACE = ("--window-position=400,0", "--window-size=600,360")


class Run:
    """The installed program, its window, the browser and the pages of one run."""

    def __init__(self, family, source, build, home):
        self.family = family
        self.installed = Installed(source, build, home)
        self.installed.install("--quiet")
        self.env = dict(self.installed.env, TAVRO_BROWSER_AS_ROOT="1")
        self.pages = BrowserPages()
        # What "Allowed Domains" holds, in order: each entry one of a few domains.
        self.allowed = [(self.pages.domain("allowed.localhost"),)]
        with open(self.installed.list, "w") as f:
            f.write(self.allowed[0][0] + "\n")
        self.log = open(os.path.join(home, "browser.log"), "w")
        self.program = self.window = self.browser = None

    def start_program(self):
        self.program = self.installed.start()
        self.window = wait_for(lambda: windows_named(CAPTION), "the program showed no window")[0]

    def exit_program(self):
        """Exit Program; returns what the program said of the allowed list it
        saved, which must be the one expected so far: nothing when it is."""
        self.click(EXIT_BUTTON)
        status = self.program.wait(timeout=30)
        assert status == 0, f"the program ended with status {status}"
        with open(self.installed.list, "rb") as f:
            saved = f.read().decode()
        lines = saved.split("\r\n")
        if lines[-1] == "" and len(lines) == len(self.allowed) + 1 and all(
                line in domains for line, domains in zip(lines, self.allowed)):
            return ""
        expected = " ".join("|".join(domains) for domains in self.allowed)
        return f"Whitelst.txt holds {saved!r}, expected one line each of {expected}"

    def start_browser(self, address=None):
        started = time.monotonic()
        extra = CHROMIUM_PLACE if self.family == "chromium" else ()
        self.browser = start_browser(self.family, self.installed.share, self.env, self.log,
                                     address or self.pages.start_url(), *extra)
        wait_for(lambda: hosts_of(self.installed.folder), "the extension did not reach the program", timeout=60)
        print(f"{self.family}: the extension reached the program {time.monotonic() - started:.1f} s after "
              "the browser's start")
        self.no_port()

    def stop_browser(self):
        self.no_port()
        os.killpg(self.browser.pid, signal.SIGTERM)
        try:
            self.browser.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.browser.pid, signal.SIGKILL)
            self.browser.wait()
        # The browser's helpers, the host among them, end with it.
        wait_for(lambda: not hosts_of(self.installed.folder), "the host outlived the browser")

    def no_port(self):
        listeners = listeners_of(self.browser.pid)
        assert not listeners, f"the browser listens on TCP: {listeners}"

    def click(self, point, double=False):
        # The browser's windows may lie over the program's; without a window
        # manager nothing raises it but this.
        xdotool("windowraise", self.window)
        (double_click if double else click)(self.window, point)

    def question_on_first_blocked(self):
        """Double-clicks the first entry of "I blocked these": the question box,
        or None when no question came (no entry there)."""
        self.click(FIRST_BLOCKED, double=True)
        try:
            return wait_for(lambda: visible_windows(f"^{TITLE}$"), "", timeout=QUESTION, step=0.1)[-1]
        except AssertionError:
            return None

    def allow_first_blocked(self, domains):
        """Moves the first entry of "I blocked these" to "Allowed Domains"; the
        move leaves no entry selected, so a second entry, were there one, is
        the only one a double-click could then ask about."""
        box = self.question_on_first_blocked()
        assert box is not None, "no entry to allow"
        answer(box, "Return")
        self.allowed.append(domains)
        assert self.nothing_blocked(), "more than one domain was listed"

    def nothing_blocked(self):
        box = self.question_on_first_blocked()
        if box is not None:
            answer(box, "Escape")
        return box is None

    def stop(self):
        if self.browser is not None and self.browser.poll() is None:
            os.killpg(self.browser.pid, signal.SIGKILL)
            self.browser.wait()
        self.installed.stop_all()
        self.pages.stop()
        self.log.close()


@dataclass
class Case:
    name: str
    kind: str  # what the opener page opens (tests/support/browser_pages.py)
    host: str
    outcome: str  # "closed", "kept" or "let through"
    # The hosts one of which is listed when it is closed, if not the pop-up's own.
    listed: tuple = ()
    setting: str = ""  # what is done first, and undone after
    firefox: bool = False
    at: str = "127.0.0.1"  # where the opener page is served from

    def title(self):
        return "case-" + self.name.replace(" ", "-").replace("'", "")

    def page(self):
        return {"alert": "/alert.html", "loop": "/loop.html"}.get(self.kind, "/ad.html")


CASES = [
    Case("cross-site", "popup", "cross.localhost", "closed", firefox=True),
    Case("same-site", "samesite", "127.0.0.1", "closed"),
    # Judged where it was when the program heard of its first document: where
    # it opened, or where it moved.
    Case("navigated", "navigate", "hop.localhost", "closed", listed=("hop.localhost", "track.hop.localhost")),
    Case("alert", "alert", "alert.localhost", "closed"),
    Case("endless loop", "loop", "loop.localhost", "closed"),
    Case("script tab", "tab", "tab.localhost", "kept"),
    Case("noopener", "noopener", "free.localhost", "kept", firefox=True),
    Case("allowed domain", "popup", "allowed.localhost", "kept", firefox=True),
    Case("Ctrl held", "popup", "ctrl.localhost", "let through", setting="ctrl"),
    Case("Ctrl held over kept pages", "popup", "newest.localhost", "let through alone",
         setting="ctrl over kept pages", firefox=True),
    Case("disabled", "popup", "off.localhost", "kept", setting="disabled"),
    Case("aggressive script tab", "tab", "aggressive.localhost", "closed", setting="aggressive"),
    Case("after the program's restart", "popup", "again.localhost", "closed", setting="program restarted"),
    Case("after the browser's restart", "popup", "reborn.localhost", "closed", setting="browser restarted"),
    # The opener from a site of its own: 127.0.0.1 is allowed by then.
    Case("five kinds as the browser starts", "five", "start.localhost", "five", setting="browser started on it",
         firefox=True, at="five.localhost"),
]


def restart_program(run):
    wrong = run.exit_program()
    run.start_program()
    assert not wrong, wrong


def restart_browser(run):
    run.stop_browser()
    run.start_browser()


# Pages kept open while Ctrl is held: a tab a script opened, and a pop-up from
# the allowed domain that was there before Ctrl went down.
KEPT = (("tab", "kept-tab.localhost", "kept-tab"), ("popup", "allowed.localhost", "kept-popup"))


def hold_ctrl_over_kept_pages(run):
    for kind, host, title in KEPT:
        run.pages.go(run.pages.opener_url(kind, host, title))
        wait_for(lambda: visible_windows(f"^{title}"), f"the {title} never showed")
    time.sleep(SETTLE)
    xdotool("keydown", "ctrl")
    time.sleep(HOLD)


def let_go_of_kept_pages(run):
    xdotool("keyup", "ctrl")
    for _, _, title in KEPT:
        run.pages.release(title)
        wait_for(lambda: not visible_windows(f"^{title}"), f"the {title} did not close itself")


# What each setting does before its case and after it.
SETTINGS = {
    "": (lambda run: None, lambda run: None),
    "ctrl": (lambda run: xdotool("keydown", "ctrl"), lambda run: xdotool("keyup", "ctrl")),
    "disabled": (lambda run: run.click(CMD_ENABLE), lambda run: run.click(CMD_ENABLE)),
    "aggressive": (lambda run: run.click(AGGRESSIVE), lambda run: run.click(AGGRESSIVE)),
    "ctrl over kept pages": (hold_ctrl_over_kept_pages, let_go_of_kept_pages),
    "program restarted": (restart_program, lambda run: None),
    "browser restarted": (restart_browser, lambda run: None),
    # run_case starts the browser on the case's page.
    "browser started on it": (lambda run: run.stop_browser(), lambda run: None),
}


def closed(run, case, title):
    box = wait_for(lambda: run.question_on_first_blocked(), "nothing was listed as blocked", timeout=30, step=0)
    answer(box, "Escape")
    wait_for(lambda: not visible_windows(f"^{title}"), "the pop-up stayed open", timeout=10)
    time.sleep(SETTLE)
    assert not visible_windows(f"^{title}"), "the pop-up came back"
    # Firefox lets the extension hold a new tab's first request: a pop-up it
    # closes never asks for its page.
    if run.family == "firefox":
        assert not run.pages.requested(case.page(), title), "the closed pop-up's page was requested"
    run.allow_first_blocked(tuple(run.pages.domain(host) for host in case.listed or (case.host,)))
    return "closed"


def kept(run, case, title):
    wait_for(lambda: visible_windows(f"^{title}"), "the pop-up never showed")
    time.sleep(SETTLE)
    assert visible_windows(f"^{title}"), "the pop-up was closed"
    assert run.nothing_blocked(), "a domain was listed as blocked"
    run.pages.release(title)
    wait_for(lambda: not visible_windows(f"^{title}"), "the kept page did not close itself")
    return "kept"


def let_through(run, case, title):
    wait_for(lambda: visible_windows(f"^{title}"), "the pop-up never showed")
    time.sleep(SETTLE)
    xdotool("keyup", "ctrl")
    time.sleep(SETTLE)
    assert visible_windows(f"^{title}"), "the pop-up let through was closed"
    assert run.nothing_blocked(), "the domain let through was listed as blocked"
    run.allowed.append((run.pages.domain(case.host),))
    run.pages.release(title)
    wait_for(lambda: not visible_windows(f"^{title}"), "the kept page did not close itself")
    return "let through"


def let_through_alone(run, case, title):
    """Let through, and "Whitelst.txt", saved at once by a restart of the
    program, gained that domain and no other."""
    told = let_through(run, case, title)
    restart_program(run)
    return told


def five(run, case, title):
    """The windows from the opener's own site and from another are closed and
    both domains listed; the allowed domain's window is kept. The tabs are
    left to the cases of their own."""
    def open_windows():
        return visible_windows(f"^{title}-same") + visible_windows(f"^{title}-cross")

    wait_for(lambda: visible_windows(f"^{title}-allowed"), "the allowed pop-up never showed")
    wait_for(lambda: not open_windows(), "a pop-up window stayed open", timeout=10)
    time.sleep(SETTLE)
    assert not open_windows(), "a pop-up window came back"
    assert visible_windows(f"^{title}-allowed"), "the allowed pop-up was closed"
    domains = (run.pages.domain(case.at), run.pages.domain(case.host))
    for _ in domains:
        box = run.question_on_first_blocked()
        assert box is not None, "a closed pop-up's domain was not listed"
        answer(box, "Return")
        run.allowed.append(domains)
    assert run.nothing_blocked(), "more domains were listed than pop-ups closed"
    for kind in ("same", "cross", "tab", "noopener", "allowed"):
        run.pages.release(f"{title}-{kind}")
    return "closed and kept"


OUTCOMES = {"closed": closed, "kept": kept, "let through": let_through, "let through alone": let_through_alone,
            "five": five}


def run_case(run, case):
    before, after = SETTINGS[case.setting]
    before(run)
    try:
        title = case.title()
        more = {"allowed": "allowed.localhost"} if case.kind == "five" else {}
        url = run.pages.opener_url(case.kind, case.host, title, at=case.at, **more)
        if case.setting == "browser started on it":
            run.start_browser(run.pages.start_on(url))
        else:
            run.pages.go(url)
        page_title = title + "-same" if case.kind == "five" else title
        # The opener, since a pop-up Firefox lets the extension hold is closed unasked.
        wait_for(lambda: run.pages.requested("/opener.html", title) or run.pages.requested(case.page(), page_title),
                 "the opener was never asked for")
        told = OUTCOMES[case.outcome](run, case, title)
    finally:
        after(run)
    run.no_port()
    return told


def main():
    if len(sys.argv) not in (4, 5) or sys.argv[1] not in ("chromium", "firefox"):
        print(__doc__, file=sys.stderr)
        return 2
    family = sys.argv[1]
    source, build = (os.path.abspath(a) for a in sys.argv[2:4])
    shots = sys.argv[4] if len(sys.argv) == 5 else None
    cases = [c for c in CASES if family == "chromium" or c.firefox]
    failed = []
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-program-extension-") as home:
            run = Run(family, source, build, home)
            try:
                run.start_program()
                run.start_browser()
                for case in cases:
                    started = time.monotonic()
                    try:
                        told = run_case(run, case)
                    except AssertionError as e:
                        failed.append(case.name)
                        told = f"FAILED: {e}"
                        if shots:
                            subprocess.run(["import", "-window", "root", os.path.join(shots, case.title() + ".png")],
                                           check=False, capture_output=True, timeout=20)
                    print(f"{family}: {case.name}: {told} ({time.monotonic() - started:.1f} s)")
                run.stop_browser()
                wrong = run.exit_program()
                assert not wrong, wrong
            finally:
                run.stop()
    except AssertionError as e:
        print(f"program_extension_e2e {family}: {e}", file=sys.stderr)
        return 1
    finally:
        xvfb.terminate()
        xvfb.wait()
    if failed:
        print(f"program_extension_e2e {family}: failed: {', '.join(failed)}", file=sys.stderr)
        return 1
    print(f"program_extension_e2e {family}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
