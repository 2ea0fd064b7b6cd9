# Shared by the benchmark scripts.

# measure RUNS COMMAND...: runs COMMAND RUNS times and prints the wall time (s) and the peak
# memory (kB) of the median run. Output files are removed by the caller between runs if needed.
measure() {
    local runs=$1
    shift
    local log results=()
    log=$(mktemp)
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1
        results+=("$(cat "$log")")
    done
    rm -f "$log"
    printf '%s\n' "${results[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
