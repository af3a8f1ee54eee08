#!/usr/bin/env bash
# Starts Chromium on Tavro Popup Blocker's own browser profile, with a
# debugging port that the program finds through the profile's
# DevToolsActivePort file. The port listens on 127.0.0.1 only.
#
#   start-browser.sh [ADDRESS...]        the browser, on these addresses
#   start-browser.sh --demo [OPTION...]  the browser on the demo pages
#   start-browser.sh --running           exit status 0 when the program would find a browser
#   start-browser.sh --install-desktop-entry
#                                        adds "Chromium (Tavro Popup Blocker)" to the desktop's menu
#
# $TAVRO_CHROMIUM names another Chromium-family browser.
#
# As root the browser would have to run without its sandbox (--no-sandbox),
# which leaves every page it shows one bug away from the whole machine: the
# script refuses unless $TAVRO_BROWSER_AS_ROOT is 1, as the tests' throw-away
# browsers set it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

data_home="${XDG_DATA_HOME:-}"
[[ "$data_home" == /* ]] || data_home="$HOME/.local/share"
profile="$data_home/tavro-popup-blocker/browser"

find_browser() {
    if [ -n "${TAVRO_CHROMIUM:-}" ]; then
        echo "$TAVRO_CHROMIUM"
        return
    fi
    for candidate in chromium chromium-browser google-chrome brave-browser microsoft-edge; do
        if command -v "$candidate" >/dev/null 2>&1; then
            command -v "$candidate"
            return
        fi
    done
    echo "No Chromium-family browser found; install chromium or set TAVRO_CHROMIUM." >&2
    exit 1
}

port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

running() {
    if [ -s "$profile/DevToolsActivePort" ]; then
        local port
        port="$(head -n 1 "$profile/DevToolsActivePort")"
        if [[ "$port" =~ ^[0-9]+$ ]] && port_answers "$port"; then
            return 0
        fi
    fi
    port_answers 9222
}

start() {
    if [ "$(id -u)" -eq 0 ] && [ "${TAVRO_BROWSER_AS_ROOT:-}" != 1 ]; then
        echo "Not starting the browser as root: it would run without its sandbox." >&2
        echo "Start it as your own user, or set TAVRO_BROWSER_AS_ROOT=1 for a throw-away test browser." >&2
        exit 1
    fi
    local browser
    browser="$(find_browser)"
    # The profile holds the port file: readable by the user alone.
    (umask 077 && mkdir -p "$profile")
    chmod 700 "$profile"
    local args=(
        "--user-data-dir=$profile"
        --remote-debugging-port=0
        --remote-debugging-address=127.0.0.1
        --no-first-run
        --no-default-browser-check
    )
    # Chromium's sandbox refuses to run as root; only asked for above.
    if [ "$(id -u)" -eq 0 ]; then
        args+=(--no-sandbox)
    fi
    "$browser" "${args[@]}" "$@"
}

case "${1:-}" in
--running)
    running
    ;;
--demo)
    shift
    # The pages are served for as long as the browser runs.
    # Installed, the pages sit beside this script; in the source tree, one folder up.
    demo="$here/demo"
    [ -d "$demo" ] || demo="$here/../demo"
    coproc server { exec python3 "$here/demo_server.py" "$demo"; }
    server_pid=$server_PID
    trap 'kill "$server_pid" 2>/dev/null || true' EXIT
    read -r port <&"${server[0]}"
    start "$@" "http://demo.localhost:$port/"
    ;;
--install-desktop-entry)
    applications="$data_home/applications"
    mkdir -p "$applications"
    sed "s|@START_BROWSER@|$here/start-browser.sh|" "$here/tavro-popup-blocker-browser.desktop.in" \
        >"$applications/tavro-popup-blocker-browser.desktop"
    echo "Installed $applications/tavro-popup-blocker-browser.desktop"
    ;;
*)
    start "$@"
    ;;
esac
