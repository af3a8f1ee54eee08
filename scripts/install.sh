#!/usr/bin/env bash
# Installs Tavro Popup Blocker for the current user.
#
#   install.sh [--prefix DIR] [--autostart] [--from-build DIR] [--quiet]
#
#   --prefix DIR      where to install; ~/.local by default. The program's own
#                     folder, where it keeps "Whitelst.txt", is DIR/lib/tavro-popup-blocker.
#   --autostart       also start the program at login, once the panel is up.
#   --from-build DIR  install what the build folder DIR holds instead of
#                     building the release configuration.
#   --quiet           say only what it builds, and what fails.
#
# The install is per user: the program writes "Whitelst.txt" into its own
# folder, which a system-wide install would make read-only. "Whitelst.txt" and
# the settings file are the user's and are never touched; installing again
# while the program runs is safe, as it keeps the folder it started from.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(dirname "$here")"
. "$here/install-paths.sh"

prefix="${HOME:?HOME is not set}/.local"
autostart=0
build=""
quiet=0
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --autostart) autostart=1; shift ;;
    --from-build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --quiet) quiet=1; shift ;;
    *)
        sed -n '3,11s/^# \{0,1\}//p' "$0" >&2
        exit 2
        ;;
    esac
done
say() {
    [ "$quiet" -eq 1 ] || echo "$@" >&2
}

mkdir -p "$prefix"
prefix="$(cd "$prefix" && pwd)"

if [ -z "$build" ]; then
    build="$source_dir/build/release"
    echo "Building the release configuration (log: $build/build.log)" >&2
    mkdir -p "$build"
    if ! (cd "$source_dir" && cmake --preset release && cmake --build --preset release) >"$build/build.log" 2>&1; then
        tail -n 30 "$build/build.log" >&2
        exit 1
    fi
fi

if ! cmake --install "$build" --prefix "$prefix" >"$build/install.log" 2>&1; then
    cat "$build/install.log" >&2
    exit 1
fi
# The list of what the install put in place, for the uninstall, which must work
# when the build folder is long gone.
manifest="$(manifest_path "$prefix")"
# CMake ends the list without a line end.
{
    cat "$build/install_manifest.txt"
    echo
    echo "$manifest"
} >"$manifest"

if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$prefix/share/applications" || true
fi

# The host's manifest, for each browser the user has, tells the browser
# where the extension's host is. Installing again after a new browser came
# writes the manifest for that one too.
share="$(dirname "$manifest")"
hosts=()
while IFS= read -r browser; do
    [ -d "$browser" ] || continue
    mkdir -p "$browser/NativeMessagingHosts"
    cp "$share/native-messaging-chromium.json" "$browser/NativeMessagingHosts/$native_host_name.json"
    hosts+=("$browser/NativeMessagingHosts")
done < <(chromium_family_folders)
if [ -d "$(firefox_folder)" ]; then
    mkdir -p "$(firefox_folder)/native-messaging-hosts"
    cp "$share/native-messaging-firefox.json" "$(firefox_folder)/native-messaging-hosts/$native_host_name.json"
    hosts+=("$(firefox_folder)/native-messaging-hosts")
fi

# An autostart entry asked for now, or left by an earlier install, starts this install.
entry="$(autostart_entry)"
if [ "$autostart" -eq 1 ] || [ -e "$entry" ]; then
    mkdir -p "$(dirname "$entry")"
    {
        cat "$prefix/share/applications/tavro-popup-blocker.desktop"
        # Wait for the panel, so that the icon finds its notification area.
        echo "X-GNOME-Autostart-enabled=true"
        echo "X-GNOME-Autostart-Delay=10"
        echo "X-KDE-autostart-after=panel"
        echo "X-KDE-autostart-phase=2"
    } >"$entry"
fi

say "Installed Tavro Popup Blocker in $(program_folder "$prefix")"
say "Start it as $prefix/bin/tavro-popup-blocker or from the desktop's menu."
if [ ${#hosts[@]} -eq 0 ]; then
    # Said even when quiet: without it the extension finds no host.
    echo "No browser's settings folder found (Chromium, Chrome, Brave, Edge, Firefox): no host manifest written." >&2
    echo "Start your browser once, then install again, so that its extension can reach the program." >&2
else
    say "The browser extension's host is known to: ${hosts[*]}"
fi
say "Add the browser extension from $share/extension (Chromium, Chrome, Brave, Edge) or $share/tavro-popup-blocker.xpi (Firefox)."
[ ! -e "$entry" ] || say "It starts at login: $entry"
