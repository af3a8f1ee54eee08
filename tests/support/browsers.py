"""What the end-to-end scripts need of real browsers: the settings that keep a
test browser quiet, and a WebDriver BiDi client of their own, to tell whether
Firefox's one automation session is free."""
import json
import os

from websocket_client import WebSocket

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


def new_bidi_session(port, timeout=10):
    """Asks Firefox for a session of our own, and ends it if given; returns
    Firefox's answer to session.new. A Firefox that is still starting up can
    take seconds to answer."""
    ws = WebSocket(port, "/session", timeout)
    try:
        ws.send(json.dumps({"id": 1, "method": "session.new", "params": {"capabilities": {}}}))
        while True:
            message = json.loads(ws.receive())
            if message.get("id") == 1:
                if message.get("type") == "success":
                    # Answered before the socket goes: a session left behind
                    # would refuse every later client.
                    ws.send(json.dumps({"id": 2, "method": "session.end", "params": {}}))
                    while json.loads(ws.receive()).get("id") != 2:
                        pass
                return message
    finally:
        ws.close()
