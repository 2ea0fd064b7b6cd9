#!/usr/bin/env bash
# Installs into a scratch folder and checks the layout: the three programs together in the
# application folder, only the launcher on the PATH, the desktop entry, the metainfo, the icons,
# the man pages under Quillora's names and Debian's copyright and changelog.
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
root="$dest/usr"
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in quillora ffmpeg flvtool2; do
    [ -x "$root/lib/quillora/$tool" ] || fail "$tool is not in the application folder"
done
[ -L "$root/bin/quillora" ] || fail "no quillora launcher in bin"
[ "$(readlink "$root/bin/quillora")" = "../lib/quillora/quillora" ] || fail "the launcher points elsewhere"
[ "$(ls "$root/bin")" = "quillora" ] || fail "bin holds more than the launcher: $(ls "$root/bin")"
desktop="$root/share/applications/quillora.desktop"
grep -q '^Icon=quillora$' "$desktop" || fail "desktop entry without the icon"
grep -q '^Categories=AudioVideo;' "$desktop" || fail "desktop entry not in AudioVideo"
for size in 16 24 32 48 256; do
    [ -s "$root/share/icons/hicolor/${size}x${size}/apps/quillora.png" ] || fail "no ${size}px icon"
done
[ -s "$root/share/metainfo/org.quillora.Quillora.metainfo.xml" ] || fail "no metainfo"
[ "$(ls "$root/share/man/man1")" = "$(printf '%s\n' quillora-ffmpeg.1.gz quillora-flvtool2.1.gz quillora.1.gz)" ] ||
    fail "the man pages are not exactly quillora, quillora-ffmpeg and quillora-flvtool2: $(ls "$root/share/man/man1")"
[ -s "$root/share/doc/quillora/copyright" ] || fail "no copyright file"
gzip -t "$root/share/doc/quillora/changelog.gz" || fail "no compressed changelog"
echo "PASS: install layout"
