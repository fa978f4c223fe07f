#!/usr/bin/env bash
# Writes the seed corpus of incprep_fuzz into tests/fuzz/corpus/: small COBOL, PL/I and
# language-free programs with their members, in the fuzz target's input layout (two option bytes,
# then the primary source and members A to G separated by the byte 0x1E; see README.md), plus
# one seed per end-to-end case folder (its source and up to seven of its members, renamed A..G).
# Run it again after adding end-to-end cases; the seeds are plain files kept in git.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus
e2e=$here/../e2e
mkdir -p "$out"
rm -f "$out"/seed_* "$out"/e2e_*

# seed NAME BYTE0 BYTE1 PRIMARY [MEMBER-A ...]; the option bytes are given in hex.
seed() {
  local name=$1 b0=$2 b1=$3
  shift 3
  {
    printf "\\x$b0\\x$b1"
    local first=1
    for part in "$@"; do
      [ $first = 1 ] || printf '\x1e'
      first=0
      printf '%s' "$part"
    done
  } > "$out/seed_$name"
}

# Option byte 0: 01 COBOL, 02 PL/I, +04 CMT(ON), +08 NOCOPY(ON), +10 FORMAT(ON),
# +20/40/60 SYSLIB variant 1/2/3 (3 = unset), +80 lower-case keywords.
# Option byte 1: 01..03 EXT variant, +04 options joined by commas, +08 options given twice,
# +10 no second run with TRACE(ON).

seed cobol_copy 01 00 \
'       IDENTIFICATION DIVISION.
       PROGRAM-ID. PAYROLL.
       DATA DIVISION.
       WORKING-STORAGE SECTION.
       COPY A.
       PROCEDURE DIVISION.
           DISPLAY "DONE".
' \
'       01 PAY-REC.
           05 PAY-ID     PIC 9(5).
           COPY D.
' '' '' \
'           05 PAY-AMT    PIC 9(7)V99.
'

seed cobol_cmt_dashinc 05 00 \
'000100 IDENTIFICATION DIVISION.                                         PAYR0001
-INC C
       COPY '"'"'A'"'"'.
       copy d of syslib.
      * COPY A.
      / COPY A.
000900 COPY D.                                                           PAYR0009
' \
'       01 A-REC PIC X.
' '' \
'       01 C-REC PIC X(10).
' \
'       01 D-REC PIC 9.
'

seed cobol_literals 01 00 \
'       IDENTIFICATION DIVISION.
       AUTHOR. J. O'"'"'GRADY.
       DATA DIVISION.
       01 T PIC X(40) VALUE '"'"'COPY A. IN A LITERAL
      -    '"'"'STILL THE LITERAL'"'"'.
       01 U PIC X(20) VALUE "IT""S".
       COPY A.
       01 V PIC X VALUE '"'"'OPEN
       COPY D.
' \
'       01 A-REC PIC X.
' '' '' \
'       01 D-REC PIC 9.
'

seed cobol_code_around 11 00 \
'       01 A PIC X. COPY A. COPY D. 01 B PIC X.
       COPY A REPLACING ==X== BY ==Y==.
       COPY
           D.
       COPY NOSUCH.
' \
'       01 A-REC PIC X.' '' '' \
'       01 D-REC PIC 9.
'

seed cobol_recursive 01 00 \
'       COPY A.
       COPY A.
' \
'       01 A1 PIC X.
       COPY A.
       COPY D.
' '' '' \
'       COPY A.
       01 D1 PIC X.
'

seed cobol_missing_cap 01 00 "$(for i in $(seq 1 110); do printf '       COPY MISS%03d.\n' "$i"; done)"

seed cobol_members_odd 05 00 \
'       COPY A.
       COPY C.
       COPY D.
       COPY G.
       COPY H.
       COPY L.
' \
$'       01 CRLF-REC PIC X.\r\n       01 CRLF-2 PIC X.\r\n' \
'' \
'' \
$'\x00\xff\xfe\x01COPY\r\n\xff' \
'' '' \
'       01 G-REC PIC X.'

seed cobol_dashinc_stall 05 00 \
'-INC
XYZ REST OF LINE
-INC
 A
       -INC A
         -INC C
