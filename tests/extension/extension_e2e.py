#!/usr/bin/env python3
"""End to end: the browser extension in a real Chromium or Firefox ESR with no debugging port.

The project is installed with scripts/install.sh into a fresh HOME; the installed
scripts/start-browser.sh --without-port starts the browser on a private X server, on
the guarded profile. Chromium loads the installed extension and finds the installed
host named in <profile>/NativeMessagingHosts/; Firefox installs the installed .xpi
into the profile and finds the host named in ~/.mozilla/native-messaging-hosts/. The
program's side is the real socket, run alone (extension_socket_peer), which this
script drives:

  - the extension says hello and sends the whole state, and the host was started
    for the extension's fixed id (Chromium tells it the id; Firefox starts a host
    only for the id its manifest names);
  - it opens a page on request; that page's window.open pop-up is reported as
    opened from it, in a window of type "popup";
  - a probe tells that the pop-up reaches its opener and shows HTML, and that a
    noopener pop-up does not reach its opener;
  - Ctrl held in the focused page is reported down, then up; a key event the page
    makes up is not;
  - close ends the pop-up, and its end is reported;
  - the program's end and a new start: the extension connects again by itself;
  - no TCP port is listened on by the browser the whole time (ss).

usage: extension_e2e.py chromium|firefox SOURCE BUILD PEER
SOURCE is the source tree, BUILD a build folder of it that holds the program,
PEER the extension_socket_peer program.
"""
import http.server
import json
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from extension_id import chromium_id  # noqa: E402
from installed import listeners_of, start_browser  # noqa: E402
from xserver import start_x_server  # noqa: E402

# The pop-up pretends that Ctrl is down, as a page could to let itself through.
POPUP = """<html><head><title>pop-up</title></head><body>pop-up<script>
for (const type of ["keydown", "pointerdown"])
    dispatchEvent(new KeyboardEvent(type, {key: "Control", ctrlKey: true}));
</script></body></html>"""


def opener_page(port, noopener):
    features = "noopener,width=300,height=300" if noopener else "width=300,height=300"
    return (f"<html><body><script>window.open('http://127.0.0.1:{port}/popup.html', '_blank', "
            f"'{features}');</script></body></html>")


