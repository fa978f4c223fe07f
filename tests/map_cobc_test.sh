#!/usr/bin/env bash
# A syntax error in a nested copybook, found by cobc in the deck, is reported through
# incprep-map --filter at the copybook's own file and line.
# Usage: map_cobc_test.sh INCPREP INCPREP_MAP
set -euo pipefail
incprep=$(realpath "$1")
map=$(realpath "$2")
command -v cobc >/dev/null || { echo "SKIP: cobc missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

mkdir copylib
printf '%s\n' '       IDENTIFICATION DIVISION.' '       PROGRAM-ID. MAPDEMO.' \
  '       DATA DIVISION.' '       WORKING-STORAGE SECTION.' '       COPY OUTER.' \
  '       PROCEDURE DIVISION.' '           STOP RUN.' > MAPDEMO.cbl
printf '%s\n' '       01 OUTER-REC.' '          COPY INNER.' > copylib/OUTER.cpy
# Line 2 of the innermost copybook has unbalanced parentheses.
printf '%s\n' '          05 FIELD-A PIC X(4).' '          05 FIELD-B PIC XX(.' > copylib/INNER.cpy

SYSLIB=copylib "$incprep" MAPDEMO.cbl 'LANG(COBOL)' || fail "incprep exit status"
# Deck line 7 holds the faulty line: lines 1-4 of the program, OUTER's line 1, INNER's lines.
[ "$(sed -n 7p MAPDEMO.DEK)" = '          05 FIELD-B PIC XX(.' ] || fail "deck line 7"
[ "$("$map" MAPDEMO.XML 7)" = "copylib/INNER.cpy:2" ] || fail "single-line mapping"

set +e
cobc -fsyntax-only MAPDEMO.DEK > compiler.txt 2>&1
cobc_status=$?
set -e
[ "$cobc_status" -ne 0 ] || fail "cobc accepted the faulty deck"
grep -q '^MAPDEMO.DEK:7: error:' compiler.txt || { cat compiler.txt; fail "cobc message form"; }
"$map" MAPDEMO.XML --filter < compiler.txt > mapped.txt || fail "filter exit status"
grep -q '^copylib/INNER.cpy:2: error:' mapped.txt || { cat mapped.txt; fail "error not mapped"; }
! grep -q 'MAPDEMO.DEK:7:' mapped.txt || fail "deck position left in place"
# Everything but the positions is passed through unchanged.
[ "$(sed 's/^[^:]*:[0-9]*://' compiler.txt)" = "$(sed 's/^[^:]*:[0-9]*://' mapped.txt)" ] ||
  fail "message text changed"

# cobc given the deck as ./CTX.DEK, as an absolute path, or through a directory: the filter
# still finds it, and the context line before a message in the procedure names the program.
printf '%s\n' '       IDENTIFICATION DIVISION.' '       PROGRAM-ID. CTX.' '       DATA DIVISION.' \
  '       WORKING-STORAGE SECTION.' '       COPY GOOD.' '       PROCEDURE DIVISION.' \
  '       MAIN-PARA.' '           MOVE 1 TO NOSUCH.' '           STOP RUN.' > CTX.cbl
printf '%s\n' '       01 GOOD-REC.' '          05 GOOD-A PIC X.' > copylib/GOOD.cpy
SYSLIB=copylib "$incprep" CTX.cbl 'LANG(COBOL)' || fail "incprep exit status (CTX)"
set -o pipefail
here=$(basename "$work")
for spelling in ./CTX.DEK "$work/CTX.DEK" "$here/CTX.DEK"; do
  side=CTX.XML
  if [ "$spelling" = "$here/CTX.DEK" ]; then cd ..; side="$here/CTX.XML"; fi
  if cobc -fsyntax-only "$spelling" 2>&1 | "$map" "$side" --filter > "$work/spelled.txt"; then
    fail "$spelling: the pipe hid cobc's failure"
  fi
  cd "$work"
  grep -q "^CTX.cbl: in paragraph 'MAIN-PARA':" spelled.txt ||
    { cat spelled.txt; fail "$spelling: context line not mapped"; }
  grep -q '^CTX.cbl:8: error:' spelled.txt || { cat spelled.txt; fail "$spelling: error not mapped"; }
done
echo "map_cobc: 9 passed, 0 failed"
