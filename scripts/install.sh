#!/usr/bin/env bash
# Installs Tavro Popup Blocker for the current user.
#
#   install.sh [--prefix DIR] [--autostart] [--from-build DIR] [--quiet]
#   install.sh --all-users [--from-build DIR]
#
#   --prefix DIR      where to install; ~/.local by default. The program's own
#                     folder, where it keeps "Whitelst.txt", is DIR/lib/tavro-popup-blocker.
#   --autostart       also start the program at login, once the panel is up.
#   --from-build DIR  install what the build folder DIR holds instead of
#                     building the release configuration.
#   --quiet           say only what it builds, and what fails.
#   --all-users       as root: the browser extension in every profile of every
#                     user, with no click (see scripts/browsers.py)
#
# The program's install is per user: the program writes "Whitelst.txt" into
# its own folder, which a system-wide install would make read-only.
# "Whitelst.txt" and the settings file are the user's and are never touched;
# installing again while the program runs is safe, as it keeps the folder it
# started from. --all-users installs the extension's side alone: the host in
# /usr/local/lib/tavro-popup-blocker, where every user can run it, the
# extension signed with a key made here and kept in /var/lib/tavro-popup-blocker,
# the managed policies of each Chromium-family browser installed, the
# policies.json of Firefox ESR and the machine-wide host manifests. Each user
# still installs and runs the program, with a list of their own.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(dirname "$here")"
. "$here/install-paths.sh"

prefix="${HOME:?HOME is not set}/.local"
autostart=0
build=""
quiet=0
all_users=0
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --autostart) autostart=1; shift ;;
    --from-build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --quiet) quiet=1; shift ;;
    --all-users) all_users=1; shift ;;
    *)
        sed -n '3,14s/^# \{0,1\}//p' "$0" >&2
        exit 2
        ;;
    esac
done
say() {
    [ "$quiet" -eq 1 ] || echo "$@" >&2
}

if [ "$all_users" -eq 1 ] && [ "$(id -u)" -ne 0 ]; then
    echo "--all-users changes what every user's browsers read: run it as root (sudo $0 --all-users)." >&2
    exit 1
fi
if [ "$all_users" -eq 0 ]; then
    mkdir -p "$prefix"
    prefix="$(cd "$prefix" && pwd)"
fi

if [ -z "$build" ]; then
    build="$source_dir/build/release"
    echo "Building the release configuration (log: $build/build.log)" >&2
    mkdir -p "$build"
    if ! (cd "$source_dir" && cmake --preset release && cmake --build --preset release) >"$build/build.log" 2>&1; then
        tail -n 30 "$build/build.log" >&2
        exit 1
    fi
fi

# The build's install writes its list of files into the build folder, where a
# second install from it at the same time would take the other's list: one
# install from a build folder at a time.
exec {lock}>"$build/install.lock"
flock "$lock"

if [ "$all_users" -eq 1 ]; then
    # The build's install, set out in a folder of its own, is where the host
    # and the extension are taken from.
    stage="$(mktemp -d)"
    trap 'rm -rf "$stage"' EXIT
    if ! cmake --install "$build" --prefix "$stage" >"$stage/install.log" 2>&1; then
        cat "$stage/install.log" >&2
        exit 1
    fi
    python3 "$here/browsers.py" all-users-install --stage "$stage"
    exit
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
exec {lock}>&-

if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$prefix/share/applications" || true
fi

# The host's manifest, for each browser the user has installed, even one that
# never ran, tells the browser where the extension's host is. Installing again
# after a new browser came writes the manifest for that one too.
share="$(dirname "$manifest")"
hosts=()
advice=()
while IFS=$'\t' read -r what line; do
    case "$what" in
    host) hosts+=("$line") ;;
    advice) advice+=("$line") ;;
    esac
done < <(python3 "$share/browsers.py" user-install --share "$share")

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
    echo "No browser found that the extension can reach (Chromium, Chrome, Brave, Edge, Vivaldi, Firefox, LibreWolf): no host manifest written." >&2
    echo "Install one of them, then install again, so that its extension can reach the program." >&2
else
    say "The browser extension's host is known to: ${hosts[*]}"
fi
for line in "${advice[@]}"; do
    # A browser that cannot be protected this way is worth a word even when quiet.
    echo "$line" >&2
done
say "Add the browser extension from $share/extension (Chromium, Chrome, Brave, Edge, Vivaldi) or $share/tavro-popup-blocker.xpi (Firefox ESR); $share/browsers.py guide opens each browser where it is added."
[ ! -e "$entry" ] || say "It starts at login: $entry"
