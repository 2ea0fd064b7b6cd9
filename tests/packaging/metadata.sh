#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo as desktops and software centres read them:
# each valid alone, and the installed tree tying the metainfo to the desktop entry.
# Usage: metadata.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
share="$dest/usr/share"

# desktop-file-validate prints hints too; any line it prints is something to mend.
out=$(desktop-file-validate "$share/applications/quillora.desktop" 2>&1) || fail "$out"
[ -z "$out" ] || fail "desktop-file-validate: $out"

metainfo=("$share"/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ] || fail "not exactly one metainfo file"
id=$(basename "${metainfo[0]}" .metainfo.xml)
grep -q "<id>$id</id>" "${metainfo[0]}" || fail "the metainfo file is not named after its id"
out=$(appstreamcli validate --no-net "${metainfo[0]}" 2>&1) || fail "$out"
# validate-tree finds the desktop entry that the launchable names, and checks them together.
out=$(appstreamcli validate-tree --no-net "$dest/usr" 2>&1) || fail "$out"
echo "PASS: desktop entry and metainfo $id"
