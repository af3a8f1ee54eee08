#!/usr/bin/env python3
"""The web browsers installed on this machine, found by their executables, and
how each is told of the browser extension's host.

  browsers.py list [--share DIR]
      one line per browser found, in the format below
  browsers.py user-install --share DIR
      the host's manifest into the per-user folder of each browser found,
      the folder made if need be; says what a browser that cannot be
      protected this way needs instead
  browsers.py user-uninstall --host PATH [--folder DIR]...
      removes the per-user manifests that name that host, and no others
  browsers.py guide --share DIR [--dry-run]
      for each browser whose profile lacks the extension, its shortest route:
      a Chromium-family browser opened on the three steps that add it from its
      extensions page, with the folder to load in the clipboard (the browser
      opens its own pages from its address bar alone); Firefox ESR, Developer
      Edition or Nightly
      opened on the .xpi; for Firefox release, where a signed build comes
      from. Exit status 0 when it opened a browser, 1 when it opened none
  browsers.py all-users-install --stage DIR    (as root)
  browsers.py all-users-uninstall              (as root)
      every profile of every user, with no click: see scripts/install.sh --all-users

DIR in --share is the per-user install's share/tavro-popup-blocker folder;
--stage is a folder that `cmake --install` filled, whose host, extension and
.xpi are installed machine-wide.

Format of `list`: one line per browser, six fields separated by tabs, in the
order of KINDS below; a browser installed in two ways (a package and a snap)
has a line for each:

  FAMILY     chromium, chrome, chrome-beta, chrome-unstable, brave, edge,
             vivaldi, firefox, firefox-esr, firefox-developer, firefox-nightly
             or librewolf
  HOW        package, snap or flatpak
  EXECUTABLE the path that starts it (for a Flatpak, its exported command)
  IDS        the extension ids its host manifest allows, comma-separated: the
             chrome-extension ids for a Chromium-family browser, the gecko id
             for a Firefox
  ROUTE      policy       the machine's policy adds the extension to every
                          profile, and a machine-wide host manifest names the host
             user         the user's own host manifest names the host; the
                          extension is added in the browser by hand
             none         no host manifest names the host yet
             unsupported  the browser cannot start the host (a snap Chromium,
                          a Flatpak)
  ACTION     one sentence: what would protect it

$TAVRO_ROOT, when set, is a folder that stands for / (tests).
"""
import argparse
import base64
import hashlib
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
from dataclasses import dataclass

HOST_NAME = "tavro_popup_blocker"
HOST_PROGRAM = "tavro-popup-blocker-host"
# What every machine-wide file is called, so that it is told apart from
# other software's at a glance and removed by name.
OWN_NAME = HOST_NAME + ".json"
FIREFOX_POLICIES = "policies.json"
# Machine-wide places, below $TAVRO_ROOT.
SYSTEM_PROGRAM = "/usr/local/lib/tavro-popup-blocker"
SYSTEM_SHARE = "/usr/local/share/tavro-popup-blocker"
# The CRX's signing key and the list of what was written: root's alone.
SYSTEM_STATE = "/var/lib/tavro-popup-blocker"


@dataclass(frozen=True)
class Kind:
    family: str
    engine: str  # "chromium" or "firefox"
    commands: tuple  # names looked up in the PATH and in /usr/bin
    paths: tuple  # where its package puts it outside the PATH
    user_folder: str  # below HOME: a Chromium's user data folder, a Firefox's host folder's parent
    policies: str = ""  # the machine-wide managed policy folder
    system_hosts: str = ""  # the machine-wide host manifest folder
    flatpak: str = ""  # the Flatpak application id
    snap: str = ""  # the snap's name


