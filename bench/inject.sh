#!/usr/bin/env bash
# Times metadata injection on a generated 128 MB, 600 s FLV (Sorenson H.263 + MP3): cp as the
# floor, yamdi, flvmeta -U and our flvtool2 -U, side by side, each the median of RUNS runs
# with a warm cache; prints wall time, peak memory and the ratio to cp.
# Usage: bench/inject.sh [RUNS=3]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
ours=$PWD/build/bin/flvtool2
[ -x "$ours" ] || bash scripts/build.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Generating a 600 s FLV..."
ffmpeg -v error -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=sample_rate=44100" \
    -t 10 -c:v flv1 -b:v 1600k -g 25 -c:a libmp3lame -b:a 128k "$work/part.flv"
for _ in $(seq 60); do echo "file '$work/part.flv'"; done > "$work/list.txt"
ffmpeg -v error -f concat -safe 0 -i "$work/list.txt" -c copy "$work/in.flv"
size=$(stat -c %s "$work/in.flv")
echo "Input: $((size / 1000000)) MB"

# shellcheck source=bench/lib.sh
source bench/lib.sh
read -r cp_time cp_mem < <(measure "$runs" cp "$work/in.flv" "$work/out.flv")
report() {
    local name=$1 time=$2 mem=$3
    printf '%-16s %6.2f s  %8.1f MB peak  %5.2fx cp\n' "$name" "$time" "$(echo "$mem / 1024" | bc -l)" \
        "$(echo "$time / $cp_time" | bc -l)"
}
report cp "$cp_time" "$cp_mem"
# Ours flushes the new file to disk before it replaces the old one; cp does not.
read -r t m < <(measure "$runs" sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/in.flv" "$work/out.flv")
report "cp + sync" "$t" "$m"
read -r t m < <(measure "$runs" yamdi -i "$work/in.flv" -o "$work/out.flv"); report yamdi "$t" "$m"
read -r t m < <(measure "$runs" flvmeta -U "$work/in.flv" "$work/out.flv"); report "flvmeta -U" "$t" "$m"
read -r t m < <(measure "$runs" "$ours" -U "$work/in.flv" "$work/out.flv"); report "flvtool2 -U (ours)" "$t" "$m"
flvmeta --check "$work/out.flv" | tail -n 1
