# shellcheck shell=bash
# Shared by the benchmark scripts.

# measure RUNS COMMAND...: runs COMMAND RUNS times and prints the wall time (s), the processor
# time (s, user and system) and the peak memory (kB) of the median run by wall time. Output
# files are removed by the caller between runs if needed.
measure() {
    local runs=$1
    shift
    local log results=()
    log=$(mktemp)
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %U %S %M" -o "$log" "$@" >/dev/null 2>&1
        results+=("$(awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$log")")
    done
    rm -f "$log"
    printf '%s\n' "${results[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
