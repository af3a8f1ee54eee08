#!/usr/bin/env python3
"""Fails when a source file includes a folder it may not depend on.

The logic is layered, lowest first; a folder may include the folders below it
and itself, never one above it, so no two folders ever include each other.
The logic reaches the world only through the interfaces in platform/, and
never names a toolkit, protocol or system library. Adapters in
platform/<technology>/ use the interfaces and the window's design data, never
the logic itself.
"""
import pathlib
import re
import sys

# The one place that says which logic folder may use which.
LOGIC_LAYERS = [
    ["form"],
    ["blocking"],
    ["allowed", "tray", "help"],
    ["app"],
]
# What the logic may never include: toolkits, system and protocol libraries.
FOREIGN_HEADERS = re.compile(r"<(Q\w*|qt\w*/|X11/|alsa/|curl/|boost/|nlohmann/|sys/|unistd\.h|fcntl\.h)")
# What an adapter may take from the logic folders: the design is data.
ADAPTER_MAY_READ = {"form/design.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.MULTILINE)
ROOT = pathlib.Path(__file__).resolve().parent.parent


def layer_of(folder):
    for level, folders in enumerate(LOGIC_LAYERS):
        if folder in folders:
            return level
    return None


def problems_in(path):
    relative = path.relative_to(ROOT)
    folder = relative.parts[0]
    text = path.read_text(encoding="utf-8", errors="replace")
    for match in INCLUDE.finditer(text):
        quote, target = match.groups()
        line = text.count("\n", 0, match.start()) + 1
        where = f"{relative}:{line}"
        if quote == "<":
            if layer_of(folder) is not None or relative.parent == pathlib.Path("platform"):
                if FOREIGN_HEADERS.match("<" + target):
                    yield f"{where}: the logic and the interfaces use standard C++ only, not <{target}>"
            continue
        target_folder = target.split("/")[0]
        if layer_of(folder) is not None:
            own, other = layer_of(folder), layer_of(target_folder)
            if other is None and not (target_folder == "platform" and target.count("/") == 1):
                yield f"{where}: the logic reaches the world only through platform/*.h, not {target}"
            elif other is not None and other > own:
                yield f"{where}: {folder}/ sits below {target_folder}/ and may not include {target}"
            elif other == own and target_folder != folder:
                yield f"{where}: {folder}/ and {target_folder}/ stand side by side and may not include each other"
        elif folder == "platform":
            if relative.parent == pathlib.Path("platform") and target.count("/") != 1:
                yield f"{where}: an interface includes only other interfaces, not {target}"
            elif layer_of(target_folder) is not None and target not in ADAPTER_MAY_READ:
                yield f"{where}: an adapter uses interfaces and design data, not the logic in {target}"


def main():
    roots = [ROOT / f for layer in LOGIC_LAYERS for f in layer] + [ROOT / "platform"]
    found = []
    for base in roots:
        for path in sorted(base.rglob("*")):
            if path.suffix in (".h", ".cpp"):
                found.extend(problems_in(path))
    for problem in found:
        print(problem, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
