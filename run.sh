#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts the program.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
# With no browser for the program to watch, start one on the demo pages, so
# that blocking can be seen at once: Chromium when it is installed, else
# Firefox. It outlives this script: it is the user's browser from then on.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && ! scripts/start-browser.sh --running &&
    ! scripts/start-browser.sh --firefox --running; then
    family=()
    scripts/start-browser.sh --installed || family=(--firefox)
    if scripts/start-browser.sh "${family[@]}" --installed; then
        setsid scripts/start-browser.sh "${family[@]}" --demo </dev/null >/dev/null 2>&1 &
    fi
fi
exec build/release/bin/tavro-popup-blocker "$@"
