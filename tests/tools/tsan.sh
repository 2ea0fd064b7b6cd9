#!/usr/bin/env bash
# Builds the encoder and its stage tests with ThreadSanitizer in a tree of their own, then runs
# the stage tests and every encode of tst_Encoder through the sanitized ffmpeg. Any report of
# a data race or a deadlock fails the run.
# Usage: tsan.sh SOURCE_DIR BUILD_DIR TST_ENCODER
set -euo pipefail
source_dir=$1
tree=$2/tsan
tst_encoder=$3
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$source_dir" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
    -DQUILLORA_SANITIZED_BUILD=OFF "${launcher[@]}" >/dev/null
cmake --build "$tree" --target ffmpeg tst_EncoderStages

reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
export TSAN_OPTIONS="log_path=$reports/tsan second_deadlock_stack=1 suppressions=$(dirname "$0")/tsan.supp"
export QT_QPA_PLATFORM=offscreen
# The encoder tests replay kept inputs from the source tree.
export QUILLORA_SOURCE_DIR=$source_dir
status=0
"$tree/tests/tst_EncoderStages" || status=1
QUILLORA_BIN_DIR="$tree/bin" QUILLORA_HEAVY=${QUILLORA_HEAVY:-0} "$tst_encoder" || status=1
if compgen -G "$reports/tsan*" >/dev/null; then
    cat "$reports"/tsan*
    echo "FAIL: ThreadSanitizer reports ($(ls "$reports" | wc -l))"
    exit 1
fi
[ $status -eq 0 ] || { echo "FAIL: a test failed under ThreadSanitizer"; exit 1; }
echo "PASS: no ThreadSanitizer report"