KINDS = (
    Kind("chromium", "chromium", ("chromium", "chromium-browser"), ("/usr/lib/chromium/chromium",),
         ".config/chromium", "/etc/chromium/policies/managed", "/etc/chromium/native-messaging-hosts",
         "org.chromium.Chromium", "chromium"),
    Kind("chrome", "chromium", ("google-chrome-stable", "google-chrome"), ("/opt/google/chrome/chrome",),
         ".config/google-chrome", "/etc/opt/chrome/policies/managed", "/etc/opt/chrome/native-messaging-hosts",
         "com.google.Chrome"),
    Kind("chrome-beta", "chromium", ("google-chrome-beta",), ("/opt/google/chrome-beta/chrome",),
         ".config/google-chrome-beta", "/etc/opt/chrome/policies/managed", "/etc/opt/chrome/native-messaging-hosts"),
    Kind("chrome-unstable", "chromium", ("google-chrome-unstable",), ("/opt/google/chrome-unstable/chrome",),
         ".config/google-chrome-unstable", "/etc/opt/chrome/policies/managed",
         "/etc/opt/chrome/native-messaging-hosts", "com.google.ChromeDev"),
    # Brave reads Chrome's machine-wide host folder, and policies of its own.
    Kind("brave", "chromium", ("brave-browser", "brave-browser-stable"), ("/opt/brave.com/brave/brave",),
         ".config/BraveSoftware/Brave-Browser", "/etc/brave/policies/managed",
         "/etc/opt/chrome/native-messaging-hosts", "com.brave.Browser"),
    Kind("edge", "chromium", ("microsoft-edge-stable", "microsoft-edge"), ("/opt/microsoft/msedge/msedge",),
         ".config/microsoft-edge", "/etc/opt/edge/policies/managed", "/etc/opt/edge/native-messaging-hosts",
         "com.microsoft.Edge"),
    Kind("vivaldi", "chromium", ("vivaldi-stable", "vivaldi"), ("/opt/vivaldi/vivaldi",), ".config/vivaldi",
         flatpak="com.vivaldi.Vivaldi"),
    # Every Firefox reads /etc/firefox/policies; only those that take an
    # unsigned extension are given a policy there.
    Kind("firefox", "firefox", ("firefox",), ("/usr/lib/firefox/firefox", "/opt/firefox/firefox"), ".mozilla",
         system_hosts="/usr/lib/mozilla/native-messaging-hosts", flatpak="org.mozilla.firefox", snap="firefox"),
    Kind("firefox-esr", "firefox", ("firefox-esr",), ("/usr/lib/firefox-esr/firefox-esr",), ".mozilla",
         "/etc/firefox/policies", "/usr/lib/mozilla/native-messaging-hosts"),
    Kind("firefox-developer", "firefox", ("firefox-developer-edition", "firefox-devedition"),
         ("/opt/firefox-developer-edition/firefox",), ".mozilla", system_hosts="/usr/lib/mozilla/native-messaging-hosts"),
    Kind("firefox-nightly", "firefox", ("firefox-nightly",), ("/opt/firefox-nightly/firefox",), ".mozilla",
         system_hosts="/usr/lib/mozilla/native-messaging-hosts"),
    Kind("librewolf", "firefox", ("librewolf",), ("/usr/share/librewolf/librewolf",), ".librewolf",
         flatpak="io.gitlab.librewolf-community"),
)

# A Firefox of Mozilla's own build names its channel beside itself; the
# channel, not the command's name, tells a Developer Edition or a Nightly.
CHANNEL_FAMILY = {"aurora": "firefox-developer", "nightly": "firefox-nightly", "esr": "firefox-esr"}


@dataclass
class Found:
    kind: Kind
    how: str
    executable: str

    @property
    def family(self):
        return self.kind.family


class Machine:
    """The machine's folders, below a root that is / but in tests."""

    def __init__(self, root=None, home=None):
        self.root = root if root is not None else os.environ.get("TAVRO_ROOT", "")
        self.home = home or os.environ["HOME"]

    def path(self, absolute):
        return self.root + absolute if self.root else absolute

    def outside(self, path):
        """The path as the browsers see it, with the root taken off."""
        return path[len(self.root):] if self.root and path.startswith(self.root) else path

    def in_home(self, relative):
        return os.path.join(self.home, relative)

    def search_path(self):
        folders = [] if self.root else os.environ.get("PATH", "").split(os.pathsep)
        for folder in ("/usr/local/bin", "/usr/bin", "/bin"):
            if folder not in folders:
                folders.append(folder)
        return [f if self.root == "" else self.path(f) for f in folders if f]


