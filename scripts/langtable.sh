#!/usr/bin/env bash
# Converts a language text table between its stored form (UTF-16LE with byte-order mark,
# CR LF line ends) and a UTF-8 working copy with LF line ends that is easy to edit.
#   scripts/langtable.sh to-utf8  src/core/language/English.txt  English.utf8.txt
#   scripts/langtable.sh to-utf16 English.utf8.txt  src/core/language/English.txt
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 to-utf8|to-utf16 <input> <output>" >&2
  exit 2
fi
mode=$1 in=$2 out=$3

case $mode in
  to-utf8)
    # iconv's UTF-16 reads and drops the byte-order mark.
    iconv -f UTF-16 -t UTF-8 "$in" | sed 's/\r$//' > "$out"
    ;;
  to-utf16)
    { printf '\xff\xfe'; sed 's/\r$//; s/$/\r/' "$in" | iconv -f UTF-8 -t UTF-16LE; } > "$out"
    ;;
  *)
    echo "$0: unknown mode '$mode'" >&2
    exit 2
    ;;
esac
