#!/usr/bin/env python3
"""Fails when a source file includes a folder it may not depend on.

The logic is layered, lowest first; a folder may include the folders below it
and itself, never one above it, so no two folders ever include each other.
The logic reaches the world only through the interfaces in platform/, and
never names a toolkit, protocol or system library. Adapters in
platform/<technology>/ use the interfaces and the window's design data, never
the logic itself.

The browser-watching core in browsers/ is layered the same way: the wire at
the bottom, then the mirror and its link, then one folder per protocol, and no
protocol includes another. Neither the logic nor the other adapters include
the core; the extension's host includes the wire alone.
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
# The core's layers, lowest first; the protocols stand side by side.
CORE_LAYERS = [
    ["wire"],
    ["mirror"],
    ["devtools", "bidi", "extension"],
]
# What a folder outside the core may take from it.
CORE_USERS = {"program": None, "host": {"wire"}}
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


def core_layer_of(part):
    for level, folders in enumerate(CORE_LAYERS):
        if part in folders:
            return level
    return None


def core_problem(relative, target):
    """What is wrong with a file of the core including target, if anything."""
    own_part = relative.parts[1] if len(relative.parts) > 2 else None
    if own_part is None:
        return None
    target_parts = target.split("/")
    if target_parts[0] != "browsers" or len(target_parts) < 3:
        if layer_of(target_parts[0]) is not None and target not in ADAPTER_MAY_READ:
            return f"the browser-watching core uses interfaces and design data, not the logic in {target}"
        return None
    own, other = core_layer_of(own_part), core_layer_of(target_parts[1])
    if own is None or other is None:
        return f"browsers/{target_parts[1]}/ is no layer of the core"
    if other > own:
        return f"browsers/{own_part}/ sits below browsers/{target_parts[1]}/ and may not include {target}"
    if other == own and own_part != target_parts[1]:
        return f"browsers/{own_part}/ and browsers/{target_parts[1]}/ stand side by side and may not include each other"
    return None


def problems_in(path, root):
    relative = path.relative_to(root)
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
        if folder == "browsers":
            problem = core_problem(relative, target)
            if problem:
                yield f"{where}: {problem}"
            continue
        if target_folder == "browsers" and layer_of(folder) is None:
            allowed = CORE_USERS.get(folder, set())
            part = target.split("/")[1] if target.count("/") >= 2 else ""
            if allowed is not None and part not in allowed:
                yield f"{where}: {folder}/ may not include the browser-watching core's {target}"
            continue
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
    root = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else ROOT
    folders = [f for layer in LOGIC_LAYERS for f in layer] + ["platform", "browsers", *CORE_USERS]
    found = []
    for base in (root / f for f in folders):
        for path in sorted(base.rglob("*")):
            if path.suffix in (".h", ".cpp"):
                found.extend(problems_in(path, root))
    for problem in found:
        print(problem, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
