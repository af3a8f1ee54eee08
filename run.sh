#!/usr/bin/env bash
# Installs what is missing, builds the release configuration, installs it for
# this user (~/.local) and starts the installed program, so that the allowed
# list lives in the installed program's folder and never in build/.
set -euo pipefail
cd "$(dirname "$0")"

if [ "$(id -u)" -eq 0 ]; then
    echo "Warning: running as root; the program's window will run as root, and no browser is started for it." >&2
fi
scripts/install-deps.sh build
scripts/install.sh --quiet
prefix="$HOME/.local"
# With no browser for the program to watch, start one on the demo pages, so
# that blocking can be seen at once: Chromium when it is installed, else
# Firefox. It outlives this script: it is the user's browser from then on.
# Never as root, where the browser would have to give up its sandbox.
start_browser="$prefix/share/tavro-popup-blocker/start-browser.sh"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && ! "$start_browser" --running &&
    ! "$start_browser" --firefox --running; then
    family=()
    "$start_browser" --installed || family=(--firefox)
    if [ "$(id -u)" -eq 0 ]; then
        echo "No browser started for the demo: run $start_browser ${family[*]} --demo as your own user." >&2
    elif "$start_browser" "${family[@]}" --installed; then
        setsid "$start_browser" "${family[@]}" --demo </dev/null >/dev/null 2>&1 &
    fi
fi
exec "$prefix/bin/tavro-popup-blocker" "$@"
