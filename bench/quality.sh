#!/usr/bin/env bash
# Our encoder against Debian's ffmpeg command line on a corpus close to real video, at the four
# jobs that span the window's settings. For each encode it prints the wall-time ratio (ours /
# theirs), the video bitrate reached against the one chosen, the keyframe interval, and PSNR-Y
# and SSIM against the source passed through the same filter chain. Quality is compared at equal
# size: where the command line misses our size by more than 3%, it is run again with its
# bitrate corrected until it lands within 3% (its wall time is that of the job as given).
#
# Usage: bench/quality.sh [--table] [SOURCE...]
#   SOURCE        one or more of the corpus names below (default: all), so that a long run can
#                 be split into pieces; results are kept and the table shows every piece done.
#   --table       only print the table of the results kept so far.
#   --corpus      only make the sources.
#   QUALITY_SECONDS  length of each source made (default 30; shorter ones for quick looks).
#   QUALITY_WORK     where the corpus and the results are kept (default build/quality-SECONDS).
#   QUALITY_OURS     our encoder (default build/bin/ffmpeg).
#   QUALITY_THREADS  how many video encoders ours runs at once (-threads; default: its own
#                    choice). Give each count its own QUALITY_WORK to compare their tables.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${QUALITY_SECONDS:-30}
work=${QUALITY_WORK:-build/quality-$seconds}
ours=${QUALITY_OURS:-build/bin/ffmpeg}
threads=()
[ -n "${QUALITY_THREADS:-}" ] && threads=(-threads "$QUALITY_THREADS")
photos=/usr/share/backgrounds/mate/nature
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
corpus=(photo-pan photo-zoom talking-head fast-motion film-grain interlaced-576i dark-scene
    screen-content vp6-flv)
jobs=(default small medium large)

table_only=0
corpus_only=0
wanted=()
for a in "$@"; do
    case $a in
        --table) table_only=1 ;;
        --corpus) corpus_only=1 ;;
        *) wanted+=("$a") ;;
    esac
done
[ ${#wanted[@]} -gt 0 ] || wanted=("${corpus[@]}")
mkdir -p "$work/corpus" "$work/out" "$work/results"

# The job's options for our encoder, as the desktop program writes them.
ours_options() {
    case $1 in
        default) echo "-b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1" ;;
        small) echo "-b 160kb/s -r 25 -s 160x120 -ar 22050Hz -ab 48 -ac 1" ;;
        medium) echo "-b 768kb/s -r 25 -s 480x360 -ar 22050Hz -ab 48 -ac 1" ;;
        large) echo "-b 1600kb/s -r 25 -s 800x600 -deinterlace -ar 44100Hz -ab 128 -ac 2" ;;
    esac
}
# kbit/s, WIDTHxHEIGHT, de-interlace (0/1), sampling rate, audio kbit/s, channels.
job_settings() {
    case $1 in
        default) echo "468 240 180 0 22050 48 1" ;;
        small) echo "160 160 120 0 22050 48 1" ;;
        medium) echo "768 480 360 0 22050 48 1" ;;
        large) echo "1600 800 600 1 44100 128 2" ;;
    esac
}
# Our video filter chain (videoFilterDescription() in tools/encoder): the command line is given
# the same one, and so is the reference the outputs are measured against.
chain() {
    local width=$1 height=$2 deinterlace=$3 filters=""
    [ "$deinterlace" = 1 ] && filters="yadif,"
    echo "${filters}scale=$width:$height,setsar=1,fps=25,format=yuv420p"
}

testdata() {
    local d
    for d in ../shared/testdata ../../shared/testdata /work/shared/testdata; do
        [ -f "$d/vp6-mp3-360x288.flv" ] && { echo "$d/vp6-mp3-360x288.flv"; return; }
    done
}

source_file() {
    case $1 in
        interlaced-576i) echo "$work/corpus/$1.mpg" ;;
        vp6-flv) testdata ;;
        *) echo "$work/corpus/$1.mkv" ;;
    esac
}

# A still photograph as 25 fps video, with a sound track (a beeping tone, stereo, 48 kHz).
still() {
    echo -loop 1 -framerate "${2:-25}" -i "$photos/$1" -f lavfi -i \
        "sine=frequency=440:beep_factor=4:sample_rate=48000"
}
# Near-lossless H.264 in Matroska: decoding it costs both encoders the same little.
keep() {
    echo -t "$seconds" -c:v libx264 -preset veryfast -crf 12 -pix_fmt yuv420p -ac 2 -c:a pcm_s16le
}

