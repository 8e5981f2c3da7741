#!/usr/bin/env bash
# Refreshes the template of our texts, po/quorlin.pot, from the sources and merges it into every
# translation po/LANG.po: a new text arrives there untranslated, a changed one marked fuzzy, and
# both wait for the translator (the build compiles only what is translated; English stands in
# for the rest).
#
#   po/update.sh           refresh the template and the translations
#   po/update.sh --check   change nothing; fail when a translation lacks a text of the sources,
#                          keeps a fuzzy one, or breaks a text's placeholders
#
# The keywords are those of support/Messages.h: Tr, TrNoop, and TrPlural with its two forms.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in xgettext msgmerge msgcmp msgfmt; do
  if ! command -v "$tool" >/dev/null; then
    echo "po/update.sh: $tool is missing (Debian package gettext)" >&2
    exit 77
  fi
done

mapfile -t sources < <(find support values numeric statistics data batch ui charts -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort)

# xgettext asks for an address for reports on the texts, which this project keeps in its issues;
# its reminder is left out.
extract() {
  xgettext --language=C++ --from-code=UTF-8 --keyword= --keyword=Tr --keyword=TrNoop --keyword=TrPlural:1,2 \
           --add-comments=TRANSLATORS: --add-location=file --package-name=Quorlin --msgid-bugs-address= \
           --output="$1" "${sources[@]}" 2>&1 | { grep -v -e 'msgid-bugs-address' -e 'Makevars' -e 'MSGID_BUGS_ADDRESS' >&2 || true; }
}

if [ "${1:-}" = "--check" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  extract "$work/quorlin.pot"
  status=0
  for po in po/*.po; do
    # msgcmp counts untranslated and fuzzy entries of the translation as missing.
    if ! msgcmp "$po" "$work/quorlin.pot"; then
      echo "$po lacks translations of the sources' texts (run po/update.sh and translate)" >&2
      status=1
    fi
    if ! msgfmt --check --statistics -o /dev/null "$po"; then status=1; fi
  done
  exit $status
fi

extract po/quorlin.pot
for po in po/*.po; do
  msgmerge --quiet --update --backup=none --previous "$po" po/quorlin.pot
done
