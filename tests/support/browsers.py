"""What the end-to-end scripts need of real browsers: the settings that keep a
test browser quiet, and a WebDriver BiDi client of their own, to tell whether
Firefox's one automation session is free."""
import base64
import json
import os
import socket

# What the program's own Firefox profile sets, and what a quiet test browser
# needs: pop-ups that pages open while loading reach the program instead of
# Firefox's own blocker, no first-run pages, and no pages of a killed run
# brought back.
FIREFOX_USER_JS = """user_pref("remote.prefs.recommended", false);
user_pref("dom.disable_open_during_load", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.disabledForTesting", true);
user_pref("browser.sessionstore.resume_from_crash", false);
"""

# A throw-away Chromium that opens what its pages ask for, with nothing of its
# own to fetch.
QUIET_CHROMIUM_FLAGS = ["--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                        "--disable-component-update", "--disable-sync", "--disable-default-apps",
                        "--disable-extensions", "--disable-dev-shm-usage", "--password-store=basic",
                        "--disable-popup-blocking"]


def write_firefox_prefs(profile):
    os.makedirs(profile, exist_ok=True)
    with open(os.path.join(profile, "user.js"), "w") as f:
        f.write(FIREFOX_USER_JS)


def recv_exactly(sock, buffer, size):
    while len(buffer) < size:
        chunk = sock.recv(65536)
        if not chunk:
            raise AssertionError("firefox closed the WebSocket")
        buffer += chunk
    return buffer[:size], buffer[size:]


def websocket_text_frame(text):
    """A masked text frame, as a client must send."""
    payload = text.encode()
    size = len(payload)
    header = bytes([0x81]) + (bytes([0x80 | size]) if size < 126 else bytes([0x80 | 126]) + size.to_bytes(2, "big"))
    mask = os.urandom(4)
    return header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def read_message(sock, buffer):
    head, buffer = recv_exactly(sock, buffer, 2)
    size = head[1] & 0x7F
    if size >= 126:
        extended, buffer = recv_exactly(sock, buffer, 2 if size == 126 else 8)
        size = int.from_bytes(extended, "big")
    payload, buffer = recv_exactly(sock, buffer, size)
    return payload, buffer


def new_bidi_session(port, timeout=10):
    """Asks Firefox for a session of our own, and ends it if given; returns
    Firefox's answer to session.new. A Firefox that is still starting up can
    take seconds to answer."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        key = base64.b64encode(os.urandom(16)).decode()
        sock.sendall((f"GET /session HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                      f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        buffer = b""
        while b"\r\n\r\n" not in buffer:
            _, buffer = recv_exactly(sock, buffer, len(buffer) + 1)
        head, buffer = buffer.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise AssertionError(f"firefox refused the WebSocket: {head!r}")
        sock.sendall(websocket_text_frame(json.dumps({"id": 1, "method": "session.new",
                                                     "params": {"capabilities": {}}})))
        while True:
            payload, buffer = read_message(sock, buffer)
            message = json.loads(payload)
            if message.get("id") == 1:
                if message.get("type") == "success":
                    # Answered before the socket goes: a session left behind
                    # would refuse every later client.
                    sock.sendall(websocket_text_frame(json.dumps({"id": 2, "method": "session.end", "params": {}})))
                    ended = None
                    while ended is None or ended.get("id") != 2:
                        payload, buffer = read_message(sock, buffer)
                        ended = json.loads(payload)
                return message
