#!/usr/bin/env bash
# Times Quillora's encoder against Debian's ffmpeg doing the same two jobs, side by side, and
# prints the wall-time ratios (ours / theirs), the processor time and the peak memory of each.
# The source is a generated 720x576 interlaced MPEG-2 file unless one is given.
#
# Usage: bench/encode.sh [--stages] [--one-core] [--rate FPS] [--source FILE] [SECONDS_OF_SOURCE=120]
#                        [RUNS=3]
#   --stages     also the processor time of each of our stages' threads, and from those the
#                speed-up that 4, 8 and 16 processors would give (the stage that cannot be
#                shared out sets the pace).
#   --one-core   both encoders on one processor (taskset -c 0).
#   --rate FPS   the generated source has FPS pictures a second (25 unless given): a faster
#                one shows what the output's 25 leaves out costs each encoder.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=0
pin=()
rate=25
source_file=
while [ $# -gt 0 ]; do
    case $1 in
        --stages) stages=1 ;;
        --one-core) pin=(taskset -c 0) ;;
        --rate) rate=$2; shift ;;
        --source) source_file=$(realpath "$2"); shift ;;
        *) break ;;
    esac
    shift
done
length=${1:-120}
runs=${2:-3}
ours=build/bin/ffmpeg
[ -x "$ours" ] || bash scripts/build.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "$source_file" ]; then
    echo "Generating a ${length} s 720x576 MPEG-2 source at $rate pictures a second..."
    ffmpeg -v error -f lavfi -i "testsrc2=size=720x576:rate=$rate" -f lavfi -i "sine=sample_rate=48000" \
        -t "$length" -c:v mpeg2video -b:v 6M -flags +ilme+ildct -c:a mp2 -b:a 192k "$work/source.mpg"
    source_file=$work/source.mpg
fi
[ ${#pin[@]} -eq 0 ] || echo "Both encoders on one processor."

# shellcheck source=bench/lib.sh
source bench/lib.sh

# The stage table of one run of ours: each thread's processor time and its share, then the
# modelled speed-ups. Encoding workers share their stage out; every other thread runs alone.
stage_table() {
    awk -F': ' '/^stage / { name = substr($1, 7); sub(/ s$/, "", $2); t[name] = $2; order[n++] = name
                           total += $2 }
        END {
            for (i = 0; i < n; i++) {
                name = order[i]
                printf "           %-38s %7.2f s %5.1f%%\n", name, t[name], 100 * t[name] / total
                if (name ~ /^video encode/) encode += t[name]
                else if (name !~ /own threads/ && t[name] > alone) { alone = t[name]; slowest = name }
            }
            printf "           %-38s %7.2f s\n", "all", total
            line = "           modelled speed-up over one processor:"
            for (p = 4; p <= 16; p *= 2) {
                shared = (p < 4 ? p : 4)
                wall = total / p
                if (alone > wall) wall = alone
                if (encode / shared > wall) wall = encode / shared
                line = line sprintf("  %d: %.1fx", p, total / wall)
            }
            print line
            printf "           (the longest thread alone: %s; video encoding shared out 4 ways at most)\n", slowest
        }' "$1"
}

job() {
    local name=$1 ours_options=$2 theirs_options=$3
    local t_ours c_ours m_ours t_theirs c_theirs m_theirs
    # shellcheck disable=SC2086
    read -r t_ours c_ours m_ours < <(measure "$runs" "${pin[@]}" "$ours" -y -i "$source_file" $ours_options "$work/ours.flv")
    # shellcheck disable=SC2086
    read -r t_theirs c_theirs m_theirs < <(measure "$runs" "${pin[@]}" ffmpeg -v error -y -i "$source_file" $theirs_options "$work/theirs.flv")
    printf '%-8s ours %6.2f s (cpu %6.2f s) %5d MB   debian ffmpeg %6.2f s (cpu %6.2f s) %5d MB   ratio %.2f\n' \
        "$name" "$t_ours" "$c_ours" "$((m_ours / 1024))" "$t_theirs" "$c_theirs" "$((m_theirs / 1024))" \
        "$(echo "$t_ours / $t_theirs" | bc -l)"
    for f in ours theirs; do
        printf '         %-6s %s\n' "$f" "$(ffprobe -v error -show_entries \
            stream=codec_name,width,height,r_frame_rate,bit_rate:format=duration -of csv=p=0 \
            "$work/$f.flv" | tr '\n' ' ')"
    done
    if [ "$stages" = 1 ]; then
        # shellcheck disable=SC2086
        QUILLORA_STAGE_TIMES=1 "${pin[@]}" "$ours" -y -i "$source_file" $ours_options "$work/ours.flv" \
            2>"$work/stages" >/dev/null
        stage_table "$work/stages"
    fi
}

job default "-b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1" \
    "-c:v flv1 -b:v 468k -r 25 -s 240x180 -c:a libmp3lame -ar 22050 -b:a 48k -ac 1"
job large "-b 1600kb/s -r 25 -s 800x600 -deinterlace -ar 44100Hz -ab 128 -ac 2" \
    "-c:v flv1 -b:v 1600k -r 25 -vf yadif,scale=800:600 -c:a libmp3lame -ar 44100 -b:a 128k -ac 2"
