#!/usr/bin/env bash
# Configures and builds into build/ (the programs land in build/bin/): the targets named, or
# everything. With --release, a Release build of the programs alone into build/release/, as a
# distribution would build them (no tests). Warnings are errors here, for developers and CI.
# Usage: build.sh [--release] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = --release ]; then
    shift
    dir=build/release
    options=(-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF)
fi
options+=(-G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Configured every time (it takes a moment): tools installed since the last run, such as clang
# for the sanitized build after scripts/run.sh, are found.
cmake -S . -B "$dir" "${options[@]}" >/dev/null
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
cmake --build "$dir" "${targets[@]}"
