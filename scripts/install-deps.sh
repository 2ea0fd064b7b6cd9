#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Quillora need,
# and only those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config clang clang-format libclang-rt-14-dev
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
    # run: the window font and a display for the window checks
    fonts-wine xvfb xauth xdotool imagemagick
    # test oracles and benchmark peers
    ffmpeg flvmeta yamdi bc
    # the desktop checks: a window manager, a session bus, AT-SPI, X from Python, a cursor theme
    openbox dbus-daemon at-spi2-core python3-pyatspi python3-xlib adwaita-icon-theme
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
