#!/usr/bin/env bash
# Runs killed at random moments (SIGKILL and SIGTERM, on a large input) leave under the final
# names either the earlier complete outputs or the new complete ones, never a partial file; after
# SIGTERM no temporary file stays behind.
# Usage: atomic_outputs_test.sh INCPREP [ROUNDS]
set -euo pipefail
incprep=$(realpath "$1")
rounds=${2:-24}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

mkdir lib
printf '       01 M PIC X.\n' >lib/M.cpy
# Two versions of a large program: the earlier outputs come from the first, the new from the second.
program() {
  awk -v tag="$1" 'BEGIN { for (i = 0; i < 600000; i++)
    if (i % 1000 == 0) print "       COPY M."; else print "       01 " tag i " PIC X." }'
}
export SYSLIB=lib
program OLD >P.cbl
"$incprep" P.cbl 'LANG(COBOL)' 'DEPS(P.d)' || fail "the first run"
mkdir old new
cp P.DEK P.XML P.d old/
program NEW >P.cbl
"$incprep" P.cbl 'LANG(COBOL)' 'DEPS(P.d)' || fail "the second run"
cp P.DEK P.XML P.d new/
cmp -s old/P.DEK new/P.DEK && fail "the two versions give the same deck"

# Which complete version a file is: old, new, or neither.
version() { if cmp -s "$1" "old/$1"; then echo old; elif cmp -s "$1" "new/$1"; then echo new; else echo partial; fi; }
seen_old=0 seen_new=0 passed=0
for ((k = 0; k < rounds; k++)); do
  cp old/P.DEK old/P.XML old/P.d .
  if ((k % 2 == 0)); then sig=KILL; else sig=TERM; fi
  "$incprep" P.cbl 'LANG(COBOL)' 'DEPS(P.d)' &
  pid=$!
  sleep "0.$(printf '%03d' $((RANDOM % 250)))"
  kill -s "$sig" "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  for f in P.DEK P.XML P.d; do
    v=$(version "$f")
    [ "$v" != partial ] || fail "round $k ($sig): $f is neither the earlier nor the new output"
    [ "$v" = old ] && seen_old=$((seen_old + 1))
    [ "$v" = new ] && seen_new=$((seen_new + 1))
  done
  leftovers=$(find . -maxdepth 1 -name '.*.incprep-*' | wc -l)
  if [ "$sig" = TERM ]; then
    [ "$leftovers" -eq 0 ] || fail "round $k: a temporary file stayed after SIGTERM"
  else
    find . -maxdepth 1 -name '.*.incprep-*' -delete
  fi
  passed=$((passed + 1))
done
echo "atomic_outputs: $passed rounds passed ($seen_old earlier and $seen_new new outputs seen)"
