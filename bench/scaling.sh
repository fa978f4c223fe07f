#!/usr/bin/env bash
# Scaling series of incprep: how the time of a run grows with
#   members:  the number of distinct members a deck of fixed size is drawn from (10 -> 10,000);
#             unit: 1,000 deck lines;
#   depth:    the depth of a chain of members, each including the next (10 -> 10,000); unit: one
#             expansion, measured as the difference between the chain expanded often enough for
#             about 50,000 and for about 100,000 expansions, so that the one-time reading of each
#             member's file (more members in a deeper chain) does not count;
#   dirs:     the number of SYSLIB directories (1 -> 200), 1,000 distinct members found only in
#             the last one; unit: one candidate tried (member x directory).
# Each size is timed in interleaved runs of every program given (median wall time), and the time
# per unit is printed with its ratio to the smallest size's.
#
#   bench/scaling.sh [--incprep PATH]... [--series "members depth dirs"] [--reps 5] [--work DIR]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/incprep-scaling
SERIES="members depth dirs"
REPS=5
PROGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --incprep) PROGS+=("$(realpath "$2")"); shift 2 ;;
    --series) SERIES=$2; shift 2 ;;
    --reps) REPS=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
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

# make_members DIR M: 400,000 deck lines (20,000 COPY statements of 20-line members) drawn
# round-robin from M distinct members.
make_members() {
  local dir=$1 m=$2
  [ -f "$dir/done" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  awk -v m="$m" -v dir="$dir" 'BEGIN {
    for (i = 1; i <= m; i++) {
      f = sprintf("%s/lib/M%05d.cpy", dir, i)
      for (l = 1; l <= 20; l++) printf "           05 F%05d-%02d PIC X(10) VALUE SPACES.\n", i, l > f
      close(f)
    }
    for (k = 0; k < 20000; k++) printf "       COPY M%05d.\n", k % m + 1 > (dir "/PROG.cbl")
  }'
  echo 20000 > "$dir/units.expansions"; echo 420 > "$dir/units"  # thousands of deck lines
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

echo "incprep scaling series, $(date -u '+%Y-%m-%d %H:%M UTC'), median of $REPS interleaved runs," \
     "load $(cut -d' ' -f1-3 /proc/loadavg)"
for s in $SERIES; do
  case $s in
    members) sizes="10 100 1000 10000"; unit="1000 deck lines (420,000 lines in all)" ;;
    depth) sizes="10 100 1000 5000 10000"; unit="expansion" ;;
    dirs) sizes="1 10 100 200"; unit="candidate" ;;
    *) echo "unknown series $s" >&2; exit 2 ;;
  esac
  echo "[$s] time per $unit"
  for n in $sizes; do
    dir="$WORK/$s-$n"
    "make_$s" "$dir" "$n"
    syslib=lib
    [ -f "$dir/syslib" ] && syslib=$(cat "$dir/syslib")
    units=$(cat "$dir/units")
    : > "$dir/times"
    for ((r = 0; r < REPS; r++)); do
      for p in "${!PROGS[@]}"; do
        t=$(cd "$dir" && SYSLIB="$syslib" "$RUN" -n 1 -o /dev/null -r PROG.DEK -r PROG.XML -- \
              "${PROGS[$p]}" PROG.cbl 'LANG(COBOL)' | sed -n 's/.*median_s=\([^ ]*\).*/\1/p')
        if [ -f "$dir/PROG2.cbl" ]; then  # the same and as much again: the difference counts
          t2=$(cd "$dir" && SYSLIB="$syslib" "$RUN" -n 1 -o /dev/null -r PROG2.DEK -r PROG2.XML -- \
                 "${PROGS[$p]}" PROG2.cbl 'LANG(COBOL)' | sed -n 's/.*median_s=\([^ ]*\).*/\1/p')
          t=$(awk -v a="$t" -v b="$t2" 'BEGIN { printf "%.6f", b - a }')
        fi
        echo "$p $t" >> "$dir/times"
      done
    done
    line=$(printf '  %6s:' "$n")
    for p in "${!PROGS[@]}"; do
      med=$(awk -v p="$p" '$1 == p { print $2 }' "$dir/times" | median)
      per=$(awk -v t="$med" -v u="$units" 'BEGIN { printf "%.3f", t * 1e6 / u }')
      key="$s-$p"
      first_var="FIRST_${s}_$p"
      [ -z "${!first_var:-}" ] && printf -v "$first_var" '%s' "$per"
      ratio=$(awk -v a="$per" -v b="${!first_var}" 'BEGIN { printf "%.2f", a / b }')
      line="$line  [$(basename "$(dirname "$(dirname "${PROGS[$p]}")")")] $(printf '%.4f' "$med") s, $per us/unit (x$ratio)"
      : "$key"
    done
    echo "$line"
  done
done
