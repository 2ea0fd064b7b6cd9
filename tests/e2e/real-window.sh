#!/usr/bin/env bash
# Drives the real quillora, with the real ffmpeg and flvtool2 beside it in an application
# folder whose path has a space, on a virtual display, as a user would: Alt+I and a file name
# typed into the open dialog, Alt+O and a folder, Alt+E, then OK on each message. Checks the
# FLV with ffprobe and flvmeta, then that a second start is refused while the first runs.
# Usage: real-window.sh BIN_DIR [SCREENSHOT_DIR]
set -euo pipefail
bin=$1
shots=${2:-}
if [ -z "${DISPLAY:-}" ] || [ -z "${QUILLORA_UNDER_XVFB:-}" ]; then
    export QUILLORA_UNDER_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
unset QT_QPA_PLATFORM

work=$(mktemp -d)
app="$work/Quillora app"
videos="$work/My Videos \$HOME"
mkdir -p "$app" "$videos/Out folder ü"
cp "$bin/quillora" "$bin/ffmpeg" "$bin/flvtool2" "$app/"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -n "$shots" ] && import -window root "$shots/failure.png" 2>/dev/null
    exit 1
}
shot() { [ -n "$shots" ] && import -window root "$shots/$1.png"; return 0; }

# The id of the visible window titled exactly $1, if there is one.
visible() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1 || true
}

# The id of the visible window titled exactly $1, waiting up to 20 s.
window() {
    for _ in $(seq 100); do
        local id
        id=$(visible "$1")
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}

# Presses the default button of a message box: a click near its lower right corner.
answer() {
    local id=$1 x y w h
    eval "$(xdotool getwindowgeometry --shell "$id")"
    x=$((X + WIDTH - 50)); y=$((Y + HEIGHT - 22))
    xdotool mousemove "$x" "$y" click 1
}

key() {
    xdotool windowfocus --sync "$1"
    xdotool key --clearmodifiers "$2"
}

# Presses access key $2 on window $1 until a window titled $3 opens (the splash window may
# still hold the input for a moment), and prints that window's id.
open_with() {
    for _ in $(seq 15); do
        key "$1" "$2"
        for _ in $(seq 10); do
            local id
            id=$(visible "$3")
            [ -n "$id" ] && { echo "$id"; return 0; }
            sleep 0.2
        done
    done
    return 1
}

ffmpeg -v error -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine -t 4 \
    -c:v mpeg4 -c:a pcm_s16le "$videos/Summer CLIP.AVI"

cd "$videos"
"$app/quillora" &
pids+=($!)
main=$(window Quillora) || fail "the main window did not appear"
# The splash window closes by itself; until then it holds the input.
for _ in $(seq 100); do
    [ "$(xdotool search --onlyvisible --pid "${pids[0]}" 2>/dev/null | wc -l)" -le 1 ] && break
    sleep 0.1
done

dialog=$(open_with "$main" alt+i "Open Video File to Encode") || fail "Alt+I opened no file dialog"
shot open-dialog
xdotool type --delay 10 "Summer CLIP.AVI"
xdotool key Return
sleep 0.5
dialog=$(open_with "$main" alt+o "Select Your Output Folder") || fail "Alt+O opened no folder dialog"
xdotool type --delay 10 "Out folder ü"
xdotool key Return
sleep 0.5
shot window
key "$main" alt+e

progress=$(window "Quillora - Encoding") && shot progress || true
box=$(window Message) || fail "no message after the encode"
shot encoded
answer "$box"
sleep 0.5
box=$(window Message) || fail "no message after the metadata step"
shot metadata
answer "$box"
sleep 0.5

out="$videos/Out folder ü/Summer CLIP.flv"
[ -f "$out" ] || fail "no output file"
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$out" | sort |
    tr '\n' ' ' | grep -q "flv1,240,180 mp3" || fail "unexpected streams"
flvmeta --check "$out" | grep -q "0 error(s), 0 warning(s)" || fail "flvmeta finds problems"

# A second start is refused with a message of its own, and the first keeps running.
"$app/quillora" &
second=$!
pids+=("$second")
box=$(window Error) || fail "the second start showed no refusal"
shot refused
answer "$box"
for _ in $(seq 50); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
kill -0 "$second" 2>/dev/null && fail "the second start kept running"
kill -0 "${pids[0]}" 2>/dev/null || fail "the first instance ended"
echo "PASS: a real conversion through the window, and a refused second start"