make_source() {
    local name=$1 out
    out=$(source_file "$name")
    [ -n "$out" ] && [ -f "$out" ] && return
    local tmp=$work/corpus/making.$$.${out##*.}
    local ff=(ffmpeg -v error -y)
    # shellcheck disable=SC2046
    case $name in
        photo-pan) # grass in detail, panned across slowly in two directions
            "${ff[@]}" $(still Dune.jpg) -vf \
                "crop=960:720:x='(iw-ow)/2*(1-cos(2*PI*t/20))':y='(ih-oh)/2*(1-cos(2*PI*t/13))'" \
                $(keep) "$tmp" ;;
        photo-zoom) # a ladybird among flowers, zoomed in and out
            "${ff[@]}" $(still LadyBird.jpg) -vf \
                "crop=2128:1596,zoompan=z='1.25-0.25*cos(2*PI*on/500)':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=960x720:fps=25" \
                $(keep) "$tmp" ;;
        talking-head) # a figure that sways a little before a soft background, camera noise
            "${ff[@]}" $(still Garden.jpg) -loop 1 -framerate 25 -i "$photos/FreshFlower.jpg" \
                -filter_complex \
                "[0:v]scale=960:720,boxblur=8[bg];[2:v]scale=-2:520,crop=400:480[fg];[bg][fg]overlay=x='280+6*sin(2*PI*t/4)':y='150+4*sin(2*PI*t/2.7)',noise=alls=2:allf=t[v]" \
                -map "[v]" -map 1:a $(keep) "$tmp" ;;
        fast-motion) # a wooden floor swept past at up to 40 pixels a frame
            "${ff[@]}" $(still Wood.jpg) -vf \
                "crop=960:720:x='(iw-ow)/2*(1-cos(2*PI*t/5))':y='(ih-oh)/2*(1-cos(2*PI*t/7))'" \
                $(keep) "$tmp" ;;
        film-grain) # storm clouds, slowly panned, under heavy moving grain
            "${ff[@]}" $(still Storm.jpg) -vf \
                "crop=960:720:x='(iw-ow)/2*(1-cos(2*PI*t/30))':y=(ih-oh)/2,noise=c0s=24:c0f=t+u:c1s=8:c1f=t+u:c2s=8:c2f=t+u" \
                $(keep) "$tmp" ;;
        interlaced-576i) # a pan shot at 50 fields a second, as a broadcast camera makes it
            "${ff[@]}" $(still Blinds.jpg 50) -vf \
                "scale=1440:-2,crop=720:576:x='(iw-ow)/2*(1-cos(2*PI*t/8))':y=(ih-oh)/2,tinterlace=mode=interleave_top,setfield=tff" \
                -t "$seconds" -c:v mpeg2video -b:v 8M -maxrate 9M -bufsize 1835k \
                -flags +ilme+ildct -top 1 -c:a mp2 -b:a 224k -ac 2 "$tmp" ;;
        dark-scene) # rain drops at night: dark, low contrast, slow
            "${ff[@]}" $(still RainDrops.jpg) -vf \
                "scale=1280:-2,crop=960:720:x='(iw-ow)/2*(1-cos(2*PI*t/40))':y=(ih-oh)/2,lutyuv=y='16+(val-16)*0.18':u='128+(val-128)*0.4':v='128+(val-128)*0.4'" \
                $(keep) "$tmp" ;;
        screen-content) # a text window that scrolls three lines a second, a blinking cursor
            "${ff[@]}" -f lavfi -i "color=c=0xf4f4f4:s=960x720:r=25" -f lavfi -i \
                "sine=frequency=440:beep_factor=4:sample_rate=48000" -vf \
                "drawtext=fontfile=$font:textfile=/usr/share/common-licenses/GPL-3:expansion=none:fontsize=15:fontcolor=0x202020:x=20:y='60-19*floor(t*3)':line_spacing=2,drawbox=x=0:y=0:w=960:h=40:color=0x2d5a8c:t=fill,drawbox=x=20:y=690:w=9:h=16:color=black:t=fill:enable='lt(mod(t\,1)\,0.5)'" \
                $(keep) "$tmp" ;;
        *) echo "quality.sh: no source named $name" >&2; exit 2 ;;
    esac
    mv "$tmp" "$out"
}

# Video kbit/s (payload over the frames' duration at 25 fps), frames, and frames per keyframe.
video_stats() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size,flags -of csv=p=0 "$1" |
        awk -F, '{ bytes += $1; n++; if ($2 ~ /K/) keys++ }
            END { printf "%.1f %d %.1f\n", bytes * 8 / 1000 / (n / 25), n, n / (keys ? keys : 1) }'
}

