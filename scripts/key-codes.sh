#!/bin/sh
# The codes each UTF-16 unit adds to a text key, in both General sort orders, read off the keys
# the independent reader's Java library writes (its sort-order tables were taken from Access; it
# is Apache-2.0), into data/format/write/sortorder/*.codes, which the build turns into tables.
#   scripts/key-codes.sh [TOOL]           write the codes files again
#   scripts/key-codes.sh --check [TOOL]   check the codes files against keys of random texts
# TOOL is quorlin-read-key-codes (build/tools/ by default). Needs Java and the shared folder
# (QUORLIN_SHARED, else ../shared); without them it says so and ends with 77, a skip to CTest.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
check=no
if [ "${1:-}" = --check ]; then check=yes; shift; fi
tool=${1:-$root/build/tools/quorlin-read-key-codes}
shared=${QUORLIN_SHARED:-$root/../shared}
jar=$shared/tools/access-oracle.jar
if ! command -v javac >/dev/null 2>&1 || [ ! -f "$jar" ]; then
  echo "key-codes: Java or $jar is absent; nothing checked"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac -cp "$jar" -d "$work" "$root/tests/tools/TextKeyCodes.java"
classes=$jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:$work
codes=$root/data/format/write/sortorder

# order: FORMAT FILE CODES DESCRIPTION
for order in "V2000 legacy.mdb general-legacy Access 2000 to 2007" "V2010 general.accdb general Access 2010 and later"; do
  set -- $order
  format=$1 file=$work/$2 name=$3
  shift 3
  if [ $check = yes ]; then
    java -cp "$classes" TextKeyCodes "$format" "$file" 12345
    "$tool" "$file" "$codes/$name.codes"
  else
    java -cp "$classes" TextKeyCodes "$format" "$file"
    {
      echo "# What each UTF-16 unit adds to a text key in the General sort order of $*."
      echo "# Read off the keys the independent reader's library (Apache-2.0) writes, by scripts/key-codes.sh;"
      echo "# the lines are described in KeyCodesFile.h."
      "$tool" "$file"
    } > "$work/$name.codes"
    mv "$work/$name.codes" "$codes/$name.codes"
  fi
done
