#!/usr/bin/env python3
"""End to end, as root: scripts/install.sh --all-users, then a real Chromium and
Firefox ESR, each on a brand-new profile and with no extension on its command
line, get the extension from the machine's policy; it starts the machine-wide
host, reaches the program a user installed for themself, and a pop-up is
closed while one from an allowed domain is kept. scripts/uninstall.sh
--all-users then leaves the machine's policy, host and state folders exactly
as they were before. Whatever fails, they are put back as they were.

Besides the profile, the browsers are given only what a test on a private X
server as root needs: Chromium no sandbox and neither browser's own pop-up
blocker, which would stop the test's pop-ups first.

usage: all_users_e2e.py SOURCE BUILD
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "extension")]
from installed import hosts_of  # noqa: E402
from program import wait_for  # noqa: E402
from program_extension_e2e import CASES, CHROMIUM_PLACE, Run, run_case  # noqa: E402
from xserver import start_x_server  # noqa: E402

WATCHED = ("/etc/chromium", "/etc/opt", "/etc/brave", "/etc/firefox", "/usr/lib/mozilla",
           "/usr/local/lib/tavro-popup-blocker", "/usr/local/share/tavro-popup-blocker", "/var/lib/tavro-popup-blocker")
SYSTEM_HOST = "/usr/local/lib/tavro-popup-blocker"


def snapshot():
    """Each watched path and everything below it: kind, owner, mode and what it holds."""
    found = {}
    for top in WATCHED:
        for base, dirs, names in os.walk(top) if os.path.isdir(top) else ():
            for p in [base] + [os.path.join(base, n) for n in names + [d for d in dirs if os.path.islink(
                    os.path.join(base, d))]]:
                info = os.lstat(p)
                held = os.readlink(p) if os.path.islink(p) else open(p, "rb").read() if os.path.isfile(p) else None
                found[p] = (info.st_mode, info.st_uid, info.st_gid, held)
    return found


def restore(before):
    """Puts the watched folders back as they were: what came is removed, what changed is rewritten."""
    now = snapshot()
    for p in sorted(set(now) - set(before), reverse=True):
        shutil.rmtree(p) if os.path.isdir(p) and not os.path.islink(p) else os.unlink(p)
    for p, (mode, uid, gid, held) in sorted(before.items()):
        if now.get(p) == before[p] or os.path.islink(p) or held is None and os.path.isdir(p):
            continue
        if held is None:
            os.makedirs(p, exist_ok=True)
        else:
            with open(p, "wb") as f:
                f.write(held)
        os.chown(p, uid, gid)
        os.chmod(p, mode & 0o7777)


class FreshProfileRun(Run):
    """The browser as a user starts it, on a profile of its own, with nothing of the extension in hand."""

    def start_browser(self):
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.installed.home)
        if self.family == "chromium":
            command = ["chromium", f"--user-data-dir={profile}", "--no-sandbox", "--no-first-run",
                       "--disable-popup-blocking", "--ozone-platform=x11", "--disable-gpu", *CHROMIUM_PLACE]
        else:
            with open(os.path.join(profile, "user.js"), "w") as f:
                f.write('user_pref("dom.disable_open_during_load", false);\n')
            # The user's own manifest would name the user's own host: the machine's must do.
            os.unlink(os.path.join(self.installed.home, ".mozilla", "native-messaging-hosts",
                                   "tavro_popup_blocker.json"))
            command = ["firefox-esr", "--profile", profile, "--no-remote"]
        self.browser = subprocess.Popen([*command, self.pages.start_url()], env=self.env, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        wait_for(lambda: hosts_of(SYSTEM_HOST), "the policy's extension never started the machine's host",
                 timeout=90)


def run_family(family, source, build, home):
    run = FreshProfileRun(family, source, build, home)
    try:
        run.start_program()
        run.start_browser()
        for case in (c for c in CASES if c.name in ("cross-site", "allowed domain")):
            print(f"{family}: {case.name}: {run_case(run, case)}")
        run.stop_browser()
        wrong = run.exit_program()
        assert not wrong, wrong
    finally:
        run.stop()


def script(source, name):
    done = subprocess.run([os.path.join(source, "scripts", name), "--all-users", *(
        ["--from-build", BUILD] if name == "install.sh" else [])], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, f"{name} --all-users failed:\n{done.stdout}{done.stderr}"
    return done.stderr


def main():
    global BUILD
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, BUILD = (os.path.abspath(a) for a in sys.argv[1:3])
    if os.geteuid() != 0:
        print("all_users_e2e: skipped: the machine-wide install is root's")
        return 77
    before = snapshot()
    xvfb, os.environ["DISPLAY"] = start_x_server()
    try:
        print(script(source, "install.sh"), end="")
        for family in ("chromium", "firefox"):
            with tempfile.TemporaryDirectory(prefix="tavro-all-users-") as home:
                run_family(family, source, BUILD, home)
        print(script(source, "uninstall.sh"), end="")
        changed = sorted(p for p in set(snapshot()) | set(before) if snapshot().get(p) != before.get(p))
        assert not changed, f"the uninstall left the machine changed: {changed}"
    except AssertionError as e:
        print(f"all_users_e2e: {e}", file=sys.stderr)
        return 1
    finally:
        xvfb.terminate()
        xvfb.wait()
        if snapshot() != before:
            subprocess.run([os.path.join(source, "scripts", "uninstall.sh"), "--all-users"], capture_output=True)
            restore(before)
            assert snapshot() == before, "the machine's folders could not be put back"
    print("all_users_e2e: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
