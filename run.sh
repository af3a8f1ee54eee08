#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts the program.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
# With no browser for the program to watch, start one on the demo pages, so
# that blocking can be seen at once. It outlives this script: it is the
# user's browser from then on.
# Never as root, where the browser would have to give up its sandbox.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && ! scripts/start-browser.sh --running; then
    if [ "$(id -u)" -eq 0 ]; then
        echo "No browser started for the demo: run scripts/start-browser.sh --demo as your own user." >&2
    else
        setsid scripts/start-browser.sh --demo </dev/null >/dev/null 2>&1 &
    fi
fi
exec build/release/bin/tavro-popup-blocker "$@"
