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
share="$prefix/share/tavro-popup-blocker"
# Each browser of the user's that lacks the extension is opened where it is
# added, with the steps beside it; as root there is scripts/install.sh --all-users.
guided=1
if [ "$(id -u)" -ne 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    python3 "$share/browsers.py" guide --share "$share" && guided=0
fi
# With no browser opened for the extension, and none for the program to
# watch, start one on the demo pages, so that blocking can be seen at once:
# Chromium when it is installed, else Firefox. It outlives this script: it is
# the user's browser from then on.
# Never as root, where the browser would have to give up its sandbox.
start_browser="$share/start-browser.sh"
if [ "$guided" -ne 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && ! "$start_browser" --running &&
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
