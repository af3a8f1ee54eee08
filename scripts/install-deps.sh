#!/usr/bin/env bash
# Installs the Debian packages that running, building and testing need.
# Idempotent and quiet: it asks apt only when something is missing.
#
#   install-deps.sh [run|build|test]
#
#   run    what the installed program and its browser script need at run time
#   build  run, and what building the release configuration needs
#   test   build, and what the tests, the format check, the extension's linter
#          and the benchmarks need (the default)
set -euo pipefail

# The libraries the program links come with their -dev packages below, under
# whatever name the Debian release gives them; these are the rest.
run_packages=(
    qt6-qpa-plugins
    chromium xdg-utils xclip python3
    fonts-dejavu-core fonts-dejavu-extra
)
build_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev
    libgl-dev libxkbcommon-dev
    libboost-dev nlohmann-json3-dev
    libx11-dev libxi-dev
    libasound2-dev
    libcurl4-openssl-dev
)
test_packages=(
    clang clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    alsa-utils firefox-esr
    xvfb xauth xdotool x11-utils imagemagick trayer iproute2
    desktop-file-utils appstream
)

level="${1:-test}"
case "$level" in
run) packages=("${run_packages[@]}") ;;
build) packages=("${run_packages[@]}" "${build_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${build_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: install-deps.sh [run|build|test]" >&2
    exit 2
    ;;
esac

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
updated=0

install_missing() {
    local missing=() p
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    if [ "$updated" -eq 0 ]; then
        "${sudo_cmd[@]}" apt-get update -qq
        updated=1
    fi
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The fuzz test links clang's libFuzzer runtime, packaged under clang's own
# version where the release packages it apart (in older releases clang brings it).
clang_runtime() {
    local major
    major="$(clang -dumpversion 2>/dev/null | cut -d. -f1)"
    if [ -n "$major" ] && apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
        echo "libclang-rt-$major-dev"
    fi
}

# npm's web-ext lints the browser extension and builds its Firefox package;
# pinned, so that a newer linter's opinions come with a change here.
web_ext_version=10.7.0
install_web_ext() {
    [ "$(web-ext --version 2>/dev/null)" = "$web_ext_version" ] && return 0
    command -v npm >/dev/null 2>&1 || install_missing nodejs npm
    echo "Installing: web-ext $web_ext_version (npm)" >&2
    "${sudo_cmd[@]}" npm install --global --no-audit --no-fund --loglevel=error "web-ext@$web_ext_version" >/dev/null
}

install_missing "${packages[@]}"
if [ "$level" = test ]; then
    runtime="$(clang_runtime)"
    [ -z "$runtime" ] || install_missing "$runtime"
    install_web_ext
fi
