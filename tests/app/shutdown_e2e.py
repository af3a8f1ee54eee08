#!/usr/bin/env python3
"""End to end: however the real program ends, the allowed list on disk is the
one it saved, and an ending nobody asked for in the window waits for nobody.

Each case starts the program on a private X server of its own, in a fresh
folder beside a hand-written "Whitelst.txt" (LF line ends, so that a save
shows as the program's CR LF), ends it its own way and checks the list on
disk, the options, the exit status and the failures reported on standard
error. It prints how long the program took to end: a figure, never a verdict.

  display-killed     the X server dies under the program: both saves run all the same
  options-unwritable run as an ordinary user with the options file read-only, SIGTERM: the list
                     is saved, the options' failure reported without a box
  viewer-stopped     the help viewer stopped (SIGSTOP): Help reports it, then SIGTERM saves
  stale-temporaries  a start removes a dead save's temporary files and keeps a living one's
  read-only-as-root  a "Whitelst.txt" without write bits is kept byte for byte, also from root
  full-disk          the list rewritten in place on a full tmpfs: "Disk full", the old file kept

usage: shutdown_e2e.py PROGRAM VIEWER HELP_FILE
As root it runs in a mount namespace of its own (unshare -m), where the full
disk is a small tmpfs; without one that case is skipped, saying so.
"""
import argparse
import dataclasses
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from typing import Callable, Optional

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from program import CAPTION, TITLE, Program, wait_for, windows_named  # noqa: E402
from xserver import start_x_server  # noqa: E402

NOBODY = 65534
HAND_WRITTEN = b"a.example\nb.example"
SAVED = b"a.example\r\nb.example\r\n"
OPTIONS_SAVED = ["[Options]", "Beep=1", "HideOnStart=0", "Menubar=0"]
OPTIONS_LEFT_BY_ROOT = b"[Options]\nBeep=0\nHideOnStart=1\nMenubar=0\n"
# The middle of the Help button (Command1 at 4560, 120, 855 x 255 twips).
HELP_BUTTON = (332, 16)
VIEWER_TITLE = "Tavro Popup Blocker Help"
INSIDE = "TAVRO_E2E_OWN_MOUNTS"


class Skip(Exception):
    pass


def options(program):
    with open(program.conf) as f:
        return [line.strip() for line in f if line.strip()]


def terminate(program, process, xvfb):
    began = time.monotonic()
    process.send_signal(signal.SIGTERM)
    return began


def kill_display(program, process, xvfb):
    began = time.monotonic()
    xvfb.kill()
    return began


# options-unwritable: a settings file left by a run as root, which the user may read only.
def leave_options_by_root(program):
    with open(program.conf, "wb") as f:
        f.write(OPTIONS_LEFT_BY_ROOT)
    os.chown(program.conf, 0, 0)
    os.chmod(program.conf, 0o444)


def options_left_as_they_were(program):
    with open(program.conf, "rb") as f:
        assert f.read() == OPTIONS_LEFT_BY_ROOT, "the options file changed"


# viewer-stopped
def viewer_pid(program):
    """The running viewer's process, from its lock file (its first line)."""
    try:
        with open(os.path.join(program.runtime, "tavro-help-viewer.lock")) as f:
            return int(f.readline())
    except (OSError, ValueError):
        return None


def click_help(window):
    subprocess.run(["xdotool", "mousemove", "--window", window, str(HELP_BUTTON[0]), str(HELP_BUTTON[1]),
                    "click", "1"], check=True, timeout=20)


def stop_viewer_then_terminate(program, process, xvfb):
    window = windows_named(CAPTION)[0]
    click_help(window)
    viewer = wait_for(lambda: windows_named(VIEWER_TITLE), "the help viewer showed no window")[0]
    # Without a window manager the viewer opens over the program's window.
    subprocess.run(["xdotool", "windowmove", "--sync", viewer, "400", "0"], check=True, timeout=20)
    os.kill(wait_for(lambda: viewer_pid(program), "the help viewer holds no lock"), signal.SIGSTOP)
    # The stopped viewer still takes the connection, and never answers.
    asked = time.monotonic()
    click_help(window)
    box = wait_for(lambda: windows_named(TITLE), "Help with the viewer stopped reported nothing", step=0.01)[0]
    print(f"  Help with the viewer stopped: its failure shown {1000 * (time.monotonic() - asked):.0f} ms "
          "after the click")
    subprocess.run(["xdotool", "windowfocus", "--sync", box, "key", "Return"], check=True, timeout=20)
    wait_for(lambda: not windows_named(TITLE), "the box stayed open")
    return terminate(program, process, xvfb)


# stale-temporaries: what saves killed midway left, and what a running one writes.
def leave_temporaries(program):
    dead = subprocess.Popen(["true"])
    dead.wait()
    program.dead = [f".Whitelst.txt.tmp-{dead.pid}-0", f".Whitelst.txt.bak.tmp-{dead.pid}-1"]
    program.living = [f".Whitelst.txt.tmp-{os.getpid()}-2"]
    for name in program.dead + program.living:
        with open(os.path.join(program.folder, name), "wb") as f:
            f.write(b"a.exam")


def check_temporaries_then_terminate(program, process, xvfb):
    names = set(os.listdir(program.folder))
    assert not names & set(program.dead), f"a dead save's temporary files stayed: {sorted(names)}"
    assert set(program.living) <= names, f"a running save's temporary file was removed: {sorted(names)}"
    return terminate(program, process, xvfb)


# read-only-as-root
def make_list_read_only(program):
    os.chmod(program.whitelist, 0o444)


def list_still_read_only(program):
    assert os.stat(program.whitelist).st_mode & 0o777 == 0o444, "the file's mode changed"


