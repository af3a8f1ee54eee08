#!/usr/bin/env python3
"""scripts/browsers.py on a fake root folder, one row per kind of browser
install: what it lists, what the per-user and the machine-wide installs write,
and that each uninstall leaves the folders as they were, byte for byte. The
root's and the home's paths hold spaces and quotes, which every manifest must
carry intact. A second table: the machine-wide folders it must refuse, each
with its reason, while the rest still goes in.

usage: browser_kinds_test.py SOURCE
"""
import json
import os
import subprocess
import sys
import tempfile

SOURCE = os.path.abspath(sys.argv[1])
SCRIPT = os.path.join(SOURCE, "scripts", "browsers.py")
# Packs as a browser would, without a browser: the folder's manifest becomes the .crx.
FAKE_CHROMIUM = '#!/bin/sh\nfor a; do case "$a" in --pack-extension=*) cp "${a#*=}/manifest.json" "${a#*=}.crx";; esac; done\n'
FAKE = "#!/bin/sh\n"
ESR = {"/usr/lib/firefox-esr/firefox-esr": FAKE, "/usr/lib/firefox-esr/defaults/pref/channel-prefs.js":
       'pref("app.update.channel", "esr");', "/usr/bin/firefox-esr": "->/usr/lib/firefox-esr/firefox-esr",
       # Debian's own alias of ESR, no browser of its own.
       "/usr/bin/firefox": '#!/bin/sh\nexec firefox-esr "$@"\n'}
CHROMIUM_HOSTS = "/etc/chromium/native-messaging-hosts/tavro_popup_blocker.json"
CHROMIUM_POLICY = "/etc/chromium/policies/managed/tavro_popup_blocker.json"
MOZILLA_HOSTS = "/usr/lib/mozilla/native-messaging-hosts/tavro_popup_blocker.json"
ESR_POLICY = "/etc/firefox/policies/policies.json"
OURS = {"/usr/local/lib/tavro-popup-blocker/tavro-popup-blocker-host", "/var/lib/tavro-popup-blocker/installed.json",
        "/usr/local/share/tavro-popup-blocker/tavro-popup-blocker.xpi",
        "/usr/local/share/tavro-popup-blocker/extension-ids.txt"}
CRX = {"/usr/local/share/tavro-popup-blocker/" + n for n in ("tavro-popup-blocker.crx", "extension-id", "update.xml")}
CRX.add("/var/lib/tavro-popup-blocker/extension-key.pem")

