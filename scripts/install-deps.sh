#!/usr/bin/env bash
# Installs the Debian 12 packages of the sets named (build, run, test, package), and only those
# that are missing, so a second run costs nothing.
#   scripts/run.sh      build run                 (build and start the desktop program)
#   scripts/test.sh     build run test package    (every test)
#   scripts/package.sh  build package             (the .deb)
#   scripts/package-windows.sh  build windows     (the Windows zip and installer)
# Usage: install-deps.sh SET...
set -euo pipefail

# Compiling the three programs, the icons and the man pages.
build=(
    cmake ninja-build g++ pkg-config scdoc
    qt6-base-dev
    libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
)
# Running them: the window font.
run=(
    fonts-wine
)
# The tests: the sanitized build and the fuzzers, a display and a window manager for the window
# checks, the validators, test oracles and benchmark peers.
test=(
    clang clang-format libclang-rt-14-dev
    xvfb xauth xdotool imagemagick x11-xserver-utils
    desktop-file-utils appstream man-db
    ffmpeg flvmeta yamdi bc time
    # flvtool2 where blocks are shared: an XFS image on a loop device, and filefrag
    xfsprogs e2fsprogs
    # the desktop checks: a window manager, a session bus, AT-SPI, X from Python, a cursor theme
    openbox dbus-daemon at-spi2-core python3-pyatspi python3-xlib adwaita-icon-theme
    # bench/quality.sh: photographs to pan and zoom, a font for its screen content
    mate-backgrounds fonts-dejavu-core
)
# Quillora for Windows: the cross-compilers and what builds Qt, LAME and FFmpeg with them, the
# installer's compiler, and Wine with a display and a window manager for the tests.
windows=(
    g++-mingw-w64-x86-64-posix nasm autoconf automake libtool dpkg-dev pkg-config
    qt6-base-dev-tools nsis wine64 fonts-wine xvfb openbox xdotool imagemagick
)
# Making and checking the package.
package=(
    dpkg-dev file lintian
)

[ $# -gt 0 ] || { echo "Usage: install-deps.sh build|run|test|package|windows..." >&2; exit 2; }
packages=()
for set in "$@"; do
    case $set in
        build) packages+=("${build[@]}") ;;
        run) packages+=("${run[@]}") ;;
        test) packages+=("${test[@]}") ;;
        package) packages+=("${package[@]}") ;;
        windows) packages+=("${windows[@]}") ;;
        *) echo "install-deps.sh: no package set named $set" >&2; exit 2 ;;
    esac
done

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
# Without the Recommends: on a fresh system they would add some 90 packages (systemd, GTK,
# video drivers) that nothing here needs, and that a desktop has anyway.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
