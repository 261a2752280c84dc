#!/usr/bin/env bash
# Installs the Debian packages the suite needs to build, run and be tested,
# those that are missing only. Runs apt as root, through sudo otherwise.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev qt6-tools-dev qt6-l10n-tools
    # the SVG icons' image and icon-engine plugins, loaded at run time
    qt6-svg-dev libqt6svg6
    libsecret-1-dev libglib2.0-dev libcanberra-dev libxcb1-dev libssl-dev libsqlite3-dev
    # the reference service's HTTP server
    libcpp-httplib-dev
    # the fuzz targets (libFuzzer) and the sanitizers' symbolizer
    clang-14 libclang-rt-14-dev llvm-14
    # the desktop's components the suite runs on, and the tests start
    dbus dbus-bin gnome-keyring openssl
    xvfb xauth dunst libnotify-bin x11-utils x11-apps fonts-dejavu-core
    desktop-file-utils pkexec file dpkg-dev
    # the package checks
    lintian appstream libxml2-utils
    # the end-to-end tests and the headless demo drive a real X display
    xdotool trayer imagemagick python3
    # the benchmarks
    libbenchmark-dev
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