# name, files in the root (a value "->X" is a link to X), lines listed as (family, how, route),
# per-user manifests below HOME, machine-wide files written
KINDS = [
    ("chromium package", {"/usr/bin/chromium": FAKE_CHROMIUM}, [("chromium", "package", "none")],
     {".config/chromium/NativeMessagingHosts"}, OURS | CRX | {CHROMIUM_POLICY, CHROMIUM_HOSTS}),
    ("chrome and brave packages", {"/opt/google/chrome/chrome": FAKE_CHROMIUM, "/usr/bin/brave-browser": FAKE_CHROMIUM},
     [("chrome", "package", "none"), ("brave", "package", "none")],
     {".config/google-chrome/NativeMessagingHosts", ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts"},
     OURS | CRX | {"/etc/opt/chrome/policies/managed/tavro_popup_blocker.json",
                   "/etc/brave/policies/managed/tavro_popup_blocker.json",
                   "/etc/opt/chrome/native-messaging-hosts/tavro_popup_blocker.json"}),
    ("firefox-esr package", ESR, [("firefox-esr", "package", "none")], {".mozilla/native-messaging-hosts"},
     OURS | {ESR_POLICY, MOZILLA_HOSTS}),
    ("firefox release package", {"/usr/lib/firefox/firefox": FAKE, "/usr/bin/firefox": "->/usr/lib/firefox/firefox"},
     [("firefox", "package", "none")], {".mozilla/native-messaging-hosts"}, OURS | {MOZILLA_HOSTS}),
    ("chromium and firefox snaps", {"/snap/bin/chromium": FAKE, "/snap/bin/firefox": FAKE,
                                    "/usr/bin/chromium-browser": "#!/bin/sh\nexec /snap/bin/chromium \"$@\"\n"},
     [("chromium", "snap", "unsupported"), ("firefox", "snap", "none")], {".mozilla/native-messaging-hosts"}, OURS),
    ("flatpaks", {"/var/lib/flatpak/app/org.chromium.Chromium/current/x": "",
                  "/home/u s\"er/.local/share/flatpak/app/org.mozilla.firefox/current/x": ""},
     [("chromium", "flatpak", "unsupported"), ("firefox", "flatpak", "unsupported")], set(), OURS),
    ("absent", {}, [], set(), OURS),
]


def make(root, files):
    for path, content in sorted(files.items()):
        full = root + path
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if content.startswith("->"):
            os.symlink(root + content[2:], full)
        else:
            with open(full, "w") as f:
                f.write(content)
            os.chmod(full, 0o755)


def tree(folder):
    """Every file, link and folder below, with what it holds and its mode; the
    per-user install's own folder is its uninstall's business."""
    found = {}
    for base, dirs, names in os.walk(folder):
        if base.endswith("/.local/share"):
            dirs.remove("tavro-popup-blocker")
        for n in dirs + names:
            p = os.path.join(base, n)
            info = os.lstat(p)
            held = os.readlink(p) if os.path.islink(p) else open(p, "rb").read() if os.path.isfile(p) else None
            found[os.path.relpath(p, folder)] = (info.st_mode, info.st_uid, held)
    return found


class Machine:
    def __init__(self, work, files):
        self.root = os.path.join(work, "root o'k \"q\"")
        self.home = self.root + "/home/u s\"er"
        os.makedirs(self.home)
        make(self.root, files)
        # The per-user install's share folder and the build's staged install.
        self.share = os.path.join(self.home, ".local/share/tavro-popup-blocker")
        self.stage = os.path.join(work, "stage")
        make(self.stage, {"/lib/tavro-popup-blocker/tavro-popup-blocker-host": FAKE,
                          "/share/tavro-popup-blocker/tavro-popup-blocker.xpi": "xpi"})
        for share in (self.share, self.stage + "/share/tavro-popup-blocker"):
            # A store's id, named in the file that lists them.
            make(share, {"/extension/manifest.json": open(os.path.join(SOURCE, "extension", "manifest.json")).read(),
                         "/extension-ids.txt": "# more\nabcdefghijklmnopabcdefghijklmnop\n"})

    def run(self, *args, status=0):
        env = dict(os.environ, TAVRO_ROOT=self.root, HOME=self.home)
        env.pop("XDG_CONFIG_HOME", None)
        done = subprocess.run([sys.executable, SCRIPT, *args], env=env, capture_output=True, text=True)
        assert done.returncode == status, f"{args}: status {done.returncode}\n{done.stdout}{done.stderr}"
        return done.stdout + done.stderr

    def written(self, before):
        after = tree(self.root)
        return {"/" + p for p, (mode, _, held) in after.items() if held is not None and after[p] != before.get(p)}


def check_manifest(path, host):
    with open(path) as f:
        manifest = json.load(f)
    assert manifest["path"] == host, manifest
    if "NativeMessagingHosts" in path or "/etc/" in path:
        assert "chrome-extension://abcdefghijklmnopabcdefghijklmnop/" in manifest["allowed_origins"], manifest
        assert len(manifest["allowed_origins"]) >= 2, manifest


def check_kind(work, name, files, listed, user_folders, machine_wide):
    m = Machine(work, files)
    lines = [line.split("\t") for line in m.run("list", "--share", m.share).splitlines()]
    assert [(f[0], f[1], f[4]) for f in lines] == listed, f"{name}: listed {lines}"
    assert all(len(f) == 6 and f[5] for f in lines), f"{name}: {lines}"

    home = tree(m.home)
    said = m.run("user-install", "--share", m.share)
    host = os.path.join(m.home, ".local/lib/tavro-popup-blocker/tavro-popup-blocker-host")
    placed = {os.path.dirname(os.path.relpath(os.path.join(b, n), m.home)) for b, _, ns in os.walk(m.home)
              for n in ns if n == "tavro_popup_blocker.json"}
    assert placed == user_folders, f"{name}: per-user manifests in {placed}"
    for folder in placed:
        check_manifest(os.path.join(m.home, folder, "tavro_popup_blocker.json"), host)
    if any(r == "unsupported" for _, _, r in listed):
        assert "advice\t" in said, f"{name}: nothing said of the browser it cannot protect: {said!r}"

    before = tree(m.root)
    m.run("all-users-install", "--stage", m.stage)
    assert m.written(before) == machine_wide, f"{name}: wrote {sorted(m.written(before) ^ machine_wide)} unlike"
    for path in machine_wide & {CHROMIUM_HOSTS, MOZILLA_HOSTS}:
        check_manifest(m.root + path, "/usr/local/lib/tavro-popup-blocker/tavro-popup-blocker-host")
    key = m.root + "/var/lib/tavro-popup-blocker/extension-key.pem"
    if os.path.exists(key):
        assert os.stat(key).st_mode & 0o777 == 0o600, oct(os.stat(key).st_mode)
        routes = [f.split("\t")[4] for f in m.run("list").splitlines() if "\tpackage\t" in f and "chrom" in f]
        assert set(routes) == {"policy"}, routes
    # Twice is as once, and the key stays.
    first = tree(m.root)
    m.run("all-users-install", "--stage", m.stage)
    assert tree(m.root) == first, f"{name}: a second install changed what the first wrote"
    m.run("all-users-uninstall")
    assert tree(m.root) == before, f"{name}: the uninstall left {sorted(set(tree(m.root)) ^ set(before))}"
    m.run("user-uninstall", "--host", host)
    assert tree(m.home) == home, f"{name}: the per-user uninstall left {sorted(set(tree(m.home)) ^ set(home))}"


# What the machine holds besides a plain Chromium and ESR, the reason for the refusal said, the
# files no install may write; other software's policies beside ours stay byte for byte.
OTHERS = {"/etc/chromium/policies/managed/other.json": '{"HomepageLocation": "x"}',
          "/etc/chromium/native-messaging-hosts/other.json": "{}"}
REFUSALS = [
    ("symlinked policy folder", {"/elsewhere/managed/x": "", "/etc/chromium/policies/managed": "->/elsewhere/managed"},
     "/etc/chromium/policies/managed is a symbolic link", {CHROMIUM_POLICY, "/elsewhere/managed/tavro_popup_blocker.json"}),
    ("foreign policy folder", {"/etc/chromium/policies/managed/.keep": ""}, "belongs to", {CHROMIUM_POLICY}),
    ("world-writable folder", {"/etc/firefox/policies/.keep": ""}, "writable by every user", {ESR_POLICY}),
    ("another's policies.json", {ESR_POLICY: '{"policies": {}}'}, "is another's", {ESR_POLICY}),
]


def check_refusal(work, name, files, reason, untouched):
    m = Machine(work, {**ESR, "/usr/bin/chromium": FAKE_CHROMIUM, **OTHERS, **files})
    if name == "foreign policy folder":
        os.chown(m.root + "/etc/chromium/policies/managed", 65534, 65534)
    if name == "world-writable folder":
        os.chmod(m.root + "/etc/firefox/policies", 0o777)
    before = tree(m.root)
    said = m.run("all-users-install", "--stage", m.stage, status=1)
    assert reason in said, f"{name}: {said!r}"
    written = m.written(before)
    assert not written & untouched, f"{name}: wrote {written & untouched}"
    assert written & {CHROMIUM_HOSTS, MOZILLA_HOSTS}, f"{name}: the rest was not installed: {written}"
    m.run("all-users-uninstall")
    assert tree(m.root) == before, f"{name}: the uninstall left {sorted(set(tree(m.root)) ^ set(before))}"


def main():
    if os.geteuid() != 0:
        print("browser_kinds: skipped: the machine-wide install, even on a fake root folder, is root's")
        return 77
    failed = 0
    for table, check in ((KINDS, check_kind), (REFUSALS, check_refusal)):
        for row in table:
            with tempfile.TemporaryDirectory() as work:
                try:
                    check(work, *row)
                    print(f"ok {row[0]}")
                except AssertionError as e:
                    failed += 1
                    print(f"FAILED {row[0]}: {e}")
    print(f"{len(KINDS) + len(REFUSALS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
