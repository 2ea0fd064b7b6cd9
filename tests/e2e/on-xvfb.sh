#!/usr/bin/env bash
# Runs a command on a virtual X display of its own and returns its exit code. Xvfb picks a free
# display number itself and says which once it takes connections, so that two displays started
# at the same moment (two test runs side by side) never race for one number, and nothing
# connects before the display is there.
# Usage: on-xvfb.sh [--screen WxHxDEPTH] COMMAND [ARGS...]
set -euo pipefail
screen=1024x768x24
if [ "${1:-}" = --screen ]; then
    screen=$2
    shift 2
fi
command -v Xvfb >/dev/null || { echo "SKIP: no Xvfb"; exit 77; }
number=$(mktemp)
server=""
stop() {
    [ -z "$server" ] || { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
    rm -f "$number"
}
trap stop EXIT
# Starts Xvfb and sets DISPLAY; false when it takes no connections.
start() {
    : >"$number"
    # -noreset: a server resets when its last client leaves (a probe, an xprop), and refuses
    # the programs that connect while it does.
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$number" 2>/dev/null &
    server=$!
    for _ in $(seq 600); do
        [ -s "$number" ] && break
        kill -0 "$server" 2>/dev/null || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
        sleep 0.05
    done
    [ -s "$number" ] || { echo "FAIL: Xvfb did not start in 30 s" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$number")"
    command -v xdotool >/dev/null || return 0
    for _ in $(seq 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
unset XAUTHORITY
for attempt in 1 2 3; do
    start && break
    stop
    server=""
    [ "$attempt" = 3 ] && { echo "FAIL: no display took connections" >&2; exit 1; }
done
status=0
"$@" || status=$?
exit "$status"