# PSNR-Y and SSIM-Y of each FILE against SOURCE through CHAIN: one line per file, in order.
quality() {
    local src=$1 filters=$2
    shift 2
    local inputs=() graph="[0:v]$filters,setpts=PTS-STARTPTS,settb=AVTB,split=$(($# * 2))" i
    for i in $(seq $#); do graph+="[r${i}p][r${i}s]"; done
    graph+=";"
    i=1
    for f in "$@"; do
        inputs+=(-i "$f")
        graph+="[$i:v]setpts=PTS-STARTPTS,settb=AVTB,split[d${i}p][d${i}s];"
        graph+="[d${i}p][r${i}p]psnr=shortest=1;[d${i}s][r${i}s]ssim=shortest=1;"
        i=$((i + 1))
    done
    # The filters report as they are freed, last first: their numbers in the graph give the order.
    ffmpeg -nostats -hide_banner -i "$src" "${inputs[@]}" -filter_complex "${graph%;}" \
        -f null - 2>&1 |
        awk 'function field(prefix,   k) { for (k = 1; k <= NF; k++)
                                              if (index($k, prefix) == 1)
                                                  return substr($k, length(prefix) + 1) }
             /Parsed_psnr_.* PSNR / { split($0, a, "Parsed_psnr_"); p[a[2] + 0] = field("y:") }
             /Parsed_ssim_.* SSIM / { split($0, a, "Parsed_ssim_"); s[a[2] + 0] = field("Y:") }
             END { n = 0
                   for (k in p) order[n++] = k + 0
                   for (i = 0; i < n; i++) for (j = i + 1; j < n; j++)
                       if (order[j] < order[i]) { t = order[i]; order[i] = order[j]; order[j] = t }
                   # each psnr filter is followed by its ssim filter
                   for (i = 0; i < n; i++) print p[order[i]], s[order[i] + 1] }'
}

seconds_of() { awk '{ print $1 }' "$1"; }
# Processor time, user and system.
cpu_of() { awk '{ printf "%.2f\n", $2 + $3 }' "$1"; }

run_job() {
    local name=$1 job=$2 src=$3
    local kbps width height deinterlace ar ab ac filters
    read -r kbps width height deinterlace ar ab ac < <(job_settings "$job")
    filters=$(chain "$width" "$height" "$deinterlace")
    local base=$work/out/$name.$job ours_line
    # shellcheck disable=SC2046
    /usr/bin/time -f "%e %U %S" -o "$base.ours.time" "$ours" -y -i "$src" $(ours_options "$job") \
        "${threads[@]}" \
        "$base.ours.flv" 2>"$base.ours.err" >/dev/null
    ours_line=$(grep -o 'video .*' "$base.ours.err" | head -1 || true)
    theirs() { # KBPS OUT
        /usr/bin/time -f "%e %U %S" -o "$2.time" ffmpeg -v error -y -i "$src" -c:v flv1 -b:v "$1k" \
            -r 25 -vf "$filters" -g 12 -c:a libmp3lame -ar "$ar" -b:a "${ab}k" -ac "$ac" "$2" \
            >/dev/null 2>&1
    }
    theirs "$kbps" "$base.theirs.flv"
    local o_rate o_frames o_gop t_rate t_frames t_gop
    read -r o_rate o_frames o_gop < <(video_stats "$base.ours.flv")
    read -r t_rate t_frames t_gop < <(video_stats "$base.theirs.flv")
    # The command line at our size: a proportional correction of its rate, three tries at most.
    local eq=$base.theirs.flv eq_rate=$t_rate asked=$kbps
    for _ in 1 2 3; do
        awk -v a="$eq_rate" -v b="$o_rate" 'BEGIN { exit !(a > b * 1.03 || a < b * 0.97) }' ||
            break
        asked=$(awk -v k="$asked" -v a="$eq_rate" -v b="$o_rate" 'BEGIN { printf "%d", k * b / a }')
        eq=$base.theirs-eq.flv
        theirs "$asked" "$eq"
        read -r eq_rate _ _ < <(video_stats "$eq")
    done
    local q
    q=$(quality "$src" "$filters" "$base.ours.flv" "$eq")
    printf '%s %s %s %s %s %s %s %s %s %s %s %s %s %s %s %s\n' "$name" "$job" \
        "$(seconds_of "$base.ours.time")" "$(seconds_of "$base.theirs.flv.time")" "$kbps" \
        "$o_rate" "$t_rate" "$eq_rate" "$o_gop" "$t_gop" \
        "$(echo "$q" | sed -n 1p)" "$(echo "$q" | sed -n 2p)" "$o_frames/$t_frames" \
        "$(cpu_of "$base.ours.time")" "$(cpu_of "$base.theirs.flv.time")" \
        "${ours_line// /_}" >"$work/results/$name.$job"
    rm -f "$base".*.flv
}

