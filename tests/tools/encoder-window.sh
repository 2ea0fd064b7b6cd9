#!/usr/bin/env bash
# The real encoder with its progress window on a virtual display, as the desktop program
# starts it: an encode that is cancelled with the window's Cancel button says so in a message
# of its own before the encoder ends, with exit code 1 and nothing written; an encode left
# alone ends with exit code 0 and a file. With UMASK_GUARD naming tests/tools/UmaskGuard.cpp's
# library, neither may call umask() while its threads run.
# Usage: encoder-window.sh BIN_DIR [SCREENSHOT_DIR]
set -euo pipefail
bin=$1
shots=${2:-}
. "$(dirname "$0")/../e2e/virtual-display.sh"
export QUILLORA_PROGRESS_WINDOW=1

work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -n "$shots" ] && import -window root "$shots/encoder-failure.png" 2>/dev/null
    exit 1
}
shot() { [ -n "$shots" ] && import -window root "$shots/$1.png"; return 0; }

# The ids of the visible windows titled exactly $1.
visible() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }

# The id of a visible window titled exactly $1 that is not $2, waiting up to 20 s.
window() {
    for _ in $(seq 100); do
        local id
        id=$(visible "$1" | grep -vx "${2:-none}" | tail -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}

key() {
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key --clearmodifiers "$2"
}

ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25 -t 120 -c:v mpeg4 "$work/source.avi"
mkdir "$work/out"
preload=()
[ -n "${UMASK_GUARD:-}" ] && preload=(env "LD_PRELOAD=$UMASK_GUARD")
encode() {
    "${preload[@]}" "$bin/ffmpeg" -i "$work/source.avi" -b 1600kb/s -r 25 -s 800x600 -deinterlace -an \
        "$work/out/$1.flv" 2>"$work/$1.err" &
    pid=$!
}

# Cancelled with the button: a question, then a message of its own, then exit code 1.
encode cancelled
progress=$(window "Quillora - Encoding") || fail "no progress window"
shot encoder-progress
key "$progress" alt+c
question=$(window Quillora) || fail "the Cancel button asked nothing"
key "$question" alt+y
notice=$(window Quillora "$question") || fail "no message says that the encode was cancelled"
shot encoder-cancelled
kill -0 "$pid" 2>/dev/null || fail "the encoder ended before its message was read"
key "$notice" Return
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 1 ] || fail "exit code $status after a cancel, not 1"
grep -q "cancelled; nothing was written" "$work/cancelled.err" ||
    fail "the encoder did not say it was cancelled: $(cat "$work/cancelled.err")"
[ -z "$(ls -A "$work/out")" ] || fail "a cancelled encode left $(ls -A "$work/out")"

# Left alone, the window closes by itself and the file is there.
ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 3 -c:v mpeg4 "$work/source.avi"
encode done
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "exit code $status for an encode left alone: $(cat "$work/done.err")"
[ -s "$work/out/done.flv" ] || fail "no output after a finished encode"
expected=$(printf '%o' $((0666 & ~0$(umask))))
[ "$(stat -c %a "$work/out/done.flv")" = "$expected" ] ||
    fail "the new file has mode $(stat -c %a "$work/out/done.flv"), not $expected"
! grep -h umask-guard "$work"/*.err || fail "the encoder changed its umask while threads ran"
echo "PASS: the encoder's window cancels with a message of its own, and finishes on its own"
