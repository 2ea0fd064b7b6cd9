#!/usr/bin/env bash
# Runs a Qt test program built for Windows under Wine, and prints its report. Under Wine a
# test's standard output does not reach the caller, so the report goes to a file first.
# Usage: run-test.sh TEST_EXE [ARGS...]
set -euo pipefail
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
report=$(mktemp --tmpdir quillora-test-report-XXXXXX.txt)
trap 'rm -f "$report"' EXIT
status=0
"$wine" "$@" -o "Z:${report//\//\\},txt" || status=$?
cat "$report"
exit "$status"
