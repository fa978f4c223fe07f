#!/usr/bin/env bash
# Whole-run benchmark of incprep: generates large COBOL and PL/I programs with nested members
# (or reuses them), checks incprep's deck against the expected one, then times incprep, GnuCOBOL's
# `cobc -E` on the same COBOL input and `cat` writing the same bytes (deck and side file), in
# interleaved rounds, and reports throughput in MB/s of deck (1 MB = 10^6 bytes), the ratios of
# the median times, and incprep's peak memory against its budget of 2 MiB + 32 bytes per deck
# line + 4 MiB of members held. Everything generated lives under $WORK (default /tmp).
#
#   bench/run.sh [--sizes "10 100"] [--langs "cobol pli"] [--reps 5] [--cobc-reps 1]
#                [--work DIR] [--incprep PATH] [--regen] [--clean] [--callgrind MB]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/incprep-bench
SIZES="10 100"
LANGS="cobol pli"
REPS=5
COBC_REPS=1
INCPREP=""
REGEN=0
CLEAN=0
CALLGRIND_MB=""

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) SIZES=$2; shift 2 ;;
    --langs) LANGS=$2; shift 2 ;;
    --reps) REPS=$2; shift 2 ;;
    --cobc-reps) COBC_REPS=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --incprep) INCPREP=$2; shift 2 ;;
    --regen) REGEN=1; shift ;;
    --clean) CLEAN=1; shift ;;
    --callgrind) CALLGRIND_MB=$2; shift 2 ;;
    -h|--help) usage ;;
    *) echo "run.sh: unknown argument $1" >&2; usage ;;
  esac
done

log() { echo "== $*" >&2; }

# --- tools -----------------------------------------------------------------------------------
TOOLS="$WORK/tools"
mkdir -p "$WORK"
log "building the generator and the timer in $TOOLS"
cmake -S "$ROOT/bench" -B "$TOOLS" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$TOOLS" -j2 > /dev/null
GEN="$TOOLS/incprep_benchgen"
RUN="$TOOLS/incprep_benchrun"

if [ -z "$INCPREP" ]; then
  BUILD="$ROOT/build/release"
  if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    log "configuring the release build in $BUILD"
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
  fi
  log "building incprep (release)"
  cmake --build "$BUILD" -j2 --target incprep > /dev/null
  INCPREP=$(find "$BUILD" -maxdepth 3 -type f -name incprep -perm -u+x | head -n 1)
  [ -n "$INCPREP" ] || { echo "run.sh: no incprep binary under $BUILD" >&2; exit 1; }
fi
INCPREP=$(cd "$(dirname "$INCPREP")" && pwd)/$(basename "$INCPREP")
HAVE_COBC=0
command -v cobc > /dev/null && HAVE_COBC=1

