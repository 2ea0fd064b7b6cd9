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

# Each window that is shown: id, process, geometry and title.
list_windows() {
    local id
    for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
        local pid name
        pid=$(xdotool getwindowpid "$id" 2>/dev/null || echo "?")
        name=$(xdotool getwindowname "$id" 2>/dev/null || echo "?")
        eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null ||
                echo X=? Y=? WIDTH=? HEIGHT=?)"
        echo "  window $id pid $pid at ${X},${Y} ${WIDTH}x${HEIGHT}: \"$name\""
    done
    echo "  keyboard focus: $(xdotool getwindowfocus 2>/dev/null || echo none)"
}

fail() {
    echo "FAIL: $*" >&2
    echo "Windows shown:" >&2
    list_windows >&2
    local picture
    if [ -n "$shots" ]; then
        picture="$shots/failure.png"
    else
        picture=$(mktemp --tmpdir real-window-failure-XXXXXX.png)
    fi
    if import -window root "$picture" 2>/dev/null; then
        echo "Screenshot: $picture" >&2
    else
        echo "No screenshot could be taken" >&2
    fi
    exit 1
}
shot() { [ -n "$shots" ] && import -window root "$shots/$1.png"; return 0; }

# Runs "$@" every 0.2 s until it succeeds, for at most $1 seconds.
until_true() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.2
    done
}

# The ids of the visible windows titled exactly $1, of process $2 if given.
titled() {
    if [ -n "${2:-}" ]; then
        xdotool search --all --onlyvisible --pid "$2" --name "^$1\$" 2>/dev/null || true
    else
        xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true
    fi
}

# The id of a visible window titled exactly $1 (of process $2, if given) other than window $3,
# if there is one.
visible() {
    titled "$1" "${2:-}" | grep -vx "${3:-none}" | tail -n 1 || true
}

# Waits for a window titled exactly $1 (of process $2, other than window $3) and prints its id.
window() {
    local id=""
    found() { id=$(visible "$@"); [ -n "$id" ]; }
    until_true "$window_deadline" found "$@" || return 1
    echo "$id"
}

shown() { xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"; }
hidden() { ! shown "$1"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# Gives window $1 the keyboard and waits until it has it: keys sent before that go elsewhere.
# Fails at once for a window that is not shown (any more).
focus() {
    take() { hidden "$1" || { xdotool windowfocus "$1" 2>/dev/null && has_focus "$1"; }; }
    until_true "$window_deadline" take "$1" && shown "$1"
}

# Sends keys $2... to window $1 once it holds the keyboard.
key() {
    local id=$1
    shift
    focus "$id" || return 1
    xdotool key --clearmodifiers "$@"
}

# Answers message box $1 with its default button and waits until it has gone.
answer() {
    local id=$1
    for _ in 1 2 3 4 5; do
        shown "$id" || return 0
        key "$id" Return || true
        until_true 10 hidden "$id" && return 0
    done
    return 1
}

# Presses access key $2 on window $1 until a window titled $3 opens, and prints that window's
# id. The splash window may still hold the input for a moment; a press while the dialog is
# already on its way reaches a window that the dialog blocks, and is dropped.
open_with() {
    local id=""
    found() { id=$(visible "$3"); [ -n "$id" ]; }
    for _ in $(seq 12); do
        key "$1" "$2" >&2 || true
        if until_true 5 found "$@"; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

# Types $3 into the name field of file dialog $1, titled $2, and accepts it. A name that
# names nothing gets a warning titled as the dialog: it is answered, and the name typed again.
# That is how a lost "ü" comes out: xdotool types a letter that the keyboard lacks by binding
# it to a spare key just while it presses it, and Qt, which reads the keyboard map again when
# it is told of a binding, reads it after the binding was undone when the machine is loaded
# (about one name in five), and types nothing. Changing the display's keyboard map for the
# run instead made Qt miss every key now and then.
choose() {
    local dialog=$1 title=$2 name=$3 warning=""
    settled() {
        hidden "$dialog" || { warning=$(visible "$title" "" "$dialog"); [ -n "$warning" ]; }
    }
    for _ in 1 2 3 4 5; do
        if focus "$dialog"; then
            xdotool key --clearmodifiers ctrl+a
            xdotool type --delay 20 "$name"
            xdotool key Return
        fi
        until_true 30 settled
        hidden "$dialog" && return 0
        if [ -n "$warning" ]; then
            local picture
            picture=$(mktemp --tmpdir real-window-retry-XXXXXX.png)
            import -window root "$picture" 2>/dev/null || true
            echo "note: the dialog did not take \"$name\" (screenshot: $picture);" \
                 "typing it again" >&2
            answer "$warning" || return 1
            warning=""
        fi
    done
    return 1
}

until_true "$window_deadline" managed || fail "openbox did not start"

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

out="$videos/Out folder ü/Summer CLIP.flv"
[ -f "$out" ] || fail "no output file"
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$out" | sort |
    tr '\n' ' ' | grep -q "flv1,240,180 mp3" || fail "unexpected streams"
flvmeta --check "$out" | grep -q "0 error(s), 0 warning(s)" || fail "flvmeta finds problems"

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