' \
'       01 A-REC PIC X.
' '' \
'       01 C-REC PIC X.
'

seed pli_include 02 00 \
' PROC1: PROC;
   %INCLUDE B;
   /* %INCLUDE E; not expanded */
   %XINCLUDE A;   X = 1;
   %include
      E;
   %INCLUDE SYSLIB(B);
   PUT LIST('"'"'%INCLUDE B;'"'"');
-INC C
 END PROC1;
' \
' DCL A FIXED BIN;
' \
' DCL B CHAR(8);
' \
' DCL C BIT(1);
' '' \
' DCL E FLOAT;
'

seed pli_cmt_format 16 00 \
'   %INCLUDE B;
   %INCLUDE A; %INCLUDE E;
   Y = 2; /* open comment
' \
' DCL A FIXED;
' \
' DCL B FIXED;
   %INCLUDE E;
' '' '' \
' DCL E FIXED; /* never closed'

seed pli_nocopy_ext 0a 02 \
'   %INCLUDE B;
-INC F
-INC D
' '' \
' DCL B FIXED;
' '' \
'       01 D PIC X.
' '' \
' DCL F CHAR(1);
'

seed nolang_plusinclude 04 00 \
'       ++INCLUDE C
       ++INCLUDE A.cpy
++INCLUDE A
        ++INCLUDE A
       ++INCLUDE
       C
' \
'       A LINE
' '' \
'       C LINE
       ++INCLUDE A
'

seed slash_names 41 00 \
'       ++INCLUDE /A
       ++INCLUDE ../lib2/D.cbl
       COPY /A.
' \
'       A LINE
       ++INCLUDE //A
' '' '' \
'       D LINE
'

seed options_lower_joined 85 0d \
'       COPY A.
       COPY F.
' \
'       01 A PIC X.
' '' '' '' '' \
'       01 F PIC X.
'

seed syslib_unset 61 00 \
'       COPY A.
' \
'       01 A PIC X.
'

seed long_line 01 00 \
"       01 L PIC X(300) VALUE '$(head -c 600 /dev/zero | tr '\0' 'Z')'.
       COPY A.$(head -c 100 /dev/zero | tr '\0' ' ')X
" \
'       01 A PIC X.
'

seed empty 00 00 ''

# One seed per end-to-end case: its source (the first argument of cmd) and members, renamed.
if [ -d "$e2e" ]; then
  letters=(A B C D E F G)
  exts=(cpy inc '' cbl mac txt cpy)
  for case in "$e2e"/*/; do
    name=$(basename "$case")
    [ -f "$case/cmd" ] && [ -d "$case/in" ] || continue
    src=$(head -n 1 "$case/cmd")
    [ -f "$case/in/$src" ] || continue
    b0=0
    grep -qi '^LANG(COBOL)$' "$case/cmd" && b0=1
    grep -qi '^LANG(PLI)$' "$case/cmd" && b0=2
    grep -qi '^CMT(ON)$' "$case/cmd" && b0=$((b0 + 4))
    grep -qi '^NOCOPY(ON)$' "$case/cmd" && b0=$((b0 + 8))
    grep -qi '^FORMAT(ON)$' "$case/cmd" && b0=$((b0 + 16))
    mapfile -t members < <(cd "$case/in" && find . -type f ! -path "./$src" -size -8k | sort | head -n 7)
    # (shell variables cannot hold NUL bytes: they are left out of these seeds)
    text=$(tr -d '\0' < "$case/in/$src"; printf x)
    text=${text%x}
    parts=()
    for i in "${!members[@]}"; do
      base=$(basename "${members[$i]}")
      stem=${base%.*}
      [ -n "$stem" ] || continue
      text=${text//"$stem"/${letters[$i]}}
      m=$(tr -d '\0' < "$case/in/${members[$i]}"; printf x)
      parts+=("${m%x}")
    done
    printf -v hex '%02x' "$b0"
    seed "x" "$hex" 00 "$text" "${parts[@]}"
    mv "$out/seed_x" "$out/e2e_$name"
  done
fi
echo "seeds: $(ls "$out" | wc -l) files in $out"
