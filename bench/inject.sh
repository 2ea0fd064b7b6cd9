#!/usr/bin/env bash
# Times metadata injection on a generated 128 MB, 600 s FLV (Sorenson H.263 + MP3), side by
# side, on the filesystem of the temporary folder and, where this machine can mount images
# (root, a loop device), on an ext4 image made with mkfs.ext4's defaults (a journal, no
# discard: what an installer makes) and an XFS image with reflink (mkfs.xfs). The images sit on
# loop devices with direct I/O, so a flush waits for the disk under them, as on a real one.
# Rows: cp as the floor (a real copy), cp and a flush of the copy (sync -d, as ours flushes
# before it replaces), cp --reflink where the filesystem shares blocks, yamdi, flvmeta -U, and
# our flvtool2 -U in place and to a new file; in place, also the same update by hand (cp,
# sync -d, mv over the original), which deletes the old file as ours does, and rm of a flushed
# copy alone, which is what that deletion costs on the filesystem.
# Each figure is the median of RUNS runs with a warm cache: wall time, peak memory (GNU time),
# the ratio to cp + sync and, on XFS, the new blocks that ours took (df before and after).
# Usage: bench/inject.sh [RUNS=5]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
ours=$PWD/build/bin/flvtool2
[ -x "$ours" ] || bash scripts/build.sh
work=$(mktemp -d)
loops=()
cleanup() {
    local fs
    for fs in ext4 xfs; do
        mountpoint -q "$work/$fs" 2>/dev/null && umount "$work/$fs"
    done
    for loop in "${loops[@]}"; do losetup -d "$loop"; done
    rm -rf "$work"
}
trap cleanup EXIT

echo "Generating a 600 s FLV..."
ffmpeg -v error -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=sample_rate=44100" \
    -t 10 -c:v flv1 -b:v 1600k -g 25 -c:a libmp3lame -b:a 128k "$work/part.flv"
for _ in $(seq 60); do echo "file '$work/part.flv'"; done >"$work/list.txt"
ffmpeg -v error -f concat -safe 0 -i "$work/list.txt" -c copy "$work/in.flv"
size=$(stat -c %s "$work/in.flv")
echo "Input: $((size / 1000000)) MB, median of $runs runs"

