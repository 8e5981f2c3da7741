#!/bin/sh
# Fails when PROGRAM defines a global symbol that one of the LIBRARIES defines: the program then
# carries code of that library, however it came to be linked. Weak symbols (inline functions and
# templates every object may hold a copy of) are not counted.
#
#   foreign-symbols.sh PROGRAM LIBRARY...
set -eu
program=$1
shift
command -v nm >/dev/null || { echo "foreign-symbols.sh: nm is missing (Debian package binutils)"; exit 77; }
strong() { nm --defined-only -g "$@" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' | LC_ALL=C sort -u; }
found=0
for library in "$@"; do
  common=$(strong "$library" | LC_ALL=C comm -12 - "$(strong "$program" > "${TMPDIR:-/tmp}/symbols.$$"; echo "${TMPDIR:-/tmp}/symbols.$$")")
  rm -f "${TMPDIR:-/tmp}/symbols.$$"
  if [ -n "$common" ]; then
    echo "$(basename "$program") holds code of $(basename "$library"):"
    echo "$common" | head -n 10 | c++filt | sed 's/^/  /'
    found=1
  fi
done
exit $found
