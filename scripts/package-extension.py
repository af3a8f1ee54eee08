#!/usr/bin/env python3
"""Builds the browser extension's packages for the stores, and lints them.

  package-extension.py [--out DIR]   DIR/tavro-popup-blocker-VERSION-chrome.zip for the Chrome Web Store
                                     and DIR/tavro-popup-blocker-VERSION.xpi for addons.mozilla.org
                                     (DIR: build/extension-packages)
  package-extension.py --lint        lints alone, as ./test.sh does

extension/ serves both browsers from one manifest; each package leaves out
what its store rejects or warns of: the "key" that fixes the unpacked
folder's id (a store signs with its own), for Chrome the keys only Firefox
reads, for Firefox the service worker it ignores; Firefox's also asks to
hold requests, which only Firefox grants. npm's web-ext lints the
Firefox package, which must come out with no error and no warning, and the
shared folder, which must have no error. $WEB_EXT names another web-ext.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "extension")
FILES = ("background.js", "page.js", "opens.js", "icon-48.png", "icon-128.png")


def manifest():
    with open(os.path.join(SOURCE, "manifest.json")) as f:
        return json.load(f)


def chrome_manifest():
    m = manifest()
    del m["key"], m["browser_specific_settings"], m["background"]["scripts"]
    return m


def firefox_manifest():
    m = manifest()
    del m["key"], m["background"]["service_worker"]
    # Firefox alone lets the extension hold a new tab's first request (see extension/CMakeLists.txt).
    m["permissions"] += ["webRequest", "webRequestBlocking"]
    return m


def lay_out(folder, m):
    os.makedirs(folder)
    for name in FILES:
        shutil.copy(os.path.join(SOURCE, name), folder)
    with open(os.path.join(folder, "manifest.json"), "w") as f:
        json.dump(m, f, indent=2)


def web_ext():
    return os.environ.get("WEB_EXT") or shutil.which("web-ext") or sys.exit(
        "web-ext not found: scripts/install-deps.sh installs it")


def lint(folder, what, warnings_allowed=()):
    done = subprocess.run([web_ext(), "lint", "--source-dir", folder, "--output", "json", "--ignore-files",
                           "CMakeLists.txt"], capture_output=True, text=True)
    try:
        report = json.loads(done.stdout)
    except ValueError:
        sys.exit(f"web-ext lint of {what} said no report:\n{done.stdout}{done.stderr}")
    found = [m for kind in ("errors", "warnings", "notices") for m in report[kind]
             if kind == "errors" or m["code"] not in warnings_allowed]
    for m in found:
        print(f"{what}: {m['code']}: {m['message']} {m.get('description', '')}", file=sys.stderr)
    print(f"web-ext lint {what}: {report['summary']}")
    return not found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", default=os.path.join(SOURCE, "..", "build", "extension-packages"))
    parser.add_argument("--lint", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        firefox = os.path.join(work, "firefox")
        lay_out(firefox, firefox_manifest())
        # The shared folder keeps the service worker that Firefox ignores.
        clean = lint(SOURCE, "extension/", {"BACKGROUND_SERVICE_WORKER_IGNORED"}) & lint(firefox, "the Firefox package")
        if not clean:
            return 1
        if args.lint:
            return 0
        os.makedirs(args.out, exist_ok=True)
        version = manifest()["version"]
        xpi = os.path.join(args.out, f"tavro-popup-blocker-{version}.xpi")
        subprocess.run([web_ext(), "build", "--source-dir", firefox, "--artifacts-dir", args.out, "--filename",
                        os.path.basename(xpi), "--overwrite-dest"], check=True, stdout=subprocess.DEVNULL)
        chrome = os.path.join(work, "chrome")
        lay_out(chrome, chrome_manifest())
        zip_path = os.path.join(args.out, f"tavro-popup-blocker-{version}-chrome.zip")
        with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
            for name in sorted(os.listdir(chrome)):
                z.write(os.path.join(chrome, name), name)
        print(f"For the Chrome Web Store: {os.path.abspath(zip_path)}")
        print(f"For addons.mozilla.org:   {os.path.abspath(xpi)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
