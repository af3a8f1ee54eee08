"""The browsers that bench/impressions.py clicks in: each started by the
installed start-browser.sh on the program's own profile for it, with the port
the program looks for, showing the opener page in a window of its own on the
display. Each tells of every page it opens, with its birth and its end by the
browser's own account, and closes pages when asked; the script's own channel
for that is a debugging connection in Chromium, and in Firefox, which serves
one automation session and leaves it to the program, a small extension of
the benchmark's own."""
import contextlib
import io
import json
import os
import queue
import secrets
import signal
import subprocess
import sys
import threading
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from browsers import FIREFOX_USER_JS  # noqa: E402
from devtools_reference import DevTools  # noqa: E402
from program import visible_windows, wait_for, xdotool  # noqa: E402
from websocket_client import WebSocket  # noqa: E402

# Tells the benchmark's server of each tab's birth and end, by the
# extension's own clock, and removes the tabs the server names. Never shipped.
OBSERVER_ID = "impressions-observer@tavro.example"
OBSERVER_MANIFEST = {"manifest_version": 2, "name": "impressions observer", "version": "1",
                     "browser_specific_settings": {"gecko": {"id": OBSERVER_ID}},
                     "background": {"scripts": ["background.js"]}, "permissions": ["tabs", "http://127.0.0.1/*"]}
OBSERVER_SCRIPT = """const server = 'http://127.0.0.1:%s';
// One report after the other: a tab's end must not overtake its birth.
let told = Promise.resolve();
const tell = (what, id, at = performance.now()) =>
  told = told.then(() => fetch(`${server}/tab?what=${what}&id=${id}&at=${at}`)).catch(() => {});
browser.tabs.onCreated.addListener(tab => tell('born', tab.id));
browser.tabs.onRemoved.addListener(id => tell('died', id));
(async () => {
  for (;;) {
    try {
      const ids = await (await fetch(server + '/orders?of=%s')).json();
      ids.forEach(id => browser.tabs.remove(id).catch(() => {}));
    } catch (e) {
      await new Promise(resolve => setTimeout(resolve, 500));
    }
  }
})();
"""


class Pages:
    """Each page the browser told of: when the script heard of it ("seen", on
    its own clock) and its birth and end on the browser's clock, in seconds."""

    def __init__(self):
        self.lock = threading.Lock()
        self.pages = {}

    def born(self, page, at, seen):
        with self.lock:
            self.pages[page] = {"seen": seen, "born": at}

    def died(self, page, at):
        with self.lock:
            if page in self.pages:
                self.pages[page]["died"] = at

    def seen_after(self, moment):
        with self.lock:
            return {k: dict(v) for k, v in self.pages.items() if v["seen"] >= moment}