class Pages(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        port = self.server.server_address[1]
        body = {"/opener.html": opener_page(port, False), "/noopener.html": opener_page(port, True),
                "/popup.html": POPUP}.get(self.path)
        self.send_response(200 if body else 404)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write((body or "").encode())

    def log_message(self, *args):
        pass


class Peer:
    """The program's socket, run alone, its news read on a thread of its own."""

    def __init__(self, program, env):
        self.process = subprocess.Popen([program], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)
        self.news = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()
        self.expect(lambda n: n["event"] == "listening", "the socket did not listen")

    def _read(self):
        for line in self.process.stdout:
            self.news.put(json.loads(line))

    def expect(self, wanted, what, timeout=30):
        """The first news for which wanted holds; what came before it is passed over."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                news = self.news.get(timeout=max(left, 0.01))
            except queue.Empty:
                raise AssertionError(what) from None
            self.seen.append(news)
            if wanted(news):
                return news

    def heard(self, kind):
        """Every message of this type heard so far."""
        while not self.news.empty():
            self.seen.append(self.news.get())
        return [n["message"] for n in self.seen if n.get("message", {}).get("type") == kind]

    def message(self, kind, what, timeout=30, **members):
        def wanted(news):
            m = news.get("message", {})
            return news["event"] == "message" and m.get("type") == kind and all(
                m.get(k) == v for k, v in members.items())
        return self.expect(wanted, what, timeout)

    def send(self, connection, message):
        self.process.stdin.write(json.dumps({"connection": connection, "message": message}) + "\n")
        self.process.stdin.flush()

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True, timeout=20).stdout


def probe(peer, connection, tab, number):
    peer.send(connection, {"type": "probe", "id": number, "tab": tab})
    return peer.message("probe", f"no answer to probe {number}", id=number)["message"]


def probe_until_answered(peer, connection, tab, first, url):
    """A pop-up has no document to ask at first, or still its empty one; it is
    asked again until the document at its address answers."""
    for number in range(first, first + 20):
        answer = probe(peer, connection, tab, number)
        if answer["opener"] is not None and answer["url"] == url:
            return answer
        time.sleep(0.2)
    raise AssertionError(f"tab {tab} never answered a probe: {answer}")


def run(family, source, build, peer_program, home):
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700)
    env.update(HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"), TAVRO_BROWSER_AS_ROOT="1")
    subprocess.run([os.path.join(source, "scripts", "install.sh"), "--from-build", build, "--quiet"], env=env,
                   check=True, capture_output=True, timeout=120)
    share = os.path.join(home, ".local", "share", "tavro-popup-blocker")
    with open(os.path.join(share, "extension", "manifest.json")) as f:
        manifest = json.load(f)
    origin = f"chrome-extension://{chromium_id(manifest['key'])}/"

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]
    peer = Peer(peer_program, env)
    log = open(os.path.join(home, "browser.log"), "w+")
    browser = start_browser(family, share, env, log)
    try:
        hello = peer.message("hello", "the extension said no hello", timeout=60)
        connection = hello["connection"]
        assert hello["message"] == {"type": "hello", "protocol": 4, "browser": family,
                                    "extension": manifest["version"]}, hello
        peer.message("tabs", "no whole state after hello")
        peer.send(connection, {"type": "ping", "id": 7})
        peer.message("pong", "a ping went unanswered", id=7)
        if family == "chromium":
            # Firefox shows the host's messages in its own console alone.
            log.seek(0)
            assert f"tavro-popup-blocker-host: started for {origin}" in log.read(), "the host saw another origin"

        peer.send(connection, {"type": "open", "url": f"http://127.0.0.1:{port}/opener.html"})
        opened = peer.message("opened", "the pop-up was not reported", url=f"http://127.0.0.1:{port}/popup.html")
        popup = opened["message"]
        assert popup["windowType"] == "popup", popup
        source_tab = popup["sourceTab"]
        assert isinstance(source_tab, int) and source_tab != popup["tab"], popup
        answer = probe_until_answered(peer, connection, popup["tab"], 1, popup["url"])
        assert answer["opener"] is True and answer["contentType"] == "text/html", answer
        assert answer["url"] == popup["url"], answer

        time.sleep(0.5)
        assert not peer.heard("ctrl"), f"a key event the page made up counted: {peer.heard('ctrl')}"
        # Into the page, below the pop-up's address line.
        window = xdotool("search", "--sync", "--name", "^pop-up").split()[0]
        xdotool("mousemove", "--window", window, "150", "200", "click", "1")
        xdotool("keydown", "ctrl")
        peer.message("ctrl", "Ctrl held in the page was not reported", down=True)
        xdotool("keyup", "ctrl")
        peer.message("ctrl", "Ctrl let go was not reported", down=False)

        started = time.monotonic()
        peer.send(connection, {"type": "close", "tab": popup["tab"]})
        peer.message("gone", "the pop-up was not closed", tab=popup["tab"])
        print(f"closed in {1000 * (time.monotonic() - started):.0f} ms from the request")

        peer.send(connection, {"type": "open", "url": f"http://127.0.0.1:{port}/noopener.html"})
        quiet = peer.message("opened", "the noopener pop-up was not reported",
                             url=f"http://127.0.0.1:{port}/popup.html")["message"]
        answer = probe_until_answered(peer, connection, quiet["tab"], 100, quiet["url"])
        assert answer["opener"] is False, answer

        listeners = listeners_of(browser.pid)
        assert not listeners, f"the browser listens on TCP: {listeners}"

        # The program ends and starts again: the extension comes back by itself.
        peer.stop()
        peer = Peer(peer_program, env)
        started = time.monotonic()
        peer.message("hello", "the extension did not connect to the new program")
        state = peer.message("tabs", "no whole state after the new hello")["message"]["tabs"]
        print(f"connected again {1000 * (time.monotonic() - started):.0f} ms after the program's new start")
        assert any(t["tab"] == quiet["tab"] and t["sourceTab"] == quiet["sourceTab"] for t in state), state
    finally:
        os.killpg(browser.pid, 9)
        browser.wait()
        peer.stop()
        server.shutdown()


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("chromium", "firefox"):
        print(__doc__, file=sys.stderr)
        return 2
    family = sys.argv[1]
    source, build, peer = (os.path.abspath(a) for a in sys.argv[2:])
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        with tempfile.TemporaryDirectory(prefix="tavro-extension-") as home:
            run(family, source, build, peer, home)
    except AssertionError as e:
        print(f"extension_e2e {family}: {e}", file=sys.stderr)
        return 1
    finally:
        xvfb.terminate()
        xvfb.wait()
    print(f"extension_e2e {family}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
