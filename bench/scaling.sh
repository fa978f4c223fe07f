#!/usr/bin/env bash
# Scaling series of incprep: how the time of a run grows with
#   members:    the number of distinct members n a primary copies, each once (10 -> 10,000);
#               unit: one distinct member (found, read, its 20 lines scanned and written),
#               measured as the difference between a primary copying members 1..n and one
#               copying members 1..2n, over n, so that the fixed cost of a run does not count;
#   members-rr: the number of distinct members a deck of fixed size is drawn from, round-robin
#               (10 -> 10,000); unit: 1,000 deck lines. Information only: more distinct members
#               mean more files to read, and past the 4 MiB of members held each is read again;
#   depth:      the depth of a chain of members, each including the next (10 -> 10,000); unit:
#               one expansion, measured as the difference between the chain expanded often
#               enough for about 50,000 and for about 100,000 expansions, so that the one-time
#               reading of each member's file (more members in a deeper chain) does not count;
#   dirs:       the number of SYSLIB directories (1 -> 200), 1,000 distinct members found only
#               in the last one; unit: one candidate tried (member x directory).
# Each size is timed in interleaved rounds of every program given; a round takes the median wall
# time of RUNS runs of the primary (and of its double), more runs for the small members sizes,
# whose difference is tens of microseconds. The time per unit printed is the median over the
# rounds, with its ratio to the smallest size's and the range over the rounds.
#
#   bench/scaling.sh [--incprep PATH]... [--series "members members-rr depth dirs"] [--reps 5]
#                    [--runs N] [--work DIR]
# --runs: runs per round for every size (default: 1, and about 2,000 / n for members).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/incprep-scaling
SERIES="members members-rr depth dirs"
REPS=5
RUNS=""
PROGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --incprep) PROGS+=("$(realpath "$2")"); shift 2 ;;
    --series) SERIES=$2; shift 2 ;;
    --reps) REPS=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
