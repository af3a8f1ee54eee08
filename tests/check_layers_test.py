#!/usr/bin/env python3
"""The layering check fails on the includes that break the core's layers and
passes the ones the layout allows, each case on a tree of its own."""
import pathlib
import subprocess
import sys
import tempfile

CHECK = pathlib.Path(__file__).resolve().parent.parent / "scripts" / "check-layers.py"

# (file, the line it includes, whether the check must fail)
CASES = [
    ("browsers/devtools/a.cpp", "browsers/bidi/answers.h", True),
    ("browsers/extension/a.cpp", "browsers/devtools/answers.h", True),
    ("browsers/wire/a.cpp", "browsers/mirror/page_mirror.h", True),
    ("browsers/mirror/a.cpp", "browsers/extension/extension_browsers.h", True),
    ("blocking/a.cpp", "browsers/mirror/page_mirror.h", True),
    ("platform/qt/a.cpp", "browsers/mirror/page_mirror.h", True),
    ("host/a.cpp", "browsers/mirror/page_mirror.h", True),
    ("browsers/devtools/a.cpp", "browsers/mirror/page_mirror.h", False),
    ("browsers/extension/a.cpp", "browsers/wire/frames.h", False),
    ("host/a.cpp", "browsers/wire/frames.h", False),
    ("program/a.cpp", "browsers/bidi/bidi_browser.h", False),
]


def main():
    failures = 0
    for file, target, must_fail in CASES:
        with tempfile.TemporaryDirectory() as root:
            path = pathlib.Path(root) / file
            path.parent.mkdir(parents=True)
            path.write_text(f'#include "{target}"\n')
            run = subprocess.run([sys.executable, str(CHECK), root], capture_output=True, text=True)
            if (run.returncode != 0) != must_fail:
                failures += 1
                print(f"{file} including {target}: expected {'a failure' if must_fail else 'a pass'}, "
                      f"got status {run.returncode}: {run.stderr.strip()}")
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