class Browser:
    """What both browsers share: the process group, the opener's window."""

    pause_before_click = 0

    def __init__(self, installed, arguments):
        self.pages = Pages()
        self.log = open(os.path.join(installed.home, "browser.log"), "a")
        self.process = subprocess.Popen([os.path.join(installed.share, "start-browser.sh"), *arguments],
                                        env=dict(installed.env, TAVRO_BROWSER_AS_ROOT="1"), stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True)

    def find_window(self):
        # Firefox may replace the window it first shows: one that went is looked for again.
        def window():
            for found in reversed(visible_windows("^tavro opener")):
                with contextlib.suppress(subprocess.CalledProcessError):
                    return found, dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", found))
        self.window, shape = wait_for(window, "the opener's window did not appear", timeout=60)
        self.middle = (str(int(shape["WIDTH"]) // 2), str(int(shape["HEIGHT"]) // 2))

    def stop(self):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.process.pid, signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.log.close()


def read_port(name, read):
    """The port the browser names in its profile, once it has."""
    def port():
        with contextlib.suppress(OSError, ValueError, KeyError):
            return read()
    return wait_for(port, f"the browser did not write {name}", timeout=60)


class Chromium(Browser):
    def __init__(self, installed, address, server):
        profile = os.path.join(installed.home, ".local", "share", "tavro-popup-blocker", "browser")
        port_file = os.path.join(profile, "DevToolsActivePort")
        with contextlib.suppress(FileNotFoundError):
            os.remove(port_file)
        super().__init__(installed, ["--ozone-platform=x11", "--disable-gpu", "--window-position=0,0",
                                     "--window-size=1000,700", "--disable-background-networking",
                                     "--disable-component-update", "--disable-sync", "--password-store=basic",
                                     address])
        self.devtools = None
        try:
            self.port, self.path = read_port("DevToolsActivePort",
                                             lambda: (lambda lines: (int(lines[0]), lines[1]))(
                                                 open(port_file).read().split("\n")))
            self.devtools = DevTools(self.port, self.path, self._event)
            self.devtools.call("Target.setDiscoverTargets", {"discover": True})
            self.find_window()
        except BaseException:
            self.stop()
            raise

    def _event(self, message, now):
        params = message.get("params", {})
        if message.get("method") == "Target.targetCreated" and params["targetInfo"]["type"] == "page":
            self.pages.born(params["targetInfo"]["targetId"], now, now)
        elif message.get("method") == "Target.targetDestroyed":
            self.pages.died(params["targetId"], now)

    def close(self, pages):
        for page in pages:
            self.devtools.post("Target.closeTarget", {"targetId": page})

    def stop(self):
        if self.devtools is not None:
            self.devtools.close()
        super().stop()


class Firefox(Browser):
    # Firefox drops a click that comes too soon after the page has been drawn.
    pause_before_click = 0.1

    def __init__(self, installed, address, server, with_port=True):
        self.server = server
        profile = os.path.join(installed.home, ".local", "share", "tavro-popup-blocker", "firefox")
        os.makedirs(os.path.join(profile, "extensions"), mode=0o700, exist_ok=True)
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.write(FIREFOX_USER_JS)
        packed = io.BytesIO()
        with zipfile.ZipFile(packed, "w") as xpi:
            xpi.writestr("manifest.json", json.dumps(OBSERVER_MANIFEST))
            # Orders of its own: a request of an observer that went with its browser may still be waiting.
            token = secrets.token_hex(6)
            self.orders = server.orders.setdefault(token, queue.Queue())
            xpi.writestr("background.js", OBSERVER_SCRIPT % (server.port, token))
        with open(os.path.join(profile, "extensions", OBSERVER_ID + ".xpi"), "wb") as f:
            f.write(packed.getvalue())
        server_file = os.path.join(profile, "WebDriverBiDiServer.json")
        with contextlib.suppress(FileNotFoundError):
            os.remove(server_file)
        server.on_tab = self._told
        super().__init__(installed, ["--firefox", *([] if with_port else ["--without-port"]), "--width", "1000",
                                     "--height", "700", address])
        self.port = None
        try:
            if with_port:
                self.port = read_port("WebDriverBiDiServer.json", lambda: json.load(open(server_file))["ws_port"])
            self.find_window()
        except BaseException:
            self.stop()
            raise

    def _told(self, what, tab, at, seen):
        if what == "born":
            self.pages.born(tab, at / 1000, seen)
        else:
            self.pages.died(tab, at / 1000)

    def close(self, pages):
        self.orders.put([int(page) for page in pages])


class BidiReferenceCloser:
    """Firefox's reference closer, as browser_bench's: on a WebDriver BiDi
    session of its own, taken while the program is not running, it closes
    each top-level page opened by script the moment Firefox names an address
    with a host for it, unless spare(address) says the rules would keep it."""

    def __init__(self, port, spare):
        self.spare = spare
        self.scripted = set()
        self.ws = WebSocket(port, "/session", 30)
        self.ws.send(json.dumps({"id": 1, "method": "session.new", "params": {"capabilities": {}}}))
        while json.loads(self.ws.receive()).get("id") != 1:
            pass
        self.ws.send(json.dumps({"id": 2, "method": "session.subscribe", "params": {
            "events": ["browsingContext.contextCreated", "browsingContext.navigationStarted"]}}))
        self.ws.sock.settimeout(None)
        self.next_id = 3
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        with contextlib.suppress(OSError, AssertionError, ValueError):
            while True:
                event = json.loads(self.ws.receive())
                info = event.get("params", {})
                if info.get("parent"):
                    continue
                if event.get("method") == "browsingContext.contextCreated" and info.get("originalOpener"):
                    self.scripted.add(info["context"])
                if info.get("url", "").startswith("http") and info.get("context") in self.scripted:
                    self.scripted.discard(info["context"])
                    if not self.spare(info["url"]):
                        self.ws.send(json.dumps({"id": self.next_id, "method": "browsingContext.close",
                                                 "params": {"context": info["context"]}}))
                        self.next_id += 1

    def close(self):
        with contextlib.suppress(OSError):
            self.ws.send(json.dumps({"id": 0, "method": "session.end", "params": {}}))
        self.ws.close()