print_table() {
    local files=()
    for name in "${corpus[@]}"; do
        for job in "${jobs[@]}"; do
            [ -f "$work/results/$name.$job" ] && files+=("$work/results/$name.$job")
        done
    done
    [ ${#files[@]} -gt 0 ] || { echo "no results yet in $work/results"; return; }
    echo "Sources of $seconds s; ratio = our wall time / the command line's; kbit/s = video only;"
    echo "PSNR-Y (dB) and SSIM-Y against the source through the same filters; the command line's"
    echo "quality at our size (its rate corrected where it missed by more than 3%); gop = frames"
    echo "per keyframe; 'miss' marks our encodes outside the chosen rate's +-5%; wall and cpu"
    echo "(user + system) in seconds; eff = our cpu / (wall x $(nproc) processors)."
    cat "${files[@]}" | awk -v cores="$(nproc)" '
        BEGIN {
            printf "%-15s %-7s %5s %6s %6s %6s %6s %4s %5s %7s %7s %5s %6s %6s %6s %6s %6s %6s %6s %6s  %s\n",
                "source", "job", "ratio", "ours", "cli", "ours", "cli", "eff", "rate", "ours", "cli",
                "miss", "ours", "cli", "dPSNR", "ours", "cli", "size", "gop", "gop", "note"
            printf "%-15s %-7s %5s %6s %6s %6s %6s %4s %5s %7s %7s %5s %6s %6s %6s %6s %6s %6s %6s %6s\n",
                "", "", "time", "wall", "wall", "cpu", "cpu", "", "kb/s", "kb/s", "kb/s", "", "PSNR",
                "PSNR", "", "SSIM", "SSIM", "ratio", "ours", "cli"
        }
        {
            ratio = $3 / $4; err = ($6 - $5) / $5
            miss = (err > 0.05 || err < -0.05) ? sprintf("%+.0f%%", err * 100) : ""
            d = $11 - $13
            eff = $3 > 0 ? $16 / ($3 * cores) : 0
            note = ($18 == "" ? "" : $18); gsub("_", " ", note)
            printf "%-15s %-7s %5.2f %6.2f %6.2f %6.2f %6.2f %4.2f %5d %7.1f %7.1f %5s %6.2f %6.2f %+6.2f %6.4f %6.4f %6.3f %6.1f %6.1f  %s\n",
                $1, $2, ratio, $3, $4, $16, $17, eff, $5, $6, $7, miss, $11, $13, d, $12, $14,
                $6 / $8, $9, $10, note
            n++; sr += ratio; sd += d; so += $11; st += $13; ss += $12; sc += $14
            sw += $3; stw += $4; scpu += $16; stcpu += $17; seff += eff
            if (ratio > worst) worst = ratio
            if (miss == "") inside++
            if ($6 / $8 > 1.03 || $6 / $8 < 0.97) unequal++
        }
        END {
            printf "%-23s %5.2f %6.2f %6.2f %6.2f %6.2f %4.2f %5s %7s %7s %5s %6.2f %6.2f %+6.2f %6.4f %6.4f\n",
                "average", sr / n, sw / n, stw / n, scpu / n, stcpu / n, seff / n, "", "", "", "",
                so / n, st / n, sd / n, ss / n, sc / n
            printf "%d encodes, %d within +-5%% of the chosen rate, %d compared at sizes more than 3%% apart; the slowest ratio %.2f\n",
                n, inside, unequal + 0, worst
        }'
}

if [ "$table_only" = 0 ]; then
    [ -x "$ours" ] || bash scripts/build.sh
    for name in "${wanted[@]}"; do
        src=$(source_file "$name")
        if [ "$name" = vp6-flv ] && [ -z "$src" ]; then
            echo "quality.sh: no shared test data here; vp6-flv left out" >&2
            continue
        fi
        echo "$name: making the source" >&2
        make_source "$name"
        src=$(source_file "$name")
        [ "$corpus_only" = 1 ] && continue
        for job in "${jobs[@]}"; do
            echo "$name: $job" >&2
            run_job "$name" "$job" "$src"
        done
    done
fi
[ "$corpus_only" = 1 ] || print_table
