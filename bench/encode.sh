#!/usr/bin/env bash
# Times Quillora's encoder against Debian's ffmpeg doing the same two jobs, side by side, on
# one generated 720x576 MPEG-2 source, and prints the wall-time ratios (ours / theirs).
# Usage: bench/encode.sh [SECONDS_OF_SOURCE=120] [RUNS=3]
set -euo pipefail
cd "$(dirname "$0")/.."
length=${1:-120}
runs=${2:-3}
ours=build/bin/ffmpeg
[ -x "$ours" ] || bash scripts/build.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Generating a ${length} s 720x576 MPEG-2 source..."
ffmpeg -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -f lavfi -i "sine=sample_rate=48000" \
    -t "$length" -c:v mpeg2video -b:v 6M -flags +ilme+ildct -c:a mp2 -b:a 192k "$work/source.mpg"

# shellcheck source=bench/lib.sh
source bench/lib.sh

job() {
    local name=$1 ours_options=$2 theirs_options=$3
    local t_ours m_ours t_theirs m_theirs
    # shellcheck disable=SC2086
    read -r t_ours m_ours < <(measure "$runs" "$ours" -y -i "$work/source.mpg" $ours_options "$work/ours.flv")
    # shellcheck disable=SC2086
    read -r t_theirs m_theirs < <(measure "$runs" ffmpeg -v error -y -i "$work/source.mpg" $theirs_options "$work/theirs.flv")
    printf '%-8s ours %6.2f s %5d MB   debian ffmpeg %6.2f s %5d MB   ratio %.2f\n' "$name" \
        "$t_ours" "$((m_ours / 1024))" "$t_theirs" "$((m_theirs / 1024))" \
        "$(echo "$t_ours / $t_theirs" | bc -l)"
    for f in ours theirs; do
        printf '         %-6s %s\n' "$f" "$(ffprobe -v error -show_entries \
            stream=codec_name,width,height,r_frame_rate,bit_rate:format=duration -of csv=p=0 \
            "$work/$f.flv" | tr '\n' ' ')"
    done
}

job default "-b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1" \
    "-c:v flv1 -b:v 468k -r 25 -s 240x180 -c:a libmp3lame -ar 22050 -b:a 48k -ac 1"
job large "-b 1600kb/s -r 25 -s 800x600 -deinterlace -ar 44100Hz -ab 128 -ac 2" \
    "-c:v flv1 -b:v 1600k -r 25 -vf yadif,scale=800:600 -c:a libmp3lame -ar 44100 -b:a 128k -ac 2"
