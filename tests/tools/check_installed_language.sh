#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the installed programs find their
# catalog there, not in the build tree: the batch command speaks Chinese under a Chinese locale
# (the installed reading program's words about a damaged file included) and English under C.
set -euo pipefail
build="$1"
damaged_source="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR= cmake --install "$build" --prefix "$prefix" >/dev/null
[ -f "$prefix/share/locale/zh_CN/LC_MESSAGES/quorlin.mo" ] || fail "no catalog installed"
batch="$prefix/bin/quorlin-batch"
[ -x "$batch" ] || fail "the batch command is not installed"
# The build tree's catalog out of reach: only the installed one can speak.
mv "$build/share/locale" "$build/share/locale.aside"
trap 'mv "$build/share/locale.aside" "$build/share/locale"; rm -rf "$prefix"' EXIT

english=$(env -i LANG=C "$batch" tables "$prefix/none.mdb" 2>&1 || true)
[ "$english" = "quorlin-batch: Could not find file '$prefix/none.mdb'." ] || fail "under C: $english"
chinese=$(env -i LANG=zh_CN.UTF-8 "$batch" tables "$prefix/none.mdb" 2>&1 || true)
case "$chinese" in
  *"Could not find"*|"") fail "under zh_CN: $chinese" ;;
  "quorlin-batch: "*"$prefix/none.mdb"*) ;;
  *) fail "under zh_CN: $chinese" ;;
esac

head -c $((20 * 4096)) "$damaged_source" > "$prefix/damaged.mdb"
damage=$(env -i LANG=zh_CN.UTF-8 "$batch" export "$prefix/damaged.mdb" --table Weather 2>&1 || true)
what="${damage#*Weather}"
what="${what//$prefix\/damaged.mdb/}"
[ -n "$what" ] || fail "no damage reported"
if printf '%s' "$what" | grep -q '[A-Za-z]'; then fail "the reading process spoke English: $damage"; fi
echo "installed catalog found; Chinese and English as the locale asks"
