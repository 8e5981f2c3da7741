#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what the desktop gets from it: the entry
# passes desktop-file-validate and starts the installed program on a file, the icon is an SVG,
# and the shared MIME database built from the prefix maps both .mdb and .accdb to the type the
# entry opens.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR= cmake --install "$build" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/quorlin.desktop"
[ -f "$entry" ] || fail "no desktop entry installed"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
[ -x "$prefix/bin/quorlin" ] || fail "the program is not installed"
grep -qx 'Exec=quorlin %f' "$entry" || fail "the entry does not pass the file to the program"
grep -q '^Name\[zh_CN\]=' "$entry" || fail "no Chinese name"
grep -qx 'Categories=Education;Science;' "$entry" || fail "categories"
mime_type="$(sed -n 's/^MimeType=\([^;]*\);.*/\1/p' "$entry")"
[ -n "$mime_type" ] || fail "the entry names no file type"

icon="$prefix/share/icons/hicolor/scalable/apps/quorlin.svg"
[ -f "$icon" ] || fail "no icon installed"
grep -q '<svg' "$icon" || fail "the icon is no SVG"

# The installed package merged with the system's own definitions, as the desktop does.
mime="$prefix/share/mime"
cp /usr/share/mime/packages/freedesktop.org.xml "$mime/packages/"
update-mime-database "$mime" >/dev/null
for ext in mdb accdb; do
  grep -q "^[0-9]*:$mime_type:\*\.$ext\(:\|$\)" "$mime/globs2" || fail "*.$ext is not $mime_type"
done
echo "desktop entry, icon and file types installed and valid"
