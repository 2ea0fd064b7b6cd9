#!/usr/bin/env bash
# Builds the Debian package as a distribution would: a Release build with Debian's hardening
# flags, without the tests, for the prefix /usr, then cpack. Prints the package's path.
# Usage: package.sh [BUILD_DIR]   (build/package unless told)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/package}
bash scripts/install-deps.sh build package
# Debian's own flags, with every hardening feature (bindnow too); given on each configure, as
# CMake would read CXXFLAGS and LDFLAGS from the environment only the first time.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)")
command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" "${options[@]}" >/dev/null
cmake --build "$dir"
rm -f "$dir"/quillora_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$(cd "$dir" && pwd)"/quillora_*.deb
