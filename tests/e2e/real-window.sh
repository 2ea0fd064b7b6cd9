#!/usr/bin/env bash
# Drives the real quillora, with the real ffmpeg and flvtool2 beside it in an application
# folder whose path has a space, on a virtual display, as a user would: Alt+I and a file name
# typed into the open dialog, Alt+O and a folder, Alt+E, then OK on each message, under
# openbox. Checks the FLV with ffprobe and flvmeta, then that a second start is refused while
# the first runs.
# Usage: real-window.sh BIN_DIR [SCREENSHOT_DIR]
#
# Every step waits for what it needs (a window shown and holding the keyboard, a window gone)
# rather than for a fixed time: on a loaded machine each of them may take many times as long
# as on an idle one. A failure prints the windows on the screen and where its screenshot is.
set -euo pipefail
bin=$1
shots=${2:-}
. "$(dirname "$0")/virtual-display.sh"

# How long a window may take to appear or to go, and how long the encode may take.
window_deadline=60
encode_deadline=150

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

# A window manager, as users have one: it decorates, places and focuses the windows, and keeps
# the main window's input when its dialogs close.
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
disown $!
managed() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }

. "$(dirname "$0")/x11-helpers.sh"

until_true "$window_deadline" managed || fail "openbox did not start"
keep_keys udiaeresis

ffmpeg -v error -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine -t 4 \
    -c:v mpeg4 -c:a pcm_s16le "$videos/Summer CLIP.AVI"

cd "$videos"
"$app/quillora" &
first=$!
pids+=("$first")
# Killed at the end; the shell need not report it.
disown "$first"
# The splash window is titled after the program too; the main window is the one that stays.
only_main() { [ "$(xdotool search --onlyvisible --pid "$first" 2>/dev/null | wc -l)" -eq 1 ] &&
              [ -n "$(visible Quillora "$first")" ]; }
until_true "$window_deadline" only_main || fail "the main window did not appear alone"
main=$(visible Quillora "$first")

dialog=$(open_with "$main" alt+i "Open Video File to Encode") || fail "Alt+I opened no file dialog"
shot open-dialog
choose "$dialog" "Open Video File to Encode" "Summer CLIP.AVI" ||
    fail "the file dialog did not take \"Summer CLIP.AVI\""
dialog=$(open_with "$main" alt+o "Select Your Output Folder") || fail "Alt+O opened no folder dialog"
choose "$dialog" "Select Your Output Folder" "Out folder ü" ||
    fail "the folder dialog did not take \"Out folder ü\""
shot window

# The encode runs with the progress window of the encoder; its outcome is a message box.
key "$main" alt+e || fail "the main window does not take the keyboard"
progress_shown=""
outcome() {
    if [ -n "$shots" ] && [ -z "$progress_shown" ] && [ -n "$(visible "Quillora - Encoding")" ]
    then
        shot progress
        progress_shown=1
    fi
    [ -n "$(visible Message "$first")$(visible Error "$first")" ]
}
until_true "$encode_deadline" outcome || fail "no message after the encode"
[ -n "$(visible Error "$first")" ] && fail "the encode failed"
encoded=$(visible Message "$first")
shot encoded
answer "$encoded" || fail "the message after the encode stayed open"
# A message box of its own: never the one just answered.
box=$(window Message "$first" "$encoded") || fail "no message after the metadata step"
shot metadata
answer "$box" || fail "the message after the metadata step stayed open"

expect_converted "$videos/Out folder ü/Summer CLIP.flv"

# A second start is refused with a message of its own, and the first keeps running.
"$app/quillora" &
second=$!
pids+=("$second")
box=$(window Error "$second") || fail "the second start showed no refusal"
shot refused
answer "$box" || fail "the refusal stayed open"
ended() { ! kill -0 "$second" 2>/dev/null; }
until_true "$window_deadline" ended || fail "the second start kept running"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
echo "PASS: a real conversion through the window, and a refused second start"
