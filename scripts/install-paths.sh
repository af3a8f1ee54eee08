# Where the install puts the things that the uninstall must find again.
# Sourced by install.sh and uninstall.sh.

program_folder() {
    echo "$1/lib/tavro-popup-blocker"
}

manifest_path() {
    echo "$1/share/tavro-popup-blocker/installed-files"
}

autostart_entry() {
    local config="${XDG_CONFIG_HOME:-}"
    [[ "$config" == /* ]] || config="$HOME/.config"
    echo "$config/autostart/tavro-popup-blocker.desktop"
}

settings_file() {
    local config="${XDG_CONFIG_HOME:-}"
    [[ "$config" == /* ]] || config="$HOME/.config"
    echo "$config/Tavro Popup Blocker.conf"
}
