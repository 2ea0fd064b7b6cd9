#!/usr/bin/env bash
# The man pages as man shows them: rendered by groff without a single warning, a NAME line that
# whatis and lintian can read, and every option that the helpers' own usage texts name.
# Usage: man-pages.sh MAN_DIR BIN_DIR
set -euo pipefail
man_dir=$1
bin=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
export LC_ALL=C.UTF-8 MANWIDTH=80 MAN_DISABLE_SECCOMP=1

render() {
    local page=$1 warnings
    # --warnings=w is groff -ww: every warning, not only the macro package's.
    warnings=$(man --warnings=w -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
    [ -z "$warnings" ] || fail "$page renders with warnings: $warnings"
    man -l "$page" 2>/dev/null
}

for name in quillora quillora-ffmpeg quillora-flvtool2; do
    page="$man_dir/$name.1.gz"
    [ -s "$page" ] || fail "no $page"
    text=$(render "$page")
    grep -q "^$name(1) " <<<"$text" || fail "$page is not titled $name(1)"
    lexgrog "$page" | grep -q ": \"$name - " || fail "$page has no NAME line that whatis reads"
done

# An option the program offers but the page does not explain is a page out of date.
documented() {
    local page=$1 usage=$2 option text
    text=$(render "$man_dir/$page.1.gz")
    for option in $(grep -oE '(^|[ [(|])--?[a-z]+' <<<"$usage" | grep -oE -- '--?[a-z]+' | sort -u); do
        grep -qE -- "^ +(-[a-z:-]+, )*$option([ ,]|$)" <<<"$text" || fail "$page(1) does not explain $option"
    done
}
documented quillora-ffmpeg "$("$bin/ffmpeg" -h)"
documented quillora-flvtool2 "$("$bin/flvtool2" -h)"
echo "PASS: three man pages, rendered without warnings, every option explained"
