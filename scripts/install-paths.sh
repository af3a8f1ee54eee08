# Where the install puts the things that the uninstall must find again.
# Sourced by install.sh and uninstall.sh.

program_folder() {
    echo "$1/lib/tavro-popup-blocker"
}

manifest_path() {
    echo "$1/share/tavro-popup-blocker/installed-files"
}

config_home() {
    local config="${XDG_CONFIG_HOME:-}"
    [[ "$config" == /* ]] || config="$HOME/.config"
    echo "$config"
}

autostart_entry() {
    echo "$(config_home)/autostart/tavro-popup-blocker.desktop"
}

settings_file() {
    echo "$(config_home)/Tavro Popup Blocker.conf"
}

# The guarded browser's profile, where scripts/start-browser.sh writes the
# host's manifest too.
guarded_profile() {
    local data="${XDG_DATA_HOME:-}"
    [[ "$data" == /* ]] || data="$HOME/.local/share"
    echo "$data/tavro-popup-blocker/browser"
}
