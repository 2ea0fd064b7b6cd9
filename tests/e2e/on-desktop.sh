#!/usr/bin/env bash
# Runs a desktop check (a Python script beside this one) on a virtual display of its own with a
# session bus, as a user's desktop has them; the script starts the window manager.
# Usage: on-desktop.sh SCRIPT ARGS...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script=$1
shift
# Debian's Python, which has the X and accessibility bindings.
exec "$here/on-xvfb.sh" --screen 1280x1024x24 \
    dbus-run-session -- /usr/bin/python3 "$here/$script" "$@"
