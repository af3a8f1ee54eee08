"""What the benchmarks that time pop-ups in a real Chromium share: a
connection to the browser's debugging port whose events are timed as they
arrive, and the DevTools reference closer, the floor for any program outside
the browser that closes a page once the browser has named its address."""
import json
import os
import queue
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from websocket_client import WebSocket  # noqa: E402


class DevTools:
    """A connection to the browser's debugging port; its events are read and
    timed on a thread of their own as they arrive, and handed to
    on_event(message, arrived), or without it queued in events as
    (arrived, message)."""

    def __init__(self, port, path, on_event=None):
        self.ws = WebSocket(port, path)
        self.ws.sock.settimeout(None)
        self.events = queue.Queue()
        self.on_event = on_event or (lambda message, arrived: self.events.put((arrived, message)))
        self.answers = {}
        self.answered = threading.Condition()
        self.next_id = 1
        self.send_lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        try:
            while True:
                message = json.loads(self.ws.receive())
                now = time.monotonic()
                if "id" in message:
                    with self.answered:
                        self.answers[message["id"]] = message
                        self.answered.notify_all()
                else:
                    self.on_event(message, now)
        except (OSError, AssertionError, ValueError):
            pass

    def post(self, method, params=None, session=None):
        with self.send_lock:
            number = self.next_id
            self.next_id += 1
            message = {"id": number, "method": method, "params": params or {}}
            if session:
                message["sessionId"] = session
            self.ws.send(json.dumps(message))
        return number

    def call(self, method, params=None, timeout=10, session=None):
        number = self.post(method, params, session)
        with self.answered:
            if not self.answered.wait_for(lambda: number in self.answers, timeout):
                raise AssertionError(f"no answer to {method}")
            return self.answers.pop(number).get("result", {})

    def close(self):
        self.ws.close()


def opened_by_script(info):
    return info.get("type") == "page" and bool(info.get("openerId"))


class ReferenceCloser:
    """Sends Target.closeTarget the moment a page opened by script is
    announced with an address, unless spare(address) says the rules would
    keep it: nothing outside the browser that waits for the address can be
    quicker."""

    def __init__(self, port, path, spare=lambda url: False):
        self.born = {}
        self.spare = spare
        # How long after its birth each page was asked to close, in ms.
        self.waited = []
        self.devtools = DevTools(port, path, self._event)
        self.devtools.call("Target.setDiscoverTargets", {"discover": True})

    def _event(self, message, now):
        if message.get("method") not in ("Target.targetCreated", "Target.targetInfoChanged"):
            return
        info = message["params"]["targetInfo"]
        if not opened_by_script(info):
            return
        born = self.born.setdefault(info["targetId"], now)
        if "://" in info.get("url", "") and born is not None:
            self.born[info["targetId"]] = None
            if self.spare(info["url"]):
                return
            self.devtools.post("Target.closeTarget", {"targetId": info["targetId"]})
            self.waited.append(1000 * (now - born))

    def close(self):
        self.devtools.close()


class ReferenceHolder:
    """Holds the first document request of every page opened by script that
    can reach its opener, as a program that decides before the request does,
    and lets it go the moment it arrives: what Chromium's own hold costs a
    kept pop-up, with no decision in it."""

    def __init__(self, port, path):
        self.held = {}  # session: the held page's target
        self.devtools = DevTools(port, path, self._event)
        self.devtools.call("Target.setAutoAttach",
                           {"autoAttach": True, "waitForDebuggerOnStart": True, "flatten": True})

    def _event(self, message, now):
        method, params = message.get("method"), message.get("params", {})
        if method == "Target.attachedToTarget":
            session, info = params["sessionId"], params["targetInfo"]
            if params.get("waitingForDebugger") and opened_by_script(info) and info.get("canAccessOpener"):
                self.held[session] = info["targetId"]
                self.devtools.post("Fetch.enable", {"patterns": [
                    {"urlPattern": "*", "resourceType": "Document", "requestStage": "Request"}]}, session)
            self.devtools.post("Runtime.runIfWaitingForDebugger", {}, session)
        elif method == "Fetch.requestPaused":
            session = message.get("sessionId")
            self.devtools.post("Fetch.continueRequest", {"requestId": params["requestId"]}, session)
            # Once its own first document has gone, the page is the browser's again.
            if session in self.held and params.get("frameId") == self.held[session]:
                del self.held[session]
                self.devtools.post("Fetch.disable", {}, session)
        elif method == "Target.detachedFromTarget":
            self.held.pop(params.get("sessionId"), None)

    def close(self):
        self.devtools.close()
