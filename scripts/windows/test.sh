#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, in a Wine prefix of the build's own (made on first
# use). Heavy checks (the whole conversion through the window) run only with QUILLORA_HEAVY=1.
# Usage: test.sh BUILD_TREE     (build/windows/build, as scripts/package-windows.sh makes it)
set -euo pipefail
tree=$(realpath "$1")
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEDEBUG=-all WINEPREFIX=$tree/wine
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # No display: the prefix is made without the dialogs that would want one.
    DISPLAY='' "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" -w
fi
exclude=(-LE heavy)
[ "${QUILLORA_HEAVY:-0}" = 1 ] && exclude=()
ctest --test-dir "$tree" --output-on-failure --timeout 300 "${exclude[@]}"
