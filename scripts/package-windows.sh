#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to Quillora for 64-bit Windows: installs the cross
# toolchain, builds Qt, LAME and FFmpeg once into a cache outside the source tree
# (scripts/windows/toolchain.sh), cross-builds the three programs and writes
#   build/windows/Quillora-<version>-win64.zip      the portable folder
#   build/windows/Quillora-<version>-setup.exe      the installer
# With --test it then runs the Windows tests under Wine. It says how long each step took.
# Usage: package-windows.sh [--test]
set -euo pipefail
cd "$(dirname "$0")/.."
test_too=0
case "${1:-}" in
    "") ;;
    --test) test_too=1 ;;
    *) echo "Usage: package-windows.sh [--test]" >&2; exit 2 ;;
esac

timed() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    local took=$((SECONDS - start))
    printf 'package-windows: %s %dm%02ds\n' "$name" $((took / 60)) $((took % 60))
}

timed packages bash scripts/install-deps.sh build windows
timed toolchain bash scripts/windows/toolchain.sh
prefix=$(bash scripts/windows/toolchain.sh --print-prefix)
# The icon is drawn by a program of the native build, which the cross-build cannot run.
timed icon bash scripts/build.sh icons

version=$(sed -n 's/^project(Quillora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=$PWD/build/windows
tree=$out/build
app=$out/Quillora
configure() {
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/windows/mingw-w64-x86_64.cmake" \
        -DQUILLORA_WIN64_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQUILLORA_WINDOWS_ICON="$PWD/build/artwork/quillora.ico" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
}
timed configure configure
timed build cmake --build "$tree"

folder() {
    rm -rf "$app"
    cmake --install "$tree" --prefix "$app" --strip >/dev/null
    cp build/artwork/quillora.ico "$app/"
}
timed folder folder

portable() {
    rm -f "$out/Quillora-$version-win64.zip"
    (cd "$out" && cmake -E tar cf "Quillora-$version-win64.zip" --format=zip Quillora)
}
timed zip portable

# The installer installs the folder's files one by one, and its uninstaller removes exactly
# those, so that a file the user put in the folder is never taken with it.
installer() {
    local files=$out/files.nsh
    # Each file of the folder as macro $1's arguments: its folder within, and its name.
    each_file() {
        (cd "$app" && find . -type f | sort) | while read -r f; do
            local dir=${f%/*} name=${f##*/}
            dir=${dir#.}
            printf '!insertmacro %s "%s" "%s"\n' "$1" "${dir//\//\\}" "$name"
        done
    }
    {
        echo '!ifdef INSTALLING'
        each_file INSTALL_FILE
        echo '!else'
        each_file REMOVE_FILE
        (cd "$app" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
            d=${d#.}
            printf '!insertmacro REMOVE_FOLDER "%s"\n' "${d//\//\\}"
        done
        echo '!endif'
    } >"$files"
    makensis -V2 -DVERSION="$version" -DSOURCE="$app" -DFILES="$files" \
        -DSIZE_KB="$(du -sk "$app" | cut -f1)" \
        -DOUTPUT="$out/Quillora-$version-setup.exe" dist/windows/installer.nsi
}
timed installer installer
echo "package-windows: $out/Quillora-$version-win64.zip"
echo "package-windows: $out/Quillora-$version-setup.exe"

if [ "$test_too" = 1 ]; then
    timed tests bash scripts/windows/test.sh "$tree"
fi