def executable(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def small_script(path):
    try:
        if os.path.getsize(path) > 4096:
            return b""
        with open(path, "rb") as f:
            text = f.read()
        return text if text.startswith(b"#!") else b""
    except OSError:
        return b""


def wrapper(path):
    """Ubuntu's /usr/bin/firefox and /usr/bin/chromium-browser are small
    scripts that start the snap, and Debian's /usr/bin/firefox one that starts
    firefox-esr: the browser is the one they start, found by its own name."""
    text = small_script(path)
    return b"/snap/bin/" in text or b"exec firefox-esr" in text


def firefox_channel(path):
    folder = os.path.dirname(os.path.realpath(path))
    try:
        with open(os.path.join(folder, "defaults", "pref", "channel-prefs.js")) as f:
            text = f.read()
    except OSError:
        return ""
    for channel in CHANNEL_FAMILY:
        if f'"{channel}"' in text:
            return channel
    return ""


def find(machine):
    """Every browser installed, by its executable, in the order of KINDS."""
    by_family = {k.family: k for k in KINDS}
    found = {}

    def add(kind, how, path):
        found.setdefault((kind.family, how), Found(kind, how, machine.outside(path)))

    for kind in KINDS:
        if kind.snap:
            snap = machine.path(f"/snap/bin/{kind.snap}")
            if executable(snap):
                add(kind, "snap", snap)
        candidates = [os.path.join(folder, name) for name in kind.commands for folder in machine.search_path()]
        candidates += [machine.path(p) for p in kind.paths]
        for path in candidates:
            if not executable(path) or wrapper(path):
                continue
            real = kind
            if kind.family == "firefox":
                real = by_family.get(CHANNEL_FAMILY.get(firefox_channel(path), ""), kind)
            add(real, "package", path)
            break
        if kind.flatpak:
            for base in (machine.path("/var/lib/flatpak"), machine.in_home(".local/share/flatpak")):
                if os.path.isdir(os.path.join(base, "app", kind.flatpak)):
                    add(kind, "flatpak", os.path.join(base, "exports", "bin", kind.flatpak))
                    break
    order = {k.family: i for i, k in enumerate(KINDS)}
    return sorted(found.values(), key=lambda f: (order[f.family], f.how))


# --- what the extension is called ---------------------------------------------


def chromium_id(der):
    """Chromium's id for a public key: the first 128 bits of its SHA-256, one
    hexadecimal digit a letter from a to p."""
    digest = hashlib.sha256(der).hexdigest()[:32]
    return "".join(chr(ord("a") + int(digit, 16)) for digit in digest)


def read_lines(path):
    try:
        with open(path) as f:
            return [line.strip() for line in f if line.strip() and not line.startswith("#")]
    except OSError:
        return []


class Extension:
    """The extension as one install holds it: the unpacked folder, the .xpi,
    and the ids a host manifest allows."""

    def __init__(self, share, machine):
        self.share = share
        with open(os.path.join(share, "extension", "manifest.json")) as f:
            manifest = json.load(f)
        self.version = manifest["version"]
        self.gecko_id = manifest["browser_specific_settings"]["gecko"]["id"]
        ids = [chromium_id(base64.b64decode(manifest["key"]))]
        # The ids of stores that publish it, listed in a file rather than in code;
        # the machine-wide CRX's, made at install, too.
        ids += read_lines(os.path.join(share, "extension-ids.txt"))
        ids += read_lines(machine.path(SYSTEM_SHARE + "/extension-id"))
        self.chromium_ids = list(dict.fromkeys(ids))

    @property
    def folder(self):
        return os.path.join(self.share, "extension")

    @property
    def xpi(self):
        return os.path.join(self.share, "tavro-popup-blocker.xpi")

    def ids_for(self, kind):
        return self.chromium_ids if kind.engine == "chromium" else [self.gecko_id]

    def host_manifest(self, kind, host):
        """The manifest, as JSON, so that a path with spaces or quotes stays one."""
        manifest = {"name": HOST_NAME, "description": "Tavro Popup Blocker", "path": host, "type": "stdio"}
        if kind.engine == "chromium":
            manifest["allowed_origins"] = [f"chrome-extension://{i}/" for i in self.chromium_ids]
        else:
            manifest["allowed_extensions"] = [self.gecko_id]
        return json.dumps(manifest, indent=2, ensure_ascii=False) + "\n"


def user_host_folder(machine, kind):
    base = machine.in_home(kind.user_folder)
    if kind.engine == "chromium":
        if kind.user_folder.startswith(".config/"):
            config = os.environ.get("XDG_CONFIG_HOME", "")
            if config.startswith("/"):
                base = os.path.join(config, kind.user_folder[len(".config/"):])
        return os.path.join(base, "NativeMessagingHosts")
    return os.path.join(base, "native-messaging-hosts")


def names_host(path, host=None):
    try:
        with open(path) as f:
            manifest = json.load(f)
    except (OSError, ValueError):
        return False
    return manifest.get("name") == HOST_NAME and (host is None or manifest.get("path") == host)


# --- one browser's situation --------------------------------------------------


def route(machine, found):
    kind = found.kind
    if found.how == "flatpak" or (found.how == "snap" and kind.engine == "chromium"):
        return "unsupported"
    if kind.system_hosts and kind.policies and os.path.exists(
            os.path.join(machine.path(kind.policies), OWN_NAME if kind.engine == "chromium" else FIREFOX_POLICIES)) \
            and names_host(os.path.join(machine.path(kind.system_hosts), OWN_NAME)):
        ledger = Ledger(machine)
        if kind.engine == "chromium" or kind.policies + "/" + FIREFOX_POLICIES in ledger.files and \
                ledger.ours(kind.policies + "/" + FIREFOX_POLICIES):
            return "policy"
    if names_host(os.path.join(user_host_folder(machine, kind), OWN_NAME)):
        return "user"
    return "none"


def action(found, route_taken):
    kind = found.kind
    if route_taken == "policy":
        return "nothing to do: the machine's policy adds the extension to every profile"
    if found.how == "flatpak":
        return ("a Flatpak cannot start the host unless it is copied into ~/.var/app/"
                f"{kind.flatpak}/ and the program's socket is shared with the sandbox; "
                "use the browser's Debian package, or the guarded browser \"Chromium (Tavro Popup Blocker)\"")
    if found.how == "snap" and kind.engine == "chromium":
        return ("the snap cannot start the host; use the guarded browser \"Chromium (Tavro Popup Blocker)\", "
                "or Debian's chromium package")
    if kind.family == "firefox":
        # Mozilla's own builds, the snap among them, refuse an unsigned extension whatever a policy says.
        return "needs the extension signed by addons.mozilla.org; until then, use Firefox ESR or Chromium"
    if route_taken == "none":
        return "run scripts/install.sh (for you) or scripts/install.sh --all-users (as root, for everyone)"
    if kind.engine == "chromium":
        return ("load the extension folder in its extensions page with \"Developer mode\" on, "
                "or run scripts/install.sh --all-users as root")
    if kind.family == "firefox-esr":
        return ("open the .xpi in it (xpinstall.signatures.required false), "
                "or run scripts/install.sh --all-users as root")
    return "open the .xpi in it, with xpinstall.signatures.required false"


def print_list(machine, share):
    ids = None
    if share:
        ids = Extension(share, machine)
    for found in find(machine):
        taken = route(machine, found)
        shown = ",".join(ids.ids_for(found.kind)) if ids else "-"
        fields = (found.family, found.how, found.executable, shown, taken, action(found, taken))
        print("\t".join(f.replace("\t", " ").replace("\n", " ") for f in fields))


# --- for one user -------------------------------------------------------------


def write_file(path, data, mode=0o644):
    """Written beside and renamed into place, so that a browser reading it
    while it runs sees the old file or the new one, never half of one."""
    folder = os.path.dirname(path)
    fd, temporary = tempfile.mkstemp(prefix=".tavro-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def user_install(machine, share):
    extension = Extension(share, machine)
    host = os.path.join(os.path.dirname(os.path.dirname(share)), "lib", "tavro-popup-blocker", HOST_PROGRAM)
    # The guarded browser's copies too, written here so that they are proper JSON whatever the path.
    for engine, name in (("chromium", "native-messaging-chromium.json"), ("firefox", "native-messaging-firefox.json")):
        kind = next(k for k in KINDS if k.engine == engine)
        write_file(os.path.join(share, name), extension.host_manifest(kind, host))
    told, advice = [], []
    for found in find(machine):
        kind = found.kind
        taken = route(machine, found)
        if taken == "unsupported":
            advice.append(f"{found.family} ({found.how}): {action(found, taken)}")
            continue
        folder = user_host_folder(machine, kind)
        if folder in told:
            continue
        # A browser that never ran has no folder yet; it takes the one made here as its own.
        os.makedirs(os.path.dirname(folder), mode=0o700, exist_ok=True)
        os.makedirs(folder, exist_ok=True)
        write_file(os.path.join(folder, OWN_NAME), extension.host_manifest(kind, host))
        told.append(folder)
        if found.family == "firefox":
            advice.append(f"firefox: {action(found, taken)}")
    for line in told:
        print(f"host\t{line}")
    for line in advice:
        print(f"advice\t{line}")
    return 0


def user_uninstall(machine, host, more=()):
    folders = dict.fromkeys([user_host_folder(machine, k) for k in KINDS] + list(more))
    for folder in folders:
        path = os.path.join(folder, OWN_NAME)
        if names_host(path, host):
            os.unlink(path)
            # Folders the install made for a browser that never ran go too.
            empty = folder
            while empty.startswith(machine.home + "/"):
                try:
                    os.rmdir(empty)
                except OSError:
                    break
                empty = os.path.dirname(empty)
    return 0


# --- guided setup -------------------------------------------------------------


def has_extension(machine, found, extension):
    """Whether a profile of the browser holds the extension already."""
    kind = found.kind
    ids = extension.ids_for(kind)
    if kind.engine == "chromium":
        base = os.path.dirname(user_host_folder(machine, kind))
        names = ("Preferences", "Secure Preferences")
        files = [os.path.join(base, p, n) for p in safe_listdir(base) for n in names]
    else:
        files = [os.path.join(p, "extensions.json") for p in firefox_profiles(machine, found)]
    for path in files:
        try:
            with open(path, errors="replace") as f:
                text = f.read()
        except OSError:
            continue
        if any(i in text for i in ids):
            return True
    return False


def safe_listdir(folder):
    try:
        return sorted(os.listdir(folder))
    except OSError:
        return []


def to_clipboard(text):
    tools = [["xclip", "-selection", "clipboard"], ["xsel", "--clipboard", "--input"]]
    if os.environ.get("WAYLAND_DISPLAY"):
        tools.insert(0, ["wl-copy"])
    for tool in tools:
        if shutil.which(tool[0]):
            try:
                # The tool stays to serve the clipboard: not waited for.
                p = subprocess.Popen(tool, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
                p.stdin.write(text.encode())
                p.stdin.close()
                return True
            except OSError:
                continue
    return False


def start_detached(command):
    subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True)


def firefox_profile_folders(machine, found):
    """Where the browser keeps its profiles: Firefox in ~/.mozilla/firefox
    or, since it moved to the XDG folders, below ~/.config/mozilla."""
    kind = found.kind
    if kind.user_folder != ".mozilla":
        return [machine.in_home(kind.user_folder)]
    config = os.environ.get("XDG_CONFIG_HOME", "")
    config = config if config.startswith("/") else machine.in_home(".config")
    folders = [machine.in_home(".mozilla/firefox"), os.path.join(config, "mozilla", "firefox")]
    if found.how == "snap":
        folders.append(machine.in_home("snap/firefox/common/.mozilla/firefox"))
    return folders


def firefox_profiles(machine, found):
    return [os.path.join(b, p) for b in firefox_profile_folders(machine, found) for p in safe_listdir(b)
            if os.path.isfile(os.path.join(b, p, "prefs.js"))]


def in_use(profile):
    """Whether a Firefox runs on the profile: its lock names a process that
    lives. A Firefox that ended in haste, headless among them, leaves it behind."""
    try:
        pid = int(os.readlink(os.path.join(profile, "lock")).rsplit("+", 1)[1])
        os.kill(pid, 0)
        return True
    except (OSError, ValueError, IndexError):
        return False


def allow_unsigned(machine, found):
    """Lets the user's profiles take the unsigned .xpi, as about:config would.
    False when a profile in use must first be closed: Firefox reads user.js at its start."""
    profiles = firefox_profiles(machine, found)
    if not profiles:
        # A Firefox that never ran makes its profile, headless, and is gone again.
        with tempfile.TemporaryDirectory() as shot:
            try:
                subprocess.run([found.executable, "--headless", "--screenshot", os.path.join(shot, "s.png"),
                                "about:blank"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=60)
            except (OSError, subprocess.TimeoutExpired):
                pass
        profiles = firefox_profiles(machine, found)
    running = False
    for profile in profiles:
        user_js = os.path.join(profile, "user.js")
        try:
            with open(user_js) as f:
                known = '"xpinstall.signatures.required"' in f.read()
        except OSError:
            known = False
        if not known:
            with open(user_js, "a") as f:
                f.write('user_pref("xpinstall.signatures.required", false);\n')
            running |= in_use(profile)
    return bool(profiles) and not running


def write_steps(share, name, steps, extension):
    from html import escape
    path = os.path.join(share, "add-the-extension.html")
    items = "".join(f"<li>{escape(s)}</li>" for s in steps)
    write_file(path, f"""<!doctype html><meta charset="utf-8"><title>Tavro Popup Blocker: add the extension</title>
<body style="font: 16px sans-serif; max-width: 40em; margin: 2em auto">
<h1>Add Tavro Popup Blocker to {escape(name)}</h1><ol>{items}</ol>
<p>The folder: <code>{escape(extension.folder)}</code></p>
<p>The extension then stays in this profile and reaches the program whenever it runs.</p>
""")
    return path


EXTENSIONS_PAGE = {"brave": "brave://extensions", "edge": "edge://extensions", "vivaldi": "vivaldi://extensions"}
NAMES = {"chromium": "Chromium", "chrome": "Chrome", "chrome-beta": "Chrome Beta",
         "chrome-unstable": "Chrome Unstable", "brave": "Brave", "edge": "Edge", "vivaldi": "Vivaldi",
         "firefox": "Firefox", "firefox-esr": "Firefox ESR", "firefox-developer": "Firefox Developer Edition",
         "firefox-nightly": "Firefox Nightly", "librewolf": "LibreWolf"}


def guide(machine, share, dry_run=False):
    extension = Extension(share, machine)
    display = os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")
    copied = None
    opened = False
    for found in find(machine):
        name = NAMES[found.family]
        taken = route(machine, found)
        if taken == "policy" or (taken != "unsupported" and has_extension(machine, found, extension)):
            continue
        if taken == "unsupported":
            print(f"{name} ({found.how}): {action(found, taken)}.")
        elif found.family == "firefox":
            print(f"{name}: Mozilla's own Firefox installs only extensions that addons.mozilla.org signed. "
                  "Once Tavro Popup Blocker is published there, add it from its page there; "
                  "until then, use Firefox ESR or Chromium.")
        elif found.kind.engine == "chromium":
            if copied is None:
                copied = not dry_run and to_clipboard(extension.folder)
            page = EXTENSIONS_PAGE.get(found.family, "chrome://extensions")
            steps = [f"go to {page} and turn on \"Developer mode\" at the top right;", "click \"Load unpacked\";",
                     "press Ctrl+L and Ctrl+V (the folder is in the clipboard), then click \"Open\"." if copied
                     else f"choose the folder {extension.folder}, then click \"Open\"."]
            # The browser opens its own pages from its address bar alone: it
            # is opened on a page of these steps instead.
            if display and not dry_run:
                start_detached([machine.path(found.executable), file_url(write_steps(share, name, steps, extension))])
                opened = True
            print(f"{name}: add the extension {extension.folder} to it:\n" +
                  "".join(f"  {n}. {step}\n" for n, step in enumerate(steps, 1)), end="")
        else:
            ready = dry_run or allow_unsigned(machine, found)
            if not ready:
                print(f"{name} is running: close it and run this again, and it opens the extension to add.")
                continue
            if display and not dry_run:
                start_detached([machine.path(found.executable), extension.xpi])
                opened = True
            print(f"{name}: {'opened on' if display and not dry_run else 'open'} {extension.xpi}; "
                  "click \"Add\", and allow its access to all websites when asked.")
    return 0 if opened else 1


# --- for every user ----------------------------------------------------------


class Refused(Exception):
    pass


def check_folder(machine, folder):
    """Refuses a machine-wide folder that someone other than root could change
    what it holds: ours would then be theirs to rewrite, and a policy theirs to
    set. Each part of the path is checked, as a link anywhere would lead elsewhere."""
    parts = folder.strip("/").split("/")
    for n in range(1, len(parts) + 1):
        shown = "/" + "/".join(parts[:n])
        path = machine.path(shown)
        try:
            info = os.lstat(path)
        except FileNotFoundError:
            return
        if stat.S_ISLNK(info.st_mode):
            raise Refused(f"{shown} is a symbolic link; a policy written there would land in "
                          f"{os.path.realpath(path)}, which this install does not own")
        if not stat.S_ISDIR(info.st_mode):
            raise Refused(f"{shown} is no folder")
        if info.st_uid != 0:
            raise Refused(f"{shown} belongs to {user_name(info.st_uid)}, not to root, who could change "
                          "what the browsers read there")
        if info.st_mode & stat.S_IWOTH:
            raise Refused(f"{shown} is writable by every user, any of whom could change what the browsers read there")
        if info.st_mode & stat.S_IWGRP and info.st_gid != 0:
            raise Refused(f"{shown} is writable by the group {group_name(info.st_gid)}, whose members could "
                          "change what the browsers read there")


def user_name(uid):
    import pwd
    try:
        return f"the user {pwd.getpwuid(uid).pw_name}"
    except KeyError:
        return f"the user {uid}"


def group_name(gid):
    import grp
    try:
        return grp.getgrgid(gid).gr_name
    except KeyError:
        return str(gid)


def digest(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


class Ledger:
    """What the machine-wide install wrote, for its removal: each file with the
    digest of what it held, and each folder it made."""

    def __init__(self, machine):
        self.machine = machine
        self.path = machine.path(SYSTEM_STATE + "/installed.json")
        try:
            with open(self.path) as f:
                saved = json.load(f)
        except (OSError, ValueError):
            saved = {}
        self.files = saved.get("files", {})
        self.folders = saved.get("folders", [])

    def exists(self):
        return os.path.exists(self.path)

    def make_folder(self, folder, mode=0o755):
        """Makes the folder and those above it that are missing, remembering each."""
        missing = []
        shown = folder
        while not os.path.lexists(self.machine.path(shown)):
            missing.append(shown)
            shown = os.path.dirname(shown)
        for made in reversed(missing):
            os.mkdir(self.machine.path(made), mode)
            os.chmod(self.machine.path(made), mode)
            if made not in self.folders:
                self.folders.append(made)

    def write(self, shown, data, mode=0o644):
        self.make_folder(os.path.dirname(shown))
        write_file(self.machine.path(shown), data, mode)
        self.files[shown] = digest(self.machine.path(shown))
        self.save()

    def ours(self, shown):
        """Whether the file holds what this install wrote there, or is not there."""
        now = digest(self.machine.path(shown))
        return now is None or self.files.get(shown) == now

    def save(self):
        self.make_folder(SYSTEM_STATE, 0o700)
        write_file(self.path, json.dumps({"files": self.files, "folders": self.folders}, indent=1) + "\n", 0o600)


def make_key(machine, ledger):
    """The CRX's signing key, made once and kept, so that an upgrade keeps the
    extension's id; root's alone from the start."""
    key = machine.path(SYSTEM_STATE + "/extension-key.pem")
    if not os.path.exists(key):
        ledger.make_folder(SYSTEM_STATE, 0o700)
        old = os.umask(0o077)
        try:
            subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                            "-out", key], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        finally:
            os.umask(old)
    os.chmod(key, 0o600)
    der = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return key, chromium_id(der)


def pack_crx(packer, extension_folder, key):
    """The extension packed and signed by a browser of the family itself."""
    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "extension")
        shutil.copytree(extension_folder, folder)
        # The packed extension's id is its key's; the manifest's own key is the unpacked folder's.
        manifest_path = os.path.join(folder, "manifest.json")
        with open(manifest_path) as f:
            manifest = json.load(f)
        manifest.pop("key", None)
        with open(manifest_path, "w") as f:
            json.dump(manifest, f, indent=2)
        command = [packer, f"--pack-extension={folder}", f"--pack-extension-key={key}",
                   f"--user-data-dir={os.path.join(work, 'profile')}"]
        if os.geteuid() == 0:
            command.append("--no-sandbox")
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        crx = folder + ".crx"
        if not os.path.isfile(crx):
            raise Refused(f"{packer} did not pack the extension: {done.stderr.strip()[-500:]}")
        with open(crx, "rb") as f:
            return f.read()


def file_url(path):
    import urllib.parse
    return "file://" + urllib.parse.quote(path)


def update_manifest(extension_id, crx_url, version):
    from xml.sax.saxutils import quoteattr
    return ("<?xml version='1.0' encoding='UTF-8'?>\n"
            "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>\n"
            f"  <app appid={quoteattr(extension_id)}>\n"
            f"    <updatecheck codebase={quoteattr(crx_url)} version={quoteattr(version)}/>\n"
            "  </app>\n</gupdate>\n")


def firefox_policies(gecko_id, xpi_url):
    return json.dumps({"policies": {
        "ExtensionSettings": {gecko_id: {"installation_mode": "force_installed", "install_url": xpi_url}},
        # Debian's Firefox ESR takes an unsigned extension once this is off; locked, a profile cannot turn it on.
        "Preferences": {"xpinstall.signatures.required": {"Value": False, "Status": "locked"}},
    }}, indent=2) + "\n"


def all_users_install(machine, stage):
    if os.geteuid() != 0:
        print("Installing for every user needs root: run it with sudo.", file=sys.stderr)
        return 1
    found = [f for f in find(machine) if f.how == "package"]
    chromium_family = [f for f in found if f.kind.engine == "chromium" and f.kind.policies]
    esr = [f for f in found if f.family == "firefox-esr"]
    firefoxes = [f for f in found if f.kind.engine == "firefox" and f.kind.system_hosts]
    refused = []

    def allowed(folder, who):
        try:
            check_folder(machine, folder)
            return True
        except Refused as e:
            refused.append(f"{who}: {e}")
            return False

    for own in (SYSTEM_PROGRAM, SYSTEM_SHARE, SYSTEM_STATE):
        if not allowed(own, "Tavro Popup Blocker"):
            print("\n".join(f"Refused: {r}" for r in refused), file=sys.stderr)
            return 1
    ledger = Ledger(machine)
    share = os.path.join(stage, "share", "tavro-popup-blocker")
    with open(os.path.join(stage, "lib", "tavro-popup-blocker", HOST_PROGRAM), "rb") as f:
        ledger.write(f"{SYSTEM_PROGRAM}/{HOST_PROGRAM}", f.read(), 0o755)
    xpi = f"{SYSTEM_SHARE}/tavro-popup-blocker.xpi"
    with open(os.path.join(share, "tavro-popup-blocker.xpi"), "rb") as f:
        ledger.write(xpi, f.read())
    ledger.write(f"{SYSTEM_SHARE}/extension-ids.txt", "\n".join(read_lines(os.path.join(share, "extension-ids.txt")))
                 + "\n")

    done = []
    if chromium_family:
        key, crx_id = make_key(machine, ledger)
        crx = f"{SYSTEM_SHARE}/tavro-popup-blocker.crx"
        extension = Extension(share, machine)
        ledger.write(crx, pack_crx(machine.path(chromium_family[0].executable), extension.folder, key))
        ledger.write(f"{SYSTEM_SHARE}/extension-id", crx_id + "\n")
        update = f"{SYSTEM_SHARE}/update.xml"
        ledger.write(update, update_manifest(crx_id, file_url(crx), extension.version))
        policy = json.dumps({"ExtensionInstallForcelist": [f"{crx_id};{file_url(update)}"]}, indent=2) + "\n"
        for f in chromium_family:
            if f.kind.policies in done or not allowed(f.kind.policies, NAMES[f.family]):
                continue
            ledger.write(f"{f.kind.policies}/{OWN_NAME}", policy)
            done.append(f.kind.policies)
    extension = Extension(share, machine)
    for f in esr:
        path = f"{f.kind.policies}/{FIREFOX_POLICIES}"
        if not allowed(f.kind.policies, NAMES[f.family]):
            continue
        if not ledger.ours(path):
            refused.append(f"{NAMES[f.family]}: {path} is another's: its policies are left as they are. "
                           f"Add the extension to it by hand: ExtensionSettings, \"{extension.gecko_id}\": "
                           f"force_installed from {file_url(xpi)}, and xpinstall.signatures.required false")
            continue
        ledger.write(path, firefox_policies(extension.gecko_id, file_url(xpi)))
        done.append(f.kind.policies)
    host = f"{SYSTEM_PROGRAM}/{HOST_PROGRAM}"
    for f in chromium_family + firefoxes:
        folder = f.kind.system_hosts
        if folder in done or not allowed(folder, NAMES[f.family]):
            continue
        ledger.write(f"{folder}/{OWN_NAME}", extension.host_manifest(f.kind, host))
        done.append(folder)
    ledger.save()

    for f in find(machine):
        print(f"{NAMES[f.family]} ({f.how}): {action(f, route(machine, f))}", file=sys.stderr)
    for r in refused:
        print(f"Refused: {r}", file=sys.stderr)
    return 1 if refused else 0


def all_users_uninstall(machine):
    if os.geteuid() != 0:
        print("Removing the install for every user needs root: run it with sudo.", file=sys.stderr)
        return 1
    ledger = Ledger(machine)
    if not ledger.exists():
        print("No install for every user found: nothing to remove.", file=sys.stderr)
        return 0
    kept = []
    for shown in ledger.files:
        path = machine.path(shown)
        if not os.path.lexists(path):
            continue
        if ledger.ours(shown):
            os.unlink(path)
        else:
            kept.append(shown)
    key = machine.path(SYSTEM_STATE + "/extension-key.pem")
    for path in (key, ledger.path):
        if os.path.exists(path):
            os.unlink(path)
    for folder in reversed(ledger.folders):
        try:
            os.rmdir(machine.path(folder))
        except OSError:
            pass
    for shown in kept:
        print(f"Left in place, as it changed since the install: {shown}", file=sys.stderr)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=("list", "user-install", "user-uninstall", "guide",
                                            "all-users-install", "all-users-uninstall"))
    parser.add_argument("--share")
    parser.add_argument("--host")
    parser.add_argument("--stage")
    parser.add_argument("--folder", action="append", default=[],
                        help="user-uninstall: another folder that may hold the host's manifest")
    parser.add_argument("--dry-run", action="store_true", help="guide: say, but open nothing")
    args = parser.parse_args()
    machine = Machine()
    try:
        if args.command == "list":
            print_list(machine, args.share)
            return 0
        if args.command == "user-install":
            return user_install(machine, args.share)
        if args.command == "user-uninstall":
            return user_uninstall(machine, args.host, args.folder)
        if args.command == "guide":
            return guide(machine, args.share, args.dry_run)
        if args.command == "all-users-install":
            return all_users_install(machine, args.stage)
        return all_users_uninstall(machine)
    except Refused as e:
        print(f"Refused: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
