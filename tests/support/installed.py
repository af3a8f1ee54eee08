"""The program as the project's scripts install it for a user of its own, and
the guarded browser the installed start-browser.sh starts, with the browser
extension and no debugging port."""
import os
import subprocess

from program import HERE, TITLE


class Installed:
    """The program installed by the project's scripts for a user of its own."""

    def __init__(self, source, build, home):
        self.source, self.build, self.home = source, build, home
        self.prefix = os.path.join(home, ".local")
        self.folder = os.path.join(self.prefix, "lib", "tavro-popup-blocker")
        self.command = os.path.join(self.prefix, "bin", "tavro-popup-blocker")
        self.list = os.path.join(self.folder, "Whitelst.txt")
        self.share = os.path.join(self.prefix, "share", "tavro-popup-blocker")
        # Not ~/.config, so that the autostart entry shows it follows XDG_CONFIG_HOME.
        self.config = os.path.join(home, "settings")
        self.conf = os.path.join(self.config, TITLE + ".conf")
        self.autostart = os.path.join(self.config, "autostart", "tavro-popup-blocker.desktop")
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(self.config)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        self.env.update(HOME=home, XDG_CONFIG_HOME=self.config, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")
        self.env["LSAN_OPTIONS"] = f"suppressions={HERE}/../lsan.supp:print_suppressions=0"
        self.processes = []

    def script(self, name, *args, env=None):
        done = subprocess.run([os.path.join(self.source, "scripts", name), *args], env=dict(self.env, **(env or {})),
                              capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, f"{name} {' '.join(args)} failed:\n{done.stdout}{done.stderr}"
        return done.stdout + done.stderr

    def install(self, *args, env=None):
        return self.script("install.sh", "--from-build", self.build, *args, env=env)

    def start(self, env=None):
        p = subprocess.Popen([self.command], cwd=self.home, env=dict(self.env, **(env or {})))
        self.processes.append(p)
        return p

    def stop_all(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
                p.wait()


def start_browser(family, share, env, log, address="about:blank", *arguments):
    """The installed start-browser.sh, with no port, in a process group of its
    own: Chromium, or Firefox ESR with the extension's .xpi put in its profile."""
    command = [os.path.join(share, "start-browser.sh")]
    if family == "firefox":
        # Firefox's own blocker would stop the test pages' pop-ups, opened without a click.
        data = env.get("XDG_DATA_HOME") or os.path.join(env["HOME"], ".local", "share")
        profile = os.path.join(data, "tavro-popup-blocker", "firefox")
        os.makedirs(profile, mode=0o700, exist_ok=True)
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.write('user_pref("dom.disable_open_during_load", false);\n')
        command += ["--firefox", "--without-port", *arguments, address]
    else:
        command += ["--without-port", "--ozone-platform=x11", "--disable-popup-blocking", "--disable-gpu",
                    *arguments, address]
    return subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)


def group_members(group):
    """The processes of a process group: the browser and its helpers."""
    members = set()
    for name in os.listdir("/proc"):
        try:
            with open(f"/proc/{name}/stat") as f:
                # The group comes after the name in parentheses, which may hold spaces.
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if name.isdigit() and int(fields[2]) == group:
            members.add(int(name))
    return members


def listeners_of(group):
    """The TCP listeners of the group's processes, as ss shows them; other tests' browsers may listen."""
    members = group_members(group)
    assert members, "the browser's processes were not found"
    done = subprocess.run(["ss", "-ltnpH"], capture_output=True, text=True, check=True)
    return [line for line in done.stdout.splitlines()
            if any(f"pid={pid}," in line for pid in members)]


def hosts_of(program_folder):
    """The running extension hosts installed in that folder: one for each
    browser profile whose extension reaches the program."""
    host = os.path.join(program_folder, "tavro-popup-blocker-host")
    found = set()
    for name in os.listdir("/proc"):
        try:
            with open(f"/proc/{name}/cmdline", "rb") as f:
                if f.read().split(b"\0")[0] == host.encode():
                    found.add(int(name))
        except OSError:
            continue
    return found
