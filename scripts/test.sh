#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a full test run. Heavy checks carry the
# CTest label "heavy" and run only with QUILLORA_HEAVY=1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build run test package
bash scripts/build.sh
# The Release build that distributions make, compiled only: GCC warns of other things at -O3.
bash scripts/build.sh --release quillora ffmpeg flvtool2
export QT_QPA_PLATFORM=offscreen
exclude=(-LE heavy)
[ "${QUILLORA_HEAVY:-0}" = 1 ] && exclude=()
ctest --test-dir build --output-on-failure -j2 --timeout 300 "${exclude[@]}"