if [ ${#PROGS[@]} = 0 ]; then
  cmake --build "$ROOT/build/release" -j2 --target incprep > /dev/null
  PROGS=("$ROOT/build/release/SOURCE/incprep")
fi
mkdir -p "$WORK"
cmake -S "$ROOT/bench" -B "$WORK/tools" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$WORK/tools" -j2 > /dev/null
RUN="$WORK/tools/incprep_benchrun"

# member_files DIR FIRST LAST: the 20-line members M<FIRST> .. M<LAST> in DIR/lib.
member_files() {
  awk -v first="$2" -v last="$3" -v dir="$1" 'BEGIN {
    for (i = first; i <= last; i++) {
      f = sprintf("%s/lib/M%05d.cpy", dir, i)
      for (l = 1; l <= 20; l++) printf "           05 F%05d-%02d PIC X(10) VALUE SPACES.\n", i, l > f
      close(f)
    }
  }'
}

# make_members DIR N: 2N distinct members; PROG.cbl copies M1 .. MN once each, PROG2.cbl
# M1 .. M2N once each. The difference of the two runs is the cost of N distinct members met
# for the first time, with every fixed cost of a run (process, outputs opened) taken out.
make_members() {
  local dir=$1 n=$2
  [ -f "$dir/done" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  member_files "$dir" 1 $((2 * n))
  awk -v n="$n" -v dir="$dir" 'BEGIN {
    for (i = 1; i <= 2 * n; i++) {
      if (i <= n) printf "       COPY M%05d.\n", i > (dir "/PROG.cbl")
      printf "       COPY M%05d.\n", i > (dir "/PROG2.cbl")
    }
  }'
  echo "$n" > "$dir/units"
  touch "$dir/done"
}

# make_members_rr DIR M: 400,000 deck lines (20,000 COPY statements of 20-line members) drawn
# round-robin from M distinct members.
make_members_rr() {
  local dir=$1 m=$2
  [ -f "$dir/done" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  member_files "$dir" 1 "$m"
  awk -v m="$m" -v dir="$dir" 'BEGIN {
    for (k = 0; k < 20000; k++) printf "       COPY M%05d.\n", k % m + 1 > (dir "/PROG.cbl")
  }'
  echo 420 > "$dir/units"  # thousands of deck lines
  touch "$dir/done"
}
# make_depth DIR D: a chain M1 -> M2 -> ... -> MD, the primary includes M1 often enough for
# about 50,000 expansions.
make_depth() {
  local dir=$1 d=$2
  [ -f "$dir/done" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  awk -v d="$d" -v dir="$dir" 'BEGIN {
    for (i = 1; i <= d; i++) {
      f = sprintf("%s/lib/M%05d.cpy", dir, i)
      printf "           05 F%05d PIC X.\n", i > f
      if (i < d) printf "       COPY M%05d.\n", i + 1 > f
      close(f)
    }
    r = int((50000 + d - 1) / d)
    for (k = 0; k < r; k++) printf "       COPY M00001.\n" > (dir "/PROG.cbl")
    for (k = 0; k < 2 * r; k++) printf "       COPY M00001.\n" > (dir "/PROG2.cbl")
    print r * d > (dir "/units")
  }'
  touch "$dir/done"
}

# make_dirs DIR N: N directories, 1,000 members all in the last one, each included once.
make_dirs() {
  local dir=$1 n=$2
  [ -f "$dir/done" ] && return
  rm -rf "$dir"; mkdir -p "$dir"
  local syslib="" i
  for ((i = 1; i <= n; i++)); do mkdir -p "$dir/d$i"; syslib="$syslib${syslib:+;}d$i"; done
  echo "$syslib" > "$dir/syslib"
  awk -v n="$n" -v dir="$dir" 'BEGIN {
    for (i = 1; i <= 1000; i++) {
      f = sprintf("%s/d%d/M%05d.cpy", dir, n, i)
      printf "           05 F%05d PIC X.\n", i > f
      close(f)
      printf "       COPY M%05d.\n", i > (dir "/PROG.cbl")
    }
    print 1000 * n > (dir "/units")
  }'
  touch "$dir/done"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_of DIR SYSLIB PROGRAM RUNS SOURCE: the median wall time of RUNS runs of PROGRAM on SOURCE.
time_of() {
  local base=${5%.cbl}
  (cd "$1" && SYSLIB="$2" "$RUN" -n "$4" -o /dev/null -r "$base.DEK" -r "$base.XML" -- \
     "$3" "$5" 'LANG(COBOL)') | sed -n 's/.*median_s=\([^ ]*\).*/\1/p'
}

echo "incprep scaling series, $(date -u '+%Y-%m-%d %H:%M UTC'), median of $REPS interleaved rounds," \
     "load $(cut -d' ' -f1-3 /proc/loadavg)"
for s in $SERIES; do
  case $s in
    members) sizes="10 100 1000 10000"; unit="distinct member" ;;
    members-rr) sizes="10 100 1000 10000"; unit="1000 deck lines (420,000 lines in all)" ;;
    depth) sizes="10 100 1000 5000 10000"; unit="expansion" ;;
    dirs) sizes="1 10 100 200"; unit="candidate" ;;
    *) echo "unknown series $s" >&2; exit 2 ;;
  esac
  echo "[$s] time per $unit"
  for n in $sizes; do
    dir="$WORK/$s-$n"
    "make_${s//-/_}" "$dir" "$n"
    syslib=lib
    [ -f "$dir/syslib" ] && syslib=$(cat "$dir/syslib")
    units=$(cat "$dir/units")
    runs=${RUNS:-1}
    if [ -z "$RUNS" ] && [ "$s" = members ]; then runs=$(( (2000 / n) | 1 )); [ "$runs" -lt 5 ] && runs=5; fi
    : > "$dir/times"
    for ((r = 0; r < REPS; r++)); do
      for p in "${!PROGS[@]}"; do
        t=$(time_of "$dir" "$syslib" "${PROGS[$p]}" "$runs" PROG.cbl)
        if [ -f "$dir/PROG2.cbl" ]; then  # the same and as much again: the difference counts
          t2=$(time_of "$dir" "$syslib" "${PROGS[$p]}" "$runs" PROG2.cbl)
          t=$(awk -v a="$t" -v b="$t2" 'BEGIN { printf "%.6f", b - a }')
        fi
        echo "$p $t" >> "$dir/times"
      done
    done
    line=$(printf '  %6s:' "$n")
    for p in "${!PROGS[@]}"; do
      med=$(awk -v p="$p" '$1 == p { print $2 }' "$dir/times" | median)
      range=$(awk -v p="$p" -v u="$units" '$1 == p { v = $2 * 1e6 / u; if (!c++ || v < lo) lo = v; if (c == 1 || v > hi) hi = v }
                END { printf "%.3f-%.3f", lo, hi }' "$dir/times")
      per=$(awk -v t="$med" -v u="$units" 'BEGIN { printf "%.3f", t * 1e6 / u }')
      first_var="FIRST_${s//-/_}_$p"
      [ -z "${!first_var:-}" ] && printf -v "$first_var" '%s' "$per"
      ratio=$(awk -v a="$per" -v b="${!first_var}" 'BEGIN { printf "%.2f", a / b }')
      line="$line  [$(basename "$(dirname "$(dirname "${PROGS[$p]}")")")] $(printf '%.4f' "$med") s,"
      line="$line $per us/unit (x$ratio; rounds $range, $runs runs each)"
    done
    echo "$line"
  done
done
