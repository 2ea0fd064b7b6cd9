#!/usr/bin/env bash
# Starts the desktop program to its window, and converts a clip with the encoder in its
# progress window and the metadata tool, in a session without XDG_RUNTIME_DIR (su, ssh, a bare
# X server), under a window manager. Every program must start silently: whatever one prints on
# standard error is a fault a user would see in a terminal or a log.
# Usage: quiet-start.sh QUILLORA TOOL_DIR   (the desktop program, and where ffmpeg and flvtool2 are)
set -euo pipefail
quillora=$1
tools=$2
if [ -z "${QUILLORA_UNDER_XVFB:-}" ]; then
    export QUILLORA_UNDER_XVFB=1
    exec "$(dirname "$0")/on-xvfb.sh" "$0" "$@"
fi
unset QT_QPA_PLATFORM XDG_RUNTIME_DIR

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do { kill -9 "$p" && wait "$p"; } 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# The single-instance lock falls back to the temporary folder: a private one, so that another
# test's instance cannot refuse this start.
export TMPDIR="$work" HOME="$work/home"
mkdir "$HOME"
quiet() {
    [ ! -s "$2" ] || fail "$1 printed on standard error: $(head -c 400 "$2")"
}

if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    pids+=($!)
fi

"$quillora" 2>"$work/quillora.err" &
pids+=($!)
for _ in $(seq 100); do
    [ -n "$(xdotool search --onlyvisible --name '^Quillora$' 2>/dev/null)" ] && break
    kill -0 "${pids[-1]}" 2>/dev/null ||
        fail "quillora ended before its window appeared: $(head -c 400 "$work/quillora.err")"
    sleep 0.2
done
[ -n "$(xdotool search --onlyvisible --name '^Quillora$' 2>/dev/null)" ] ||
    fail "the main window did not appear"
# Past the splash window too: a warning may come with the first paint of either.
sleep 3
kill "${pids[-1]}"
quiet quillora "$work/quillora.err"

ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine -t 2 \
    -c:v mpeg4 -c:a pcm_s16le "$work/clip.avi"
QUILLORA_PROGRESS_WINDOW=1 "$tools/ffmpeg" -i "$work/clip.avi" -b 468kb/s -r 25 -s 240x180 \
    -ar 22050Hz -ab 48 -ac 1 "$work/clip.flv" 2>"$work/ffmpeg.err" || fail "the encode failed"
quiet ffmpeg "$work/ffmpeg.err"
"$tools/flvtool2" -U "$work/clip.flv" 2>"$work/flvtool2.err" || fail "the metadata step failed"
quiet flvtool2 "$work/flvtool2.err"
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$work/clip.flv" |
    sort | tr '\n' ' ' | grep -q "flv1,240,180 mp3" || fail "unexpected streams"
"$tools/flvtool2" -P "$work/clip.flv" | grep -q "^keyframes: [1-9]" || fail "no keyframe index"
echo "PASS: the window, an encode in the progress window and the metadata, all silent"