# full-disk: a tmpfs just big enough for the program and its list, filled up.
LONG_LIST = b"".join(b"name-%05d.long-enough.example\n" % i for i in range(5000))


def mount_small_disk(tmp, files):
    if os.environ.get(INSIDE) != "1":
        raise Skip("no mount namespace of its own (needs root and unshare -m)")
    folder = os.path.join(tmp, "program")
    os.makedirs(folder)
    size = sum(os.path.getsize(f) for f in files) + len(LONG_LIST) + (1 << 20)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", folder],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        raise Skip(f"cannot mount a tmpfs: {mounted.stderr.strip()}")
    return folder


def close_folder_and_fill_disk(program):
    # The folder takes no new file from the user, so the list is rewritten in place.
    os.chown(program.folder, 0, 0)
    with open(os.path.join(program.folder, "filler"), "wb", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * 4096)
        except OSError:
            pass
    os.chown(os.path.join(program.folder, "filler"), 0, 0)


def unmount(program):
    subprocess.run(["umount", "-l", program.folder], check=False)


@dataclasses.dataclass
class Case:
    name: str
    end: Callable
    status: int
    list_after: bytes
    report: Optional[str] = None  # a failure standard error must tell
    user: Optional[int] = None  # the program runs as root unless given
    hand_written: bytes = HAND_WRITTEN
    prepare: Callable = lambda program: None
    check: Callable = lambda program: None
    options_saved: bool = True
    with_help: bool = False
    own_folder: Optional[Callable] = None  # makes the program's folder in tmp
    tidy: Callable = lambda program: None


CASES = [
    Case("display-killed", kill_display, 1, SAVED),
    Case("options-unwritable", terminate, 1, SAVED, "Run-time error '75': The settings cannot be written to",
         user=NOBODY, prepare=leave_options_by_root, check=options_left_as_they_were, options_saved=False),
    Case("viewer-stopped", stop_viewer_then_terminate, 0, SAVED, with_help=True),
    # As an ordinary user, so that the living writer (this script, root) is one it may not signal.
    Case("stale-temporaries", check_temporaries_then_terminate, 0, SAVED, user=NOBODY, prepare=leave_temporaries),
    Case("read-only-as-root", terminate, 1, HAND_WRITTEN, "Run-time error '70': Permission denied",
         prepare=make_list_read_only, check=list_still_read_only),
    Case("full-disk", terminate, 1, LONG_LIST, "Run-time error '61': Disk full", user=NOBODY,
         hand_written=LONG_LIST, prepare=close_folder_and_fill_disk, own_folder=mount_small_disk, tidy=unmount),
]


def run(case, args, tmp):
    companions = (args.viewer, args.help_file) if case.with_help else ()
    folder = case.own_folder(tmp, (args.program, *companions)) if case.own_folder else None
    program = Program(args.program, tmp, folder=folder, companions=companions)
    xvfb = None
    try:
        with open(program.whitelist, "wb") as f:
            f.write(case.hand_written)
        if case.user is not None:
            program.give_to(case.user)
        case.prepare(program)
        xvfb, os.environ["DISPLAY"] = start_x_server()
        # Leaks are the sanitizer suites' business; an end inside the toolkit keeps everything.
        program.env.update(DISPLAY=os.environ["DISPLAY"], ASAN_OPTIONS="detect_leaks=0")
        # A file, not a pipe: the help viewer the program starts keeps its standard error open.
        errors = os.path.join(tmp, "stderr.txt")
        with open(errors, "w") as stderr:
            process = program.start(user=case.user, stderr=stderr)
        wait_for(lambda: windows_named(CAPTION), "the program showed no window")
        time.sleep(0.5)
        began = case.end(program, process, xvfb)
        status = process.wait(timeout=30)
        print(f"  ended {1000 * (time.monotonic() - began):.0f} ms after the ending began")
        with open(errors) as f:
            reported = f.read()
        sys.stdout.write("".join(f"  stderr: {line}\n" for line in reported.splitlines()))
        with open(program.whitelist, "rb") as f:
            saved = f.read()
        assert saved == case.list_after, f"the list on disk holds {saved[:60]!r}... ({len(saved)} bytes)"
        assert status == case.status, f"exit status {status}, expected {case.status}"
        if case.report:
            assert case.report in reported, f"standard error does not tell {case.report!r}"
        if case.options_saved:
            assert options(program) == OPTIONS_SAVED, f"options {options(program)}"
        if xvfb.poll() is None:
            assert not windows_named(TITLE), "a box was left on the screen"
        case.check(program)
    finally:
        program.stop_all()
        if viewer_pid(program):
            os.kill(viewer_pid(program), signal.SIGKILL)
        if xvfb is not None and xvfb.poll() is None:
            xvfb.terminate()
            xvfb.wait()
        case.tidy(program)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("program", "viewer", "help_file"):
        parser.add_argument(name, type=os.path.abspath)
    args = parser.parse_args()
    # The full disk is a tmpfs mounted where nobody else sees it.
    if os.environ.get(INSIDE) is None and os.geteuid() == 0 and shutil.which("unshare") and \
            subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0:
        os.environ[INSIDE] = "1"
        os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable, *sys.argv])
    os.environ.setdefault(INSIDE, "0")
    failed = []
    for case in CASES:
        print(f"{case.name}:")
        try:
            with tempfile.TemporaryDirectory(prefix="tavro-ending-") as tmp:
                run(case, args, tmp)
            print("  ok")
        except Skip as e:
            print(f"  SKIPPED: {e}")
        except AssertionError as e:
            print(f"  FAILED: {e}")
            failed.append(case.name)
    if failed:
        print(f"failed: {', '.join(failed)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
