#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Idempotent and quiet: it asks apt only when something is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang clang-format libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
    libgl-dev libxkbcommon-dev
    libboost-dev nlohmann-json3-dev
    libx11-dev libxi-dev
    libasound2-dev alsa-utils
    libcurl4-openssl-dev
    chromium firefox-esr xdg-utils
    xvfb xauth xdotool x11-utils imagemagick trayer
    python3 fonts-dejavu-core fonts-dejavu-extra
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
