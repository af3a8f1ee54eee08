#!/usr/bin/env bash
# Removes what scripts/install.sh put in place, the autostart entry included.
#
#   uninstall.sh [--prefix DIR]
#   uninstall.sh --all-users      as root: takes back what install.sh --all-users wrote
#
# "Whitelst.txt", the allowed domains, and the settings file are the user's
# data: they stay, and the script says where.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/install-paths.sh"

prefix="${HOME:?HOME is not set}/.local"
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --all-users)
        if [ "$(id -u)" -ne 0 ]; then
            echo "--all-users changes what every user's browsers read: run it as root (sudo $0 --all-users)." >&2
            exit 1
        fi
        exec python3 "$here/browsers.py" all-users-uninstall
        ;;
    *)
        sed -n '3,5s/^# \{0,1\}//p' "$0" >&2
        exit 2
        ;;
    esac
done
given="$prefix"
prefix="$(cd "$prefix" 2>/dev/null && pwd)" || prefix="$given"
manifest="$(manifest_path "$prefix")"
if [ ! -f "$manifest" ]; then
    echo "No install of Tavro Popup Blocker found in $given." >&2
    exit 1
fi

# Only files below the prefix, so a damaged list cannot reach anything else.
while IFS= read -r file; do
    case "$file" in
    "$prefix"/*) rm -f -- "$file" ;;
    esac
done <"$manifest"
rm -f -- "$(autostart_entry)"

# The host's manifests in the browsers' folders: only those naming this
# install's host, so another install's stay.
host="$(program_folder "$prefix")/tavro-popup-blocker-host"
python3 "$here/browsers.py" user-uninstall --host "$host" --folder "$(guarded_profile)/NativeMessagingHosts"

# Folders the install made go once empty; the program's folder keeps the list.
folder="$(program_folder "$prefix")"
share="$(dirname "$manifest")"
rmdir "$share/demo" "$share/extension" "$share" "$folder" 2>/dev/null || true
if command -v update-desktop-database >/dev/null 2>&1 && [ -d "$prefix/share/applications" ]; then
    update-desktop-database -q "$prefix/share/applications" || true
fi

echo "Removed Tavro Popup Blocker from $prefix." >&2
if [ -e "$folder/Whitelst.txt" ]; then
    echo "Your allowed domains stay in $folder/Whitelst.txt; a new install finds them there." >&2
fi
if [ -e "$(settings_file)" ]; then
    echo "Your options stay in $(settings_file)." >&2
fi