# --- helpers ---------------------------------------------------------------------------------
info() { sed -n "s/^$2=//p" "$1/gen.info"; }              # info DIR KEY
field() { sed -n "s/.*\b$2=\([^ ]*\).*/\1/p" <<< "$1"; }  # field "runs=.. best_s=.." KEY
mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
col_min() { awk -v c="$2" '{ print $c }' "$1" | sort -g | head -n 1; }   # col_min FILE COLUMN
col_median() {                                                          # col_median FILE COLUMN
  awk -v c="$2" '{ print $c }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# verdict INCPREP_S CAT_S COBC_S RSS_KIB TARGET_KIB: the targets missed (" all met" if none):
# at most twice the time of cat writing the same bytes, at least 100 times faster than cobc -E,
# peak memory within the budget.
verdict() {
  local v=""
  awk -v i="$1" -v c="$2" 'BEGIN { exit !(i <= 2 * c) }' || v="$v over-2x-cat"
  if [ -n "$3" ]; then
    awk -v c="$3" -v i="$1" 'BEGIN { exit !(c / i >= 100) }' || v="$v below-100x-cobc"
  fi
  [ "$4" -le "$5" ] || v="$v over-memory-budget"
  echo "${v:- all met}"
}

# generate LANG MB: makes $WORK/LANG-MBmb, or reuses it when the generator has not changed
# since, and prints its path.
generate() {
  local dir="$WORK/$1-${2}mb"
  if [ "$REGEN" = 1 ] || [ ! -f "$dir/gen.info" ] || [ ! -f "$dir/expected.deck" ] \
     || [ "$GEN" -nt "$dir/gen.info" ]; then
    rm -rf "$dir"
    log "generating $1 input of $2 MB deck in $dir"
    "$GEN" --lang "$1" --mb "$2" --dir "$dir" >&2
  else
    log "reusing $dir"
  fi
  echo "$dir"
}

# check_outputs DIR: the deck must equal the expected deck, the side file must be complete.
check_outputs() {
  local dir=$1
  if ! cmp -s "$dir/PROG.DEK" "$dir/expected.deck"; then
    echo "DECK MISMATCH in $dir:" >&2
    local where line
    where=$(cmp "$dir/PROG.DEK" "$dir/expected.deck" 2>&1 || true)
    echo "  $where" >&2
    line=$(sed -n 's/.*line \([0-9]*\).*/\1/p' <<< "$where")
    if [ -n "$line" ]; then
      local from=$((line > 3 ? line - 3 : 1))
      echo "  deck lines $from-$((line + 2)):" >&2
      sed -n "${from},$((line + 2))p;$((line + 2))q" "$dir/PROG.DEK" | cat -A | sed 's/^/    /' >&2
      echo "  expected:" >&2
      sed -n "${from},$((line + 2))p;$((line + 2))q" "$dir/expected.deck" | cat -A | sed 's/^/    /' >&2
    fi
    return 1
  fi
  if [ "$(tail -c 8 "$dir/PROG.XML")" != "</BUILD>" ]; then
    echo "SIDE FILE INCOMPLETE in $dir (does not end in </BUILD>)" >&2
    return 1
  fi
}

# --- memory baseline: the same program on an empty source ------------------------------------
BASE_DIR="$WORK/empty"
mkdir -p "$BASE_DIR"
: > "$BASE_DIR/EMPTY.cbl"
BASE_RSS=$(cd "$BASE_DIR" && field "$(SYSLIB= "$RUN" -n 3 -- "$INCPREP" EMPTY.cbl 'LANG(COBOL)')" maxrss_kib)

RESULTS="$WORK/results.txt"
: > "$RESULTS"
FAILS=0
emit() { echo "$*" | tee -a "$RESULTS"; }

emit "incprep whole-run benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
emit "host: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
emit "incprep: $INCPREP"
emit "timing: medians of $REPS interleaved rounds of incprep and cat (cobc: $COBC_REPS), warm page cache, outputs written under $WORK"
emit "        wall = elapsed time, cpu = user + system time of the process (steadier on a busy machine)"
emit "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
emit "memory: peak RSS of the incprep process; empty-source baseline $BASE_RSS KiB"
emit ""

for lang in $LANGS; do
  for size in $SIZES; do
    dir=$(generate "$lang" "$size")
    primary=$(info "$dir" primary)
    bytes=$(info "$dir" deck_bytes)
    lines=$(info "$dir" deck_lines)
    includes=$(info "$dir" includes_expanded)
    if [ "$lang" = cobol ]; then opt='LANG(COBOL)'; else opt='LANG(PLI)'; fi
    export SYSLIB='lib1;lib2'
    cd "$dir"

    log "$lang ${size} MB: checking incprep's outputs"
    rm -f PROG.DEK PROG.XML
    status=ok
    "$INCPREP" "$primary" "$opt" > /dev/null || status="exit-$?"
    check_outputs "$dir" || { status=MISMATCH; FAILS=$((FAILS + 1)); }
    xml_bytes=$(stat -c %s PROG.XML 2> /dev/null || echo 0)

    # The floor: cat writing the same bytes as the run (deck and side file), from copies made now.
    cp PROG.DEK ref.DEK
    cp PROG.XML ref.XML

    # One interleaved run: each round times incprep and cat, in turn first (a command timed
    # right after the other may pay for what the other left behind), then (in the first
    # rounds) cobc.
    log "$lang ${size} MB: timing incprep and cat, interleaved ($REPS rounds)"
    : > times.inc; : > times.cat; : > times.cobc
    for ((round = 0; round < REPS; round++)); do
      for which in $( ((round % 2 == 0)) && echo "incprep cat" || echo "cat incprep"); do
        if [ "$which" = incprep ]; then
          r=$("$RUN" -n 1 -o /dev/null -r PROG.DEK -r PROG.XML -- "$INCPREP" "$primary" "$opt") || {
            echo "incprep failed: $r" >&2; status="$status,exit-$(field "$r" status)"; FAILS=$((FAILS + 1)); }
          echo "$(field "$r" best_s) $(field "$r" best_cpu_s) $(field "$r" user_s) $(field "$r" sys_s) $(field "$r" maxrss_kib)" >> times.inc
        else
          r=$("$RUN" -n 1 -o "$dir/cat.out" -r "$dir/cat.out" -- cat ref.DEK ref.XML) || true
          echo "$(field "$r" best_s) $(field "$r" best_cpu_s)" >> times.cat
        fi
      done
      if [ "$lang" = cobol ] && [ "$HAVE_COBC" = 1 ] && [ "$round" -lt "$COBC_REPS" ]; then
        log "$lang ${size} MB: timing cobc -E (round $((round + 1)))"
        r=$("$RUN" -n 1 -o "$dir/cobc.i" -e "$dir/cobc.err" -r "$dir/cobc.i" -- \
              cobc -E -I lib1 -I lib2 "$primary") || {
          echo "cobc -E failed on $dir/$primary, see $dir/cobc.err" >&2; FAILS=$((FAILS + 1)); }
        echo "$(field "$r" best_s) $(field "$r" best_cpu_s)" >> times.cobc
      fi
    done
    rm -f cat.out cobc.i ref.DEK ref.XML
    inc_s=$(col_min times.inc 1); inc_med=$(col_median times.inc 1)
    inc_cpu=$(col_median times.inc 2); inc_user=$(col_median times.inc 3); inc_sys=$(col_median times.inc 4)
    inc_rss=$(sort -n -k5 times.inc | tail -n 1 | cut -d' ' -f5)
    cat_s=$(col_median times.cat 1); cat_cpu=$(col_median times.cat 2)
    cobc_s=""; cobc_cpu=""
    if [ -s times.cobc ]; then cobc_s=$(col_median times.cobc 1); cobc_cpu=$(col_median times.cobc 2); fi
    rm -f times.inc times.cat times.cobc
    unset SYSLIB
    cd "$WORK"

    # The budget: 2 MiB, 32 bytes per deck line, and 4 MiB for the members held in memory.
    target_kib=$(awk -v l="$lines" 'BEGIN { printf "%d", 2048 + 32 * l / 1024 + 4096 }')
    per_line=$(awk -v r="$inc_rss" -v b="$BASE_RSS" -v l="$lines" \
                 'BEGIN { printf "%.1f", (r - b) * 1024 / l }')
    emit "[$lang, $size MB] deck $bytes bytes, $lines lines, $includes includes expanded; side file $xml_bytes bytes; deck check: $status"
    emit "  incprep   wall median $(printf '%.4f' "$inc_med") s $(mbps "$bytes" "$inc_med") MB/s (best $(printf '%.4f' "$inc_s") s);  cpu $(printf '%.4f' "$inc_cpu") s $(mbps "$bytes" "$inc_cpu") MB/s (user $(printf '%.4f' "$inc_user"), sys $(printf '%.4f' "$inc_sys"))"
    emit "  cat       wall median $(printf '%.4f' "$cat_s") s for deck + side file;  cpu $(printf '%.4f' "$cat_cpu") s"
    emit "            incprep/cat time: wall $(ratio "$inc_med" "$cat_s")x, cpu $(ratio "$inc_cpu" "$cat_cpu")x (target <= 2x)"
    if [ -n "$cobc_s" ]; then
      emit "  cobc -E   wall median $(printf '%.4f' "$cobc_s") s $(mbps "$bytes" "$cobc_s") MB/s;  cpu $(printf '%.4f' "$cobc_cpu") s"
      emit "            cobc/incprep time: wall $(ratio "$cobc_s" "$inc_med")x, cpu $(ratio "$cobc_cpu" "$inc_cpu")x (target >= 100x)"
    fi
    emit "  max RSS   $inc_rss KiB, budget $target_kib KiB (2 MiB + 32 B/line + 4 MiB); $per_line B/line above the empty-source baseline"
    verdict_wall=$(verdict "$inc_med" "$cat_s" "$cobc_s" "$inc_rss" "$target_kib")
    verdict_cpu=$(verdict "$inc_cpu" "$cat_cpu" "$cobc_cpu" "$inc_rss" "$target_kib")
    emit "  targets:  wall:$verdict_wall;  cpu:$verdict_cpu"
    emit ""
    [ "$verdict_wall" = " all met" ] || FAILS=$((FAILS + 1))
    rm -f "$dir/PROG.DEK" "$dir/PROG.XML"
  done
done

# --- optional profile ------------------------------------------------------------------------
if [ -n "$CALLGRIND_MB" ]; then
  if command -v valgrind > /dev/null; then
    for lang in $LANGS; do
      dir=$(generate "$lang" "$CALLGRIND_MB")
      if [ "$lang" = cobol ]; then opt='LANG(COBOL)'; else opt='LANG(PLI)'; fi
      log "$lang ${CALLGRIND_MB} MB: callgrind profile"
      (cd "$dir" && SYSLIB='lib1;lib2' valgrind --tool=callgrind \
          --callgrind-out-file="$WORK/callgrind.$lang.out" "$INCPREP" "$(info "$dir" primary)" "$opt" \
          > /dev/null 2> "$WORK/callgrind.$lang.log")
      total_ir=$(callgrind_annotate "$WORK/callgrind.$lang.out" 2> /dev/null \
                   | awk '/PROGRAM TOTALS/ && !n++ { gsub(",", "", $1); print $1 }')
      emit "callgrind, $lang ${CALLGRIND_MB} MB: $total_ir instructions," \
           "$(awk -v i="$total_ir" -v b="$(info "$dir" deck_bytes)" 'BEGIN { printf "%.1f", i / b }')" \
           "per deck byte"
      for mode in no yes; do
        if [ "$mode" = no ]; then what=self; else what=inclusive; fi
        emit "callgrind, $lang ${CALLGRIND_MB} MB, $what instruction counts:"
        callgrind_annotate --inclusive=$mode "$WORK/callgrind.$lang.out" 2> /dev/null \
          | awk '/PROGRAM TOTALS/ { print; next } /file:function/ { p = 1; next }
                 p && NF && !/^-+$/ && !/below main|libc-start|ld-linux|runIncprep|[?]:main /' \
          | head -n 21 | tee -a "$RESULTS" || true
        emit ""
      done
      rm -f "$dir/PROG.DEK" "$dir/PROG.XML"
    done
  else
    log "valgrind not found; no profile"
  fi
fi

emit "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
log "results in $RESULTS"
if [ "$CLEAN" = 1 ]; then
  log "removing generated inputs under $WORK (results kept)"
  find "$WORK" -mindepth 1 -maxdepth 1 ! -name results.txt -exec rm -rf {} +
fi
[ "$FAILS" = 0 ] || { log "$FAILS check(s) or target(s) failed"; exit 1; }
