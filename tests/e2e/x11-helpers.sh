# shellcheck shell=bash
# Sourced by the checks that drive real windows with xdotool: finding windows by title, giving
# them the keyboard, answering message boxes, typing into file dialogs, and a failure report
# with the windows shown and a screenshot. The checks set window_deadline (seconds) and shots
# (a folder for screenshots, or empty) first.

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
        picture=$(mktemp --tmpdir window-check-failure-XXXXXX.png)
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

# Gives each keysym named ($1...) a key of its own in the display's keyboard map, for the rest
# of the run. Called before the program under test starts, so that it reads a map that already
# holds them: left to itself, xdotool types a letter that the map lacks (an "ü") by binding it
# to a spare key just while it presses it, and Qt, which reads the map again when told of a
# change, reads it after the binding was undone when the machine is loaded, and types nothing.
keep_keys() {
    local keysym code
    for keysym in "$@"; do
        xmodmap -pke | grep -q " $keysym\( \|$\)" && continue
        code=$(xmodmap -pke | awk 'NF == 3 { code = $2 } END { print code }')
        [ -n "$code" ] || fail "no spare key for $keysym"
        xmodmap -e "keycode $code = $keysym"
    done
}

# Types $3 into the name field of file dialog $1, titled $2, and accepts it. A name that
# names nothing gets a warning titled as the dialog: it is answered, and the name typed again.
# A letter that the keyboard map lacks wants keep_keys first.
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
            picture=$(mktemp --tmpdir window-check-retry-XXXXXX.png)
            import -window root "$picture" 2>/dev/null || true
            echo "note: the dialog did not take \"$name\" (screenshot: $picture);" \
                 "typing it again" >&2
            answer "$warning" || return 1
            warning=""
        fi
    done
    return 1
}

# Checks that $1 is what the default settings make of a test source with sound: Sorenson video
# at 240x180 and MP3, in which flvmeta finds nothing wrong.
expect_converted() {
    [ -f "$1" ] || fail "no output file"
    ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$1" | sort |
        tr '\n' ' ' | grep -q "flv1,240,180 mp3" || fail "unexpected streams"
    flvmeta --check "$1" | grep -q "0 error(s), 0 warning(s)" || fail "flvmeta finds problems"
}
