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

# The name the browser extension asks its browser for; the host's manifest
# is that name with ".json".
native_host_name=tavro_popup_blocker

# The folders where each browser the user has looks for the host's manifest:
# Chromium-family browsers in their own settings folders, Firefox in one for
# all its profiles. A browser counts as present once its own folder exists.
chromium_family_folders() {
    local config
    config="$(config_home)"
    echo "$config/chromium"
    echo "$config/google-chrome"
    echo "$config/BraveSoftware/Brave-Browser"
    echo "$config/microsoft-edge"
}

firefox_folder() {
    echo "$HOME/.mozilla"
}

# The guarded browser's profile, where scripts/start-browser.sh writes the
# host's manifest too.
guarded_profile() {
    local data="${XDG_DATA_HOME:-}"
    [[ "$data" == /* ]] || data="$HOME/.local/share"
    echo "$data/tavro-popup-blocker/browser"
}
