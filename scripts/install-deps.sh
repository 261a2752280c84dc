#!/usr/bin/env bash
# install-deps.sh [SET...]
# Installs the Debian packages of the sets named, those that are missing only.
# Runs apt as root, through sudo otherwise. The sets:
#   run       building the programs and running them on a desktop
#   headless  run, and the pieces of a desktop the headless demo starts
#   test      everything: the tests, the package checks, the fuzz targets and
#             the benchmarks (the default)
set -euo pipefail

run_packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev qt6-tools-dev qt6-l10n-tools
    # the SVG icons' image and icon-engine plugins, loaded at run time
    qt6-svg-dev libqt6svg6
    libsecret-1-dev libglib2.0-dev libcanberra-dev libxcb1-dev libssl-dev libsqlite3-dev
    # the reference service's HTTP server
    libcpp-httplib-dev
    # the session bus's tools, which the demo asks the keyring with
    dbus-bin
)
headless_packages=(
    # a private session bus and keyring, a virtual X display, a notification
    # daemon and a tray, driven with real key presses
    dbus gnome-keyring xvfb dunst fonts-dejavu-core trayer xdotool imagemagick python3
    # xmodmap: the characters typed are put in the keyboard map first
    x11-xserver-utils
)
test_packages=(
    # the fuzz targets (libFuzzer) and the sanitizers' symbolizer
    clang-14 libclang-rt-14-dev llvm-14
    # the format check, and clang-tidy for scripts/tidy.sh
    clang-format-14 clang-tidy-14
    # what the tests start besides the headless desktop
    openssl xauth libnotify-bin x11-utils x11-apps desktop-file-utils pkexec file dpkg-dev
    # the desktop's keyring prompter, which the keyring tests show and answer
    gcr
    # gdbus: the roads ask the programs over the bus as a desktop does
    libglib2.0-bin
    # the Wayland road: a compositor, a StatusNotifierItem tray, a notification
    # daemon, typed keys, and Qt's Wayland platform
    sway waybar mako-notifier wtype qt6-wayland
    # the package checks
    lintian appstream libxml2-utils
    # the benchmarks
    libbenchmark-dev
)

[ $# -gt 0 ] || set -- test
packages=()
for set in "$@"; do
    case $set in
        run) packages+=("${run_packages[@]}") ;;
        headless) packages+=("${run_packages[@]}" "${headless_packages[@]}") ;;
        test) packages+=("${run_packages[@]}" "${headless_packages[@]}" "${test_packages[@]}") ;;
        *) echo "install-deps.sh: no package set '$set' (run, headless or test)" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
# A package named in two sets is installed once.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
