#!/usr/bin/env bash
# COPY ... REPLACING throughput, and the cost of the COPY statement rules for programs without
# REPLACING. Two inputs from the generator of run.sh:
#   plain   the generated COBOL program as it is (no REPLACING anywhere);
#   replace the same program with every COPY statement of the primary given a REPLACING phrase
#           over two lines (LEADING ==WS-== BY ==WK-== and ==ZERO== BY ==ZEROS==), so that every
#           member, and every member nested in it, passes through the replacer.
# Prints MB/s of deck (deck bytes / 10^6 / median processor time, user + system) for each; with --baseline, the
# baseline program runs on the plain input interleaved with the current one, so both see the
# same machine. Checks the replaced deck against cobc -E of the original (same token stream)
# when cobc is installed. Exits 1 when a check fails or the 100 MB/s target is missed.
#
#   bench/replacing.sh [--mb N] [--reps N] [--incprep PATH] [--baseline PATH] [--work DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
MB=20
REPS=7
WORK=/tmp/incprep-bench-replacing
INCPREP="$top/build/release/SOURCE/incprep"
BASELINE=""
while [ $# -gt 0 ]; do
  case "$1" in
    --mb) MB=$2; shift 2 ;;
    --reps) REPS=$2; shift 2 ;;
    --incprep) INCPREP=$2; shift 2 ;;
    --baseline) BASELINE=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) echo "usage: $0 [--mb N] [--reps N] [--incprep PATH] [--baseline PATH] [--work DIR]" >&2
       exit 2 ;;
  esac
done
[ -x "$INCPREP" ] || { echo "no incprep at $INCPREP (cmake --workflow --preset test builds it)" >&2; exit 2; }

TOOLS="$WORK/tools"
mkdir -p "$TOOLS"
for t in benchgen benchrun; do
  if [ ! -x "$TOOLS/$t" ] || [ "$here/$t.cpp" -nt "$TOOLS/$t" ]; then
    g++ -O2 -std=c++20 -o "$TOOLS/$t" "$here/$t.cpp"
  fi
done

plain="$WORK/plain"
repl="$WORK/replace"
if [ ! -f "$plain/PROG.cbl" ]; then
  "$TOOLS/benchgen" --lang cobol --mb "$MB" --dir "$plain" --no-expect > /dev/null
fi
rm -rf "$repl"
mkdir -p "$repl"
cp -r "$plain/lib1" "$plain/lib2" "$repl/"
# Every COPY statement of the primary (comment lines, which mention COPY as text, excepted).
sed -E '/^.{6}[*\/]/!s/^(.{6} +)(COPY|Copy) ([A-Z0-9'"'"']+)\.[[:space:]]*$/\1\2 \3 REPLACING LEADING ==WS-== BY ==WK-==\n           ==ZERO== BY ==ZEROS==./' \
  "$plain/PROG.cbl" > "$repl/PROG.cbl"
statements=$(grep -c 'REPLACING LEADING' "$repl/PROG.cbl")

field() { sed -n "s/.*\b$2=\([^ ]*\).*/\1/p" <<< "$1"; }
timeOnce() { # PROGRAM DIR -> the run's figures (processor time is the steadier on a shared machine)
  (cd "$2" && SYSLIB='lib1;lib2' "$TOOLS/benchrun" -n 1 -r PROG.DEK -r PROG.XML -- \
    "$1" PROG.cbl 'LANG(COBOL)')
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / 1e6 / s }'; }

cur_plain=(); base_plain=(); cur_repl=()
for ((i = 0; i < REPS; i++)); do
  if [ -n "$BASELINE" ]; then base_plain+=("$(field "$(timeOnce "$BASELINE" "$plain")" best_cpu_s)"); fi
  cur_plain+=("$(field "$(timeOnce "$INCPREP" "$plain")" best_cpu_s)")
  cur_repl+=("$(field "$(timeOnce "$INCPREP" "$repl")" best_cpu_s)")
done
(cd "$plain" && SYSLIB='lib1;lib2' "$INCPREP" PROG.cbl 'LANG(COBOL)')
(cd "$repl" && SYSLIB='lib1;lib2' "$INCPREP" PROG.cbl 'LANG(COBOL)')
plain_bytes=$(stat -c %s "$plain/PROG.DEK")
repl_bytes=$(stat -c %s "$repl/PROG.DEK")
cp_med=$(printf '%s\n' "${cur_plain[@]}" | median)
cr_med=$(printf '%s\n' "${cur_repl[@]}" | median)
status=0
echo "inputs: $MB MB COBOL program; $statements COPY statements with REPLACING; $REPS interleaved runs, medians"
if [ -n "$BASELINE" ]; then
  bp_med=$(printf '%s\n' "${base_plain[@]}" | median)
  echo "plain    baseline  $(mbps "$plain_bytes" "$bp_med") MB/s ($(printf '%.4f' "$bp_med") s)"
  echo "plain    current   $(mbps "$plain_bytes" "$cp_med") MB/s ($(printf '%.4f' "$cp_med") s), $(awk -v a="$bp_med" -v b="$cp_med" 'BEGIN { printf "%.3f", b / a }') times the baseline's time"
else
  echo "plain    current   $(mbps "$plain_bytes" "$cp_med") MB/s ($(printf '%.4f' "$cp_med") s)"
fi
repl_rate=$(mbps "$repl_bytes" "$cr_med")
echo "replace  current   $repl_rate MB/s of deck ($(printf '%.4f' "$cr_med") s, $repl_bytes deck bytes)"
if [ "$repl_rate" -lt 100 ]; then echo "replace: below the 100 MB/s target"; status=1; fi

if command -v cobc > /dev/null; then
  # The replaced deck means to the compiler what the original means: the same token stream.
  tokens() { grep -v '^#' | tr -s ' \t\n' '\n' | grep -v '^$'; }
  (cd "$repl" && cobc -E -I lib1 -I lib2 PROG.cbl 2> /dev/null | tokens > "$WORK/orig.tok") || true
  (cd "$repl" && cobc -E PROG.DEK 2> /dev/null | tokens > "$WORK/deck.tok") || true
  if cmp -s "$WORK/orig.tok" "$WORK/deck.tok" && [ -s "$WORK/deck.tok" ]; then
    echo "replace: cobc -E of the deck and of the original give the same $(wc -l < "$WORK/deck.tok") tokens"
  else
    echo "replace: cobc -E token streams differ (see $WORK/orig.tok, $WORK/deck.tok)"
    status=1
  fi
fi
exit $status
