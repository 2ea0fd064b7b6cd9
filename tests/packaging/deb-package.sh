#!/usr/bin/env bash
# The Debian package from start to end, in this machine: scripts/package.sh builds it with the
# layout of `cmake --install`, lintian finds no error in it, apt-get installs it with what it
# depends on, the installed program starts to its window and the installed helpers convert a
# clip, apt-get purge removes it, and nothing of it is left behind.
# Usage: deb-package.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
dir=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || { echo "SKIP: installing a package needs root or sudo"; exit 77; }
    sudo=(sudo -n)
fi
if dpkg-query -W -f='${Status}' quillora 2>/dev/null | grep -q "ok installed"; then
    echo "SKIP: quillora is installed here already, and this test ends by purging it"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(bash "$source_dir/scripts/package.sh" "$dir" | tail -n 1)
[[ $(basename "$deb") =~ ^quillora_[0-9][0-9.]*_amd64\.deb$ ]] || fail "unexpected package $deb"
dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6.*libavcodec\|libavcodec.*libqt6widgets6" ||
    fail "Depends lacks Qt or FFmpeg's libraries: $(dpkg-deb -f "$deb" Depends)"
[ "$(dpkg-deb -f "$deb" Recommends)" = fonts-wine ] || fail "fonts-wine is not recommended"

# Exactly what `cmake --install` puts under /usr, no more and no less.
DESTDIR="$work/tree" cmake --install "$dir" >/dev/null
(cd "$work/tree" && find . -mindepth 1 | sort) >"$work/installed"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|/$||' | grep -v '^\.$' | sort >"$work/packaged"
diff -u "$work/installed" "$work/packaged" || fail "the package's layout differs from cmake --install"

lintian_report=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
if grep -q '^E:' <<<"$lintian_report"; then
    fail "lintian reports errors:"$'\n'"$lintian_report"
fi
[ -z "$lintian_report" ] || echo "lintian: $lintian_report"

# Whatever carries our name before the install; after the purge there must be no more.
ours() {
    find /usr /etc /opt /var/lib/dpkg/info /var/lib/dpkg/alternatives -xdev -iname '*quillora*' \
        2>/dev/null | sort
}
ours >"$work/before"
# A folder that apt's own user can read, so that apt need not fetch the file as root.
install -d -m 755 "$work/apt"
install -m 644 "$deb" "$work/apt/"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    "$work/apt/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
    fail "apt-get install failed: $(tail -n 20 "$work/apt.log")"
dpkg-query -L quillora >"$work/files"
"${sudo[@]}" dpkg --verify quillora || fail "the installed files differ from the package's"
[ "$(readlink -f /usr/bin/quillora)" = /usr/lib/quillora/quillora ] || fail "no launcher"
man -w quillora-ffmpeg >/dev/null || fail "man does not find quillora-ffmpeg(1)"
status=0
"$source_dir/tests/e2e/quiet-start.sh" /usr/bin/quillora /usr/lib/quillora || status=$?

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillora >>"$work/apt.log" 2>&1 ||
    fail "apt-get purge failed: $(tail -n 20 "$work/apt.log")"
[ $status -eq 0 ] || fail "the installed programs did not work"
if dpkg-query -W quillora >/dev/null 2>&1; then
    fail "dpkg still knows quillora: $(dpkg-query -W -f='${Status}' quillora)"
fi
while read -r path; do
    if [ -L "$path" ] || [ -f "$path" ]; then
        fail "$path is left behind"
    fi
done <"$work/files"
for folder in /usr/lib/quillora /usr/share/doc/quillora; do
    [ ! -e "$folder" ] || fail "$folder is left behind"
done
ours >"$work/after"
diff -u "$work/before" "$work/after" || fail "files named after quillora are left behind"
echo "PASS: $(basename "$deb") built, installed, run and purged without a trace"