# timed PREPARE COMMAND...: runs PREPARE (untimed), then COMMAND under GNU time, RUNS times;
# prints the median wall time in seconds and the peak memory of that run in kB.
timed() {
    local prepare=$1
    shift
    local log results=() start end
    log=$(mktemp)
    for _ in $(seq "$runs"); do
        $prepare
        start=$EPOCHREALTIME
        /usr/bin/time -v -o "$log" "$@" >/dev/null 2>&1
        end=$EPOCHREALTIME
        results+=("$(echo "$end - $start" | bc -l) $(awk -F': ' '/Maximum resident/ { print $2 }' "$log")")
    done
    rm -f "$log"
    printf '%s\n' "${results[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}
used() { stat -f -c '%b %f %S' "$1" | awk '{ printf "%.0f\n", ($1 - $2) * $3 }'; }
row() {
    local name=$1 time=$2 mem=$3 floor=$4
    printf '  %-22s %8.3f s %8.1f MB peak %7.2fx cp+sync\n' "$name" "$time" \
        "$(echo "$mem / 1024" | bc -l)" "$(echo "$time / $floor" | bc -l)"
}

# bench DIR: every command on the filesystem that holds DIR.
bench() {
    local dir=$1 t m floor
    cp "$work/in.flv" "$dir/in.flv"
    sync -f "$dir"
    echo
    echo "On $(findmnt -n -o FSTYPE -T "$dir") ($(findmnt -n -o SOURCE -T "$dir"), $(stat -f -c %S "$dir")-byte blocks," \
        "mounted $(findmnt -n -o OPTIONS -T "$dir")):"
    # Each command writes a fresh file, as it would for a new recording.
    fresh() { rm -f "$dir/out.flv"; }
    # A recording to update in place: on the disk already, and sharing no blocks.
    recording() {
        rm -f "$dir/out.flv"
        cp --reflink=never "$dir/in.flv" "$dir/out.flv"
        sync -d "$dir/out.flv"
    }
    read -r floor m < <(timed fresh sh -c 'cp --reflink=never "$1" "$2" && sync -d "$2"' sh \
        "$dir/in.flv" "$dir/out.flv")
    read -r t m < <(timed fresh cp --reflink=never "$dir/in.flv" "$dir/out.flv")
    row "cp" "$t" "$m" "$floor"
    row "cp + sync -d" "$floor" "$m" "$floor"
    fresh
    if cp --reflink=always "$dir/in.flv" "$dir/out.flv" 2>/dev/null; then
        read -r t m < <(timed fresh cp --reflink=always "$dir/in.flv" "$dir/out.flv")
        row "cp --reflink" "$t" "$m" "$floor"
    else
        echo "  cp --reflink           (this filesystem shares no blocks)"
    fi
    read -r t m < <(timed fresh yamdi -i "$dir/in.flv" -o "$dir/out.flv")
    row "yamdi" "$t" "$m" "$floor"
    read -r t m < <(timed fresh flvmeta -U "$dir/in.flv" "$dir/out.flv")
    row "flvmeta -U IN OUT" "$t" "$m" "$floor"
    read -r t m < <(timed fresh "$ours" -U "$dir/in.flv" "$dir/out.flv")
    row "flvtool2 -U IN OUT" "$t" "$m" "$floor"
    # Replacing a file also deletes the old one, which cp + sync -d never does: the same update
    # made by hand (a copy, flushed, renamed over the original) is the floor for in place.
    local by_hand
    read -r by_hand m < <(timed recording sh -c \
        'cp --reflink=never "$1" "$1.new" && sync -d "$1.new" && mv "$1.new" "$1"' sh "$dir/out.flv")
    row "cp + sync -d + mv" "$by_hand" "$m" "$floor"
    read -r t m < <(timed recording "$ours" -U "$dir/out.flv")
    row "flvtool2 -U (in place)" "$t" "$m" "$floor"
    local gone
    read -r gone m < <(timed recording rm "$dir/out.flv")
    row "rm of the old file" "$gone" "$m" "$floor"
    echo "  ours in place / (cp + sync -d): $(printf '%.2f' "$(echo "$t / $floor" | bc -l)")x," \
        "/ (cp + sync -d + mv): $(printf '%.2f' "$(echo "$t / $by_hand" | bc -l)")x"
    # What the new file takes, to a new file and in place.
    fresh
    sync -f "$dir"
    local before
    before=$(used "$dir")
    "$ours" -U "$dir/in.flv" "$dir/out.flv"
    sync -f "$dir"
    echo "  flvtool2 -U IN OUT took $((($(used "$dir") - before) / 1024)) kB of new blocks"
    recording
    sync -f "$dir"
    before=$(used "$dir")
    "$ours" -U "$dir/out.flv"
    sync -f "$dir"
    echo "  flvtool2 -U in place took $((($(used "$dir") - before) / 1024)) kB of new blocks"
    echo "  $(flvmeta --check "$dir/out.flv" | tail -n 1) (flvmeta --check of ours)"
    rm -f "$dir/in.flv" "$dir/out.flv"
}

mkdir "$work/here"
bench "$work/here"

if [ "$(id -u)" != 0 ] || [ ! -e /dev/loop-control ]; then
    echo
    echo "No images: mounting one needs root and a loop device."
    exit 0
fi
# image FSTYPE MKFS...: a 1 GB image made by MKFS, mounted on $work/FSTYPE.
image() {
    local fs=$1 loop
    shift
    truncate -s 1G "$work/$fs.img"
    "$@" "$work/$fs.img" >/dev/null
    loop=$(losetup -f --show --direct-io=on "$work/$fs.img")
    loops+=("$loop")
    mkdir "$work/$fs"
    mount -t "$fs" "$loop" "$work/$fs"
}
image ext4 mkfs.ext4 -q -F
bench "$work/ext4"
if ! command -v mkfs.xfs >/dev/null; then
    echo
    echo "No XFS: mkfs.xfs (xfsprogs) is missing."
    exit 0
fi
image xfs mkfs.xfs -q -m reflink=1
bench "$work/xfs"
