"""The real program for the end-to-end scripts: a copy of it in a fresh folder
with a fresh user, the windows it shows on the private X server, and where
its controls sit in its window."""
import os
import shutil
import subprocess
import time

TITLE = "Tavro Popup Blocker"
CAPTION = "Tavro Popup Blocker Version 2.7"
HERE = os.path.dirname(os.path.abspath(__file__))
TWIPS_PER_PIXEL = 15


def px(twips):
    return (twips + TWIPS_PER_PIXEL // 2) // TWIPS_PER_PIXEL


# Window-relative points, from the window's design (twips): the middles of the
# buttons "Disable"/"Enable" (2160, 120, 975 x 255) and "Exit Program" (4080,
# 480, 1335 x 255); the boxes of chkHideOnStart and chkMenubar ("Aggressive
# Blocking (see Help)"), in Frame1 at (120, 840), at (240, 480) and (240, 720)
# in it; the first entry of lstBlockedUrls (240, 2160) and of lstWhiteList
# (inside Frame4 at 120, 3600; the list at 120, 240 in it).
CMD_ENABLE = (px(2160 + 975 // 2), px(120 + 255 // 2))
EXIT_BUTTON = (px(4080 + 1335 // 2), px(480 + 255 // 2))
HIDE_ON_START = (px(120 + 240) + 6, px(840 + 480) + 6)
AGGRESSIVE = (px(120 + 240) + 6, px(840 + 720) + 6)
FIRST_BLOCKED = (px(240) + 30, px(2160) + 7)
FIRST_ALLOWED = (px(120 + 120) + 30, px(3600 + 240) + 7)


def window_names():
    """Every visible top-level window id with its name."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                         capture_output=True, text=True).stdout.split()
    names = {}
    for wid in ids:
        name = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True, text=True).stdout
        names[wid] = name.rstrip("\n")
    return names


def wait_for(condition, what, timeout=20, step=0.2):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = condition()
        if found:
            return found
        time.sleep(step)
    raise AssertionError(f"{what} within {timeout} s")


def windows_named(name):
    return [wid for wid, n in window_names().items() if n == name]


def visible_windows(name_pattern):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name_pattern],
                          capture_output=True, text=True).stdout.split()


def wait_for_window(name_pattern, timeout=20):
    """The last visible window whose name matches the pattern."""
    return wait_for(lambda: visible_windows(name_pattern), f"no window named {name_pattern!r}", timeout)[-1]


def xdotool(*args, timeout=20):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True,
                          timeout=timeout).stdout.split()


def click(window, point, repeat=1):
    xdotool("mousemove", "--window", window, str(point[0]), str(point[1]))
    xdotool("click", "--repeat", str(repeat), "--delay", "80", "1")


def double_click(window, point):
    click(window, point, repeat=2)


def answer(box, key):
    """Answers the program's question box with a key (Return: its default
    button, Yes; Escape: No) and waits until it has gone."""
    xdotool("windowfocus", "--sync", box)
    xdotool("key", key)
    wait_for(lambda: box not in visible_windows(f"^{TITLE}$"), "the question stayed open", timeout=10)


class Program:
    """A copy of the program in a fresh folder with a fresh user. The folder is
    tmp/program unless given; companions (the help viewer, the help file) are
    copied beside the program."""

    def __init__(self, source, tmp, folder=None, companions=()):
        self.tmp = tmp
        self.folder = folder or os.path.join(tmp, "program")
        os.makedirs(self.folder, exist_ok=True)
        # A copy, not a link: the program keeps its files beside its real path.
        self.path = os.path.join(self.folder, os.path.basename(source))
        for file in (source, *companions):
            shutil.copy2(file, self.folder)
        self.runtime = os.path.join(tmp, "runtime")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.config = os.path.join(tmp, "config")
        os.makedirs(self.config, exist_ok=True)
        self.conf = os.path.join(self.config, TITLE + ".conf")
        self.whitelist = os.path.join(self.folder, "Whitelst.txt")
        self.env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=self.config, XDG_RUNTIME_DIR=self.runtime,
                        XDG_DATA_HOME=os.path.join(tmp, "data"), QT_QPA_PLATFORM="xcb")
        # Leaks that Qt's system libraries keep to the end are theirs.
        self.env["LSAN_OPTIONS"] = f"suppressions={HERE}/../lsan.supp:print_suppressions=0"
        self.processes = []

    def give_to(self, uid):
        """Makes the test's folders and files, the program's own among them,
        another user's, so that the program can run as that user."""
        for root, folders, files in os.walk(self.tmp):
            for name in [root, *(os.path.join(root, f) for f in folders + files)]:
                os.chown(name, uid, uid, follow_symlinks=False)

    def start(self, user=None, **popen_args):
        """The program, as root or as the user id given, with no group of root's."""
        if user is not None:
            popen_args.update(user=user, group=user, extra_groups=[])
        p = subprocess.Popen([self.path], cwd=self.tmp, env=self.env, **popen_args)
        self.processes.append(p)
        return p

    def stop_all(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
                p.wait()
