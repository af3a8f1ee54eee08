#!/usr/bin/env bash
# Starts Chromium, or Firefox with --firefox, on Tavro Popup Blocker's own
# profile for it, with a debugging port that the program finds through a file
# in the profile (DevToolsActivePort, WebDriverBiDiServer.json). The port
# listens on 127.0.0.1 only. The browser extension is loaded too, and its
# host made known to the browser, so the program hears of the browser's pages
# through the extension as well; --without-port opens no port at all, and the
# extension alone tells of the pages.
#
#   start-browser.sh [--firefox] [--without-port] [ADDRESS...]        the browser, on these addresses
#   start-browser.sh [--firefox] [--without-port] --demo [OPTION...]  the browser on the demo pages
#   start-browser.sh [--firefox] --running           exit status 0 when the program would find that browser
#   start-browser.sh [--firefox] --install-desktop-entry
#       adds "Chromium (Tavro Popup Blocker)" or "Firefox (Tavro Popup Blocker)" to the desktop's menu
#   start-browser.sh [--firefox] --installed          exit status 0 when that browser is installed
#
# $TAVRO_CHROMIUM names another Chromium-family browser, $TAVRO_FIREFOX
# another Firefox.
#
# As root Chromium would have to run without its sandbox (--no-sandbox),
# which leaves every page it shows one bug away from the whole machine: the
# script refuses to start a browser as root unless $TAVRO_BROWSER_AS_ROOT is 1,
# as the tests' throw-away browsers set it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

data_home="${XDG_DATA_HOME:-}"
[[ "$data_home" == /* ]] || data_home="$HOME/.local/share"
family=chromium
if [ "${1:-}" = --firefox ]; then
    family=firefox
    shift
fi
debugging_port=1
if [ "${1:-}" = --without-port ]; then
    debugging_port=0
    shift
fi
# Installed, the extension and the host's manifest sit beside this script; in
# the source tree there is the extension alone, and no host to name.
extension="$here/extension"
[ -d "$extension" ] || extension="$here/../extension"
host_manifest="$here/native-messaging-chromium.json"
[ "$family" = firefox ] && host_manifest="$here/native-messaging-firefox.json"
xpi="$here/tavro-popup-blocker.xpi"
native_host_name=tavro_popup_blocker
gecko_id=popup-blocker@tavro.example
if [ "$family" = firefox ]; then
    profile="$data_home/tavro-popup-blocker/firefox"
else
    profile="$data_home/tavro-popup-blocker/browser"
fi

find_firefox() {
    if [ -n "${TAVRO_FIREFOX:-}" ]; then
        echo "$TAVRO_FIREFOX"
        return
    fi
    for candidate in firefox-esr firefox; do
        if command -v "$candidate" >/dev/null 2>&1; then
            command -v "$candidate"
            return
        fi
    done
    echo "No Firefox found; install firefox-esr or set TAVRO_FIREFOX." >&2
    exit 1
}

find_browser() {
    if [ "$family" = firefox ]; then
        find_firefox
        return
    fi
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
    if [ "$family" = firefox ]; then
        local port
        port="$(sed -n 's/.*"ws_port": *\([0-9][0-9]*\).*/\1/p' "$profile/WebDriverBiDiServer.json" 2>/dev/null || true)"
        [ -n "$port" ] && port_answers "$port"
        return
    fi
    if [ -s "$profile/DevToolsActivePort" ]; then
        local port
        port="$(head -n 1 "$profile/DevToolsActivePort")"
        if [[ "$port" =~ ^[0-9]+$ ]] && port_answers "$port"; then
            return 0
        fi
    fi
    port_answers 9222
}

# Adds the preference to the profile's user.js unless it is set there already.
prefer() {
    local user_js="$profile/user.js"
    grep -qs "\"$1\"" "$user_js" && return
    echo "user_pref(\"$1\", $2);" >>"$user_js"
}

# The extension in the profile's own extensions folder, which Firefox reads
# at its start: Debian's firefox-esr takes it unsigned once signatures are not
# required, enables it without asking once no folder is set apart for
# extensions that others put in place, and grants it the sites it asks for,
# as an install from a file would once the user agreed.
install_firefox_extension() {
    [ -f "$xpi" ] || return 0
    mkdir -p "$profile/extensions"
    cp "$xpi" "$profile/extensions/$gecko_id.xpi"
    prefer xpinstall.signatures.required false
    prefer extensions.autoDisableScopes 0
    prefer extensions.originControls.grantByDefault true
}

# Firefox reads the host's manifest from one folder for all its profiles.
write_host_manifest() {
    [ -f "$host_manifest" ] || return 0
    local folder="$profile/NativeMessagingHosts"
    [ "$family" = firefox ] && folder="$HOME/.mozilla/native-messaging-hosts"
    mkdir -p "$folder"
    cp "$host_manifest" "$folder/$native_host_name.json"
}

start_firefox() {
    # Firefox's remote agent would otherwise change the browser the user
    # browses with (its own pop-up blocker among others) to suit automated testing.
    prefer remote.prefs.recommended false
    install_firefox_extension
    local args=(--profile "$profile")
    [ "$debugging_port" -eq 0 ] || args+=(--remote-debugging-port=0)
    "$1" "${args[@]}" "${@:2}"
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
    write_host_manifest
    if [ "$family" = firefox ]; then
        start_firefox "$browser" "$@"
        return
    fi
    local args=(
        "--user-data-dir=$profile"
        "--load-extension=$extension"
        --no-first-run
        --no-default-browser-check
    )
    [ "$debugging_port" -eq 0 ] || args+=(--remote-debugging-port=0 --remote-debugging-address=127.0.0.1)
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
--installed)
    (find_browser >/dev/null 2>&1)
    ;;
--install-desktop-entry)
    applications="$data_home/applications"
    mkdir -p "$applications"
    entry=tavro-popup-blocker-browser
    [ "$family" = firefox ] && entry=tavro-popup-blocker-firefox
    sed "s|@START_BROWSER@|$here/start-browser.sh|" "$here/$entry.desktop.in" >"$applications/$entry.desktop"
    echo "Installed $applications/$entry.desktop"
    ;;
*)
    start "$@"
    ;;
esac
