#!/usr/bin/env bash
# Runs every test function of a Qt Test program on its own, so that no function relies on
# what an earlier one left behind (a source file, an environment variable).
# Usage: each-function-alone.sh TEST_PROGRAM
set -uo pipefail
program=$1
functions=$("$program" -functions | sed 's/()$//') || { echo "FAIL: $program -functions"; exit 1; }
failed=()
for f in $functions; do
    if ! "$program" "$f" >"${TMPDIR:-/tmp}/alone.$$.log" 2>&1; then
        failed+=("$f")
        cat "${TMPDIR:-/tmp}/alone.$$.log"
    fi
done
rm -f "${TMPDIR:-/tmp}/alone.$$.log"
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAIL: run alone, these fail: ${failed[*]}"
    exit 1
fi
echo "PASS: each of $(echo "$functions" | wc -w) functions on its own"
