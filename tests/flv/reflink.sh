#!/usr/bin/env bash
# flvtool2 -U where the filesystem shares blocks (XFS with reflink, on a loop device) and where
# it does not (tmpfs), on the same generated FLV of some tens of MB: on XFS the copied tags share
# their blocks with the old file and take no new space; both outputs are valid, and they differ
# only inside onMetaData; a kill at any moment leaves the old file or the complete new one, and
# a full filesystem leaves the original untouched, on both.
# Usage: reflink.sh BIN_DIR. Exits 77 (skipped) where it cannot mount a filesystem.
set -euo pipefail
tool=$1/flvtool2
skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ "$(id -u)" = 0 ] || skip "mounting a loop device needs root"
command -v mkfs.xfs >/dev/null || skip "no mkfs.xfs (Debian's xfsprogs)"
command -v losetup >/dev/null || skip "no losetup"
[ -e /dev/loop-control ] || skip "no loop devices on this machine"

work=$(mktemp -d)
loop=
cleanup() {
    for m in "$work/xfs" "$work/tmpfs"; do
        mountpoint -q "$m" && umount "$m"
    done
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/xfs" "$work/tmpfs"
# Sparse: the image takes on the disk only what is written to it.
truncate -s 320M "$work/xfs.img"
mkfs.xfs -q -m reflink=1 "$work/xfs.img" || skip "mkfs.xfs cannot make a filesystem with reflink"
loop=$(losetup -f --show "$work/xfs.img") || skip "no free loop device"
mount -t xfs "$loop" "$work/xfs" || skip "cannot mount XFS from a loop device"
mount -t tmpfs -o size=200M tmpfs "$work/tmpfs" || skip "cannot mount a tmpfs"

# Some 40 MB: two seconds of a noisy picture at a high rate, joined fourteen times.
ffmpeg -v error -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=sample_rate=44100" \
    -t 2 -vf noise=alls=12:allf=t -c:v flv1 -q:v 5 -g 25 -c:a libmp3lame -b:a 128k "$work/part.flv"
for _ in $(seq 14); do echo "file '$work/part.flv'"; done >"$work/list.txt"
ffmpeg -v error -f concat -safe 0 -i "$work/list.txt" -c copy "$work/source.flv"
size=$(stat -c %s "$work/source.flv")
[ "$size" -gt 30000000 ] || fail "the source is only $size bytes"

used() { stat -f -c '%b %f %S' "$1" | awk '{ print ($1 - $2) * $3 }'; }
valid() {
    local check
    check=$(flvmeta --check "$1" | tail -n 1)
    [ "$check" = "0 error(s), 0 warning(s)" ] || fail "flvmeta on $1: $check"
    [ -z "$(ffprobe -v warning "$1" 2>&1)" ] || fail "libavformat warns on $1: $(ffprobe -v warning "$1" 2>&1)"
}
# Where the tags after onMetaData begin: the header, its first PreviousTagSize and that tag.
tags_at() { echo $((13 + 11 + $(od -An -tu1 -j14 -N3 "$1" | awk '{ print $1 * 65536 + $2 * 256 + $3 }') + 4)); }
# What -P prints but the values that the padding moves and the time of writing.
printed() { "$tool" -P "$1" | grep -Ev '^(padding|filesize|datasize|lastkeyframelocation|metadatadate):'; }
only_file() {
    [ "$(ls -A "$(dirname "$1")")" = "$(basename "$1")" ] || fail "left in $(dirname "$1"): $(ls -A "$(dirname "$1")")"
}

# Not shared: packed, as on any filesystem that cannot clone.
cp "$work/source.flv" "$work/tmpfs/packed.flv"
"$tool" -U "$work/tmpfs/packed.flv" || fail "flvtool2 -U on tmpfs"
valid "$work/tmpfs/packed.flv"
"$tool" -P "$work/tmpfs/packed.flv" | grep -q '^padding:' && fail "padded where nothing is shared"

# Shared: a new file beside the old one takes almost no new space, its tags' blocks shared.
cp "$work/source.flv" "$work/xfs/in.flv"
sync -f "$work/xfs"
before=$(used "$work/xfs")
"$tool" -U "$work/xfs/in.flv" "$work/xfs/out.flv" || fail "flvtool2 -U IN OUT on XFS"
sync -f "$work/xfs"
grown=$(($(used "$work/xfs") - before))
echo "a new file of $size bytes took $grown bytes"
[ "$grown" -le 1048576 ] || fail "the new file took $grown bytes"
filefrag -v "$work/xfs/out.flv" | grep -q shared || fail "no shared extents: $(filefrag -v "$work/xfs/out.flv")"
valid "$work/xfs/out.flv"
"$tool" -P "$work/xfs/out.flv" | grep -q '^padding:' || fail "not padded where blocks are shared"
[ "$((($(tags_at "$work/xfs/out.flv") - $(tags_at "$work/source.flv")) % 4096))" = 0 ] ||
    fail "the tags moved by other than whole blocks"
cmp <(tail -c +$(($(tags_at "$work/xfs/out.flv") + 1)) "$work/xfs/out.flv") \
    <(tail -c +$(($(tags_at "$work/tmpfs/packed.flv") + 1)) "$work/tmpfs/packed.flv") ||
    fail "the tags after onMetaData differ from the packed file's"
diff <(printed "$work/xfs/out.flv") <(printed "$work/tmpfs/packed.flv") ||
    fail "onMetaData differs from the packed file's beyond the padding"

# In place, through a link, the space stays as it was; the link and the permissions are kept.
rm "$work/xfs/out.flv"
mkdir "$work/xfs/movies"
mv "$work/xfs/in.flv" "$work/xfs/movies/in.flv"
chmod 640 "$work/xfs/movies/in.flv"
ln -s movies/in.flv "$work/xfs/link.flv"
sync -f "$work/xfs"
before=$(used "$work/xfs")
"$tool" -U "$work/xfs/link.flv" || fail "flvtool2 -U in place on XFS"
sync -f "$work/xfs"
grown=$(($(used "$work/xfs") - before))
echo "in place the file took $grown bytes more"
[ "${grown#-}" -le 1048576 ] || fail "in place the space changed by $grown bytes"
[ -L "$work/xfs/link.flv" ] || fail "the link is gone"
[ "$(stat -c %a "$work/xfs/movies/in.flv")" = 640 ] || fail "the permissions changed"
valid "$work/xfs/movies/in.flv"
rm -r "$work/xfs/link.flv" "$work/xfs/movies"

for fs in xfs tmpfs; do
    # Killed at any moment: the old file or the complete new one, nothing else.
    old=0 new=0
    for delay in 0 0.005 0.01 0.015 0.02 0.03 0.05 0.08 0.12 0.2; do
        mkdir "$work/$fs/kill"
        cp "$work/source.flv" "$work/$fs/kill/movie.flv"
        "$tool" -U "$work/$fs/kill/movie.flv" &
        sleep "$delay"
        kill -KILL $! 2>/dev/null || true
        wait $! 2>/dev/null || true
        only_file "$work/$fs/kill/movie.flv"
        if cmp -s "$work/source.flv" "$work/$fs/kill/movie.flv"; then
            old=$((old + 1))
        else
            new=$((new + 1))
            valid "$work/$fs/kill/movie.flv"
        fi
        rm -r "$work/$fs/kill"
    done
    echo "$fs: killed, the old file was kept $old times, the new one complete $new times"

    # Full: the original is untouched and nothing is left. Where blocks are shared, writing in
    # place needs so little that it may still succeed; a file from elsewhere must be copied.
    mkdir "$work/$fs/full"
    cp "$work/source.flv" "$work/$fs/full/movie.flv"
    filler=$(stat -f -c '%a %S' "$work/$fs" | awk '{ print $1 * $2 }')
    fallocate -l "$filler" "$work/$fs/filler" 2>/dev/null || true
    # Whatever fallocate left, down to the last block.
    cat /dev/zero >>"$work/$fs/filler" 2>/dev/null || true
    for target in "$work/$fs/full/movie.flv" "$work/$fs/full/copied.flv"; do
        status=0
        if [ "$(basename "$target")" = movie.flv ]; then
            "$tool" -U "$target" 2>"$work/err.txt" || status=$?
        else
            "$tool" -U "$work/source.flv" "$target" 2>"$work/err.txt" || status=$?
        fi
        if [ "$status" = 0 ] && [ "$fs" = xfs ] && [ "$(basename "$target")" = movie.flv ]; then
            valid "$target"
            echo "$fs full: in place, it took no space"
            cp "$work/source.flv" "$target" 2>/dev/null || fail "$fs full: cannot restore the original"
            continue
        fi
        [ "$status" = 1 ] || fail "$fs full: exit code $status, not 1: $(cat "$work/err.txt")"
        grep -q 'No space left' "$work/err.txt" || fail "$fs full: $(cat "$work/err.txt")"
        cmp -s "$work/source.flv" "$work/$fs/full/movie.flv" || fail "$fs full: the original changed"
        only_file "$work/$fs/full/movie.flv"
        echo "$fs full: $(cat "$work/err.txt")"
    done
    rm -r "$work/$fs/full" "$work/$fs/filler"
done
echo "PASS: flvtool2 with and without shared blocks"
