#!/usr/bin/env bash
# From a fresh Debian 12 machine to a running Quillora: installs what building and running need
# (nothing for the tests), builds the three programs and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
# Asked first, so that nobody waits for a build that could not be shown.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Quillora needs a graphical session: run scripts/run.sh in a terminal of your desktop (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    exit 1
fi
bash scripts/install-deps.sh build run
bash scripts/build.sh quillora ffmpeg flvtool2
exec build/bin/quillora
