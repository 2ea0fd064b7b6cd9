#!/usr/bin/env bash
# Runs every desktop check (the CTest label "gui") N times in a row and counts the passes of
# each, to show that none of them passes or fails by chance. Failed runs' logs are kept.
# Usage: repeat-desktop-checks.sh [N] [BUILD_DIR]
set -euo pipefail
times=${1:-20}
build=${2:-build}
logs=$(mktemp -d --tmpdir desktop-checks-XXXXXX)
declare -A passed=()
for i in $(seq "$times"); do
    ctest --test-dir "$build" -L gui --timeout 300 --output-on-failure >"$logs/run-$i.log" 2>&1 || true
    while read -r name verdict; do
        [ "$verdict" = Passed ] && passed[$name]=$((${passed[$name]:-0} + 1))
        passed[$name]=${passed[$name]:-0}
    done < <(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) \.*[* ]*\([A-Za-z]*\).*/\1 \2/p' "$logs/run-$i.log")
    grep -q "100% tests passed" "$logs/run-$i.log" && rm "$logs/run-$i.log"
done
status=0
for name in $(printf '%s\n' "${!passed[@]}" | sort); do
    echo "$name: ${passed[$name]} of $times"
    [ "${passed[$name]}" -eq "$times" ] || status=1
done
[ -z "$(ls -A "$logs")" ] || { echo "logs of failed runs: $logs"; status=1; }
exit $status
