#!/usr/bin/env bash
# Quillora for Windows as a user meets it, under Wine on a virtual display with openbox: the
# installer run silently for the current user (Start-menu entry, Apps & features entry), then a
# whole conversion through the real window (the source typed into the file dialog, the folder
# into the folder browser, Alt+E, "FLV ENCODED!", "METADATA INJECTED!", an FLV that ffprobe
# and flvmeta accept), a cancelled encode, a refused second start, and the uninstaller, which
# must leave nothing behind.
# Usage: wine-window.sh SETUP_EXE [SCREENSHOT_DIR]
set -euo pipefail
setup=$(realpath "$1")
shots=${2:-}
if [ -z "${QUILLORA_UNDER_XVFB:-}" ]; then
    export QUILLORA_UNDER_XVFB=1
    exec "$(dirname "$0")/../e2e/on-xvfb.sh" --screen 1280x1024x24 "$0" "$@"
fi
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# Wine is slow to start a program the first time.
window_deadline=90
encode_deadline=240

work=$(mktemp -d)
export WINEPREFIX=$work/wine WINEDEBUG=-all
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
managed() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
. "$(dirname "$0")/../e2e/x11-helpers.sh"
until_true 30 managed || fail "openbox did not start"

DISPLAY='' "$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
# Windows has Tahoma, the window's font; a new Wine prefix has not, though Debian's Wine has it.
# Only the regular face: the outlines of Wine's bold one are no heavier, and a bold request on
# the regular face is drawn emboldened, as on Linux.
cp /usr/share/wine/fonts/tahoma.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# Installed silently, for the current user.
"$wine" "$setup" /S
"$wineserver" -w
user_dir=$WINEPREFIX/drive_c/users/$(id -un)
app=$user_dir/AppData/Local/Programs/Quillora
[ -f "$app/quillora.exe" ] || fail "the installer put no quillora.exe in $app"
for f in ffmpeg.exe flvtool2.exe platforms/qwindows.dll uninstall.exe; do
    [ -f "$app/$f" ] || fail "the installer put no $f"
done
start_menu="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillora.lnk"
[ -f "$start_menu" ] || fail "no Start-menu entry"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillora'
"$wine" reg query "$uninstall_key" /v DisplayName 2>/dev/null | grep -q Quillora ||
    fail "no entry in Apps & features"

videos="$work/My Videos"
mkdir -p "$videos/Out folder"
ffmpeg -v error -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine -t 4 \
    -c:v mpeg4 -c:a pcm_s16le "$videos/Summer clip.avi"
ffmpeg -v error -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine -t 300 \
    -c:v mpeg4 -q:v 20 -c:a pcm_s16le "$videos/Long clip.avi"
# Wine's folder chooser keeps a title of its own where Windows shows the one it was given.
folder_title="Select Folder"
# Wine sees the machine's root as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

cd "$app"
"$wine" quillora.exe &
first=$!
pids+=("$first")
main_shown() { [ -n "$(visible Quillora)" ] && [ "$(xdotool search --onlyvisible --name '^Quillora$' | wc -l)" -eq 1 ]; }
until_true "$window_deadline" main_shown || fail "the main window did not appear alone"
main=$(visible Quillora)

# Chooses source $1 and output folder $2 through the dialogs.
choose_files() {
    local dialog
    dialog=$(open_with "$main" alt+i "Open Video File to Encode") || fail "Alt+I opened no file dialog"
    choose "$dialog" "Open Video File to Encode" "$(windows_path "$1")" ||
        fail "the file dialog did not take $1"
    dialog=$(open_with "$main" alt+o "$folder_title") || fail "Alt+O opened no folder dialog"
    choose "$dialog" "$folder_title" "$(windows_path "$2")" ||
        fail "the folder dialog did not take $2"
}

# Waits for the message box that ends a run and prints its id.
outcome() {
    found() { [ -n "$(visible Message)$(visible Error)" ]; }
    until_true "$encode_deadline" found || return 1
    visible Message
    visible Error
}

choose_files "$videos/Summer clip.avi" "$videos/Out folder"
shot windows-window
key "$main" alt+e || fail "the main window does not take the keyboard"
encoded=$(outcome) || fail "no message after the encode"
[ -n "$(visible Error)" ] && fail "the encode failed"
answer "$encoded" || fail "the message after the encode stayed open"
box=$(window Message "" "$encoded") || fail "no message after the metadata step"
answer "$box" || fail "the message after the metadata step stayed open"
expect_converted "$videos/Out folder/Summer clip.flv"
[ -z "$(find "$videos/Out folder" -name '*.part')" ] || fail "a temporary file was left"

# A cancel in the encoder's window: nothing is written.
choose_files "$videos/Long clip.avi" "$videos/Out folder"
key "$main" alt+e || fail "the main window does not take the keyboard"
progress=$(window "Quillora - Encoding") || fail "no progress window"
sleep 2
key "$progress" alt+c || fail "the progress window does not take the keyboard"
question=$(window Quillora "" "$main") || fail "Cancel asked nothing"
key "$question" alt+y || fail "the question does not take the keyboard"
until_true "$window_deadline" hidden "$question" || fail "the question stayed open"
told=$(window Quillora "" "$main") || fail "the cancel was not reported"
answer "$told" || fail "the cancel's report stayed open"
shot windows-cancelled
failed=$(window Error) || fail "no failure message after the cancelled encode"
answer "$failed" || fail "the message after the cancel stayed open"
[ ! -e "$videos/Out folder/Long clip.flv" ] || fail "the cancelled encode wrote a file"
[ -z "$(find "$videos/Out folder" -name '*.part' -o -name '.*')" ] || fail "a temporary file was left"

# A second start is refused, and the first keeps running.
"$wine" quillora.exe &
second=$!
pids+=("$second")
box=$(window Error) || fail "the second start showed no refusal"
answer "$box" || fail "the refusal stayed open"
ended() { ! kill -0 "$second" 2>/dev/null; }
until_true "$window_deadline" ended || fail "the second start kept running"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
kill "$first" 2>/dev/null || true
"$wineserver" -k || true

# Uninstalled silently: nothing of Quillora is left.
cd "$work"
"$wine" "$app/uninstall.exe" /S /CurrentUser
"$wineserver" -w
gone() { [ ! -e "$app" ] && [ ! -e "$start_menu" ]; }
until_true 60 gone || fail "the uninstaller left $(find "$app" "$start_menu" 2>/dev/null | head -5)"
! "$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "the Apps & features entry stayed"
echo "PASS: installed, a conversion and a cancel through the window, a refused second start, uninstalled"
