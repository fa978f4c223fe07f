#!/usr/bin/env bash
# Scaling series of incprep: how the time of a run grows with
#   members:    the number of distinct members n a primary copies, each once (10 -> 10,000);
#               unit: one distinct member (found, read, its 20 lines scanned and written),
#               measured as the difference between a primary copying members 1..n and one
#               copying members 1..2n, over n, so that the fixed cost of a run does not count;
#   members-rr: the number of distinct members a deck of fixed size is drawn from, round-robin
#               (10 -> 10,000); unit: 1,000 deck lines. Information only: more distinct members
#               mean more files to read, and past the 4 MiB of members held each is read again;
#   depth:      the depth n of a chain of members, each including the next (10 -> 10,000);
#               unit: one member met for the first time in the chain (found, read, scanned,
#               expanded), measured as the difference between the chain of 2n members included
#               once and its last n included once, over n: the first n members are added and the
#               last n go n levels deeper;
#   depth-rr:   a chain of n members included often enough for about 50,000 (and 100,000)
#               expansions; unit: one expansion of a member met again. Information only: a
#               member met again in the same setting is copied from its first expansion, the
#               chain's head as a whole once it is kept;
#   dirs:       the number of SYSLIB directories (1 -> 200), 1,000 distinct members found only
#               in the last one; unit: one candidate tried (member x directory).
# Each size is timed in interleaved rounds of every program given; a round takes the medians of
# the wall time and of the processor time (user + system) of RUNS runs of the primary, or of RUNS
# paired differences between its double and it; the members and depth series take about
# 2,000 / n runs a round, as at their small sizes the two runs differ by tens of microseconds. Per unit, the
# median over the rounds is printed with its range over the rounds and its ratio to the smallest
# size's. On a shared machine the processor time is the steadier figure: it leaves out the time
# spent waiting for a core.
#
#   bench/scaling.sh [--incprep PATH]... [--series "members members-rr depth depth-rr dirs"]
#                    [--reps 5] [--runs N] [--work DIR]
# --runs: runs per round for every size (default: 1, and about 2,000 / n for members and depth).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/incprep-scaling
SERIES="members members-rr depth depth-rr dirs"
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
    *) sed -n '2,31p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
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
  [ -f "$dir/done" ] && [ -f "$dir/lines" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  member_files "$dir" 1 $((2 * n))
  awk -v n="$n" -v dir="$dir" 'BEGIN {
    for (i = 1; i <= 2 * n; i++) {
      if (i <= n) printf "       COPY M%05d.\n", i > (dir "/PROG.cbl")
      printf "       COPY M%05d.\n", i > (dir "/PROG2.cbl")
    }
  }'
  echo "$n" > "$dir/units"
  echo "$((21 * n + 1)) $((42 * n + 1))" > "$dir/lines"  # 20 lines and the final empty line a member
  touch "$dir/done"
}

# make_members_rr DIR M: 400,000 deck lines (20,000 COPY statements of 20-line members) drawn
# round-robin from M distinct members.
make_members_rr() {
  local dir=$1 m=$2
  [ -f "$dir/done" ] && [ -f "$dir/lines" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  member_files "$dir" 1 "$m"
  awk -v m="$m" -v dir="$dir" 'BEGIN {
    for (k = 0; k < 20000; k++) printf "       COPY M%05d.\n", k % m + 1 > (dir "/PROG.cbl")
  }'
  echo 420 > "$dir/units"  # thousands of deck lines
  echo 420001 > "$dir/lines"
  touch "$dir/done"
}
# make_depth DIR N: a chain M1 -> M2 -> ... -> M2N; PROG.cbl includes M(N+1) (a chain of N),
# PROG2.cbl includes M1 (the chain of 2N), each once.
make_depth() {
  local dir=$1 d=$2
  [ -f "$dir/done" ] && [ -f "$dir/lines" ] && return
  rm -rf "$dir"; mkdir -p "$dir/lib"
  awk -v d="$d" -v dir="$dir" 'BEGIN {
    for (i = 1; i <= 2 * d; i++) {
      f = sprintf("%s/lib/M%05d.cpy", dir, i)
      printf "           05 F%05d PIC X.\n", i > f
      if (i < 2 * d) printf "       COPY M%05d.\n", i + 1 > f
      close(f)
    }
    printf "       COPY M%05d.\n", d + 1 > (dir "/PROG.cbl")
    printf "       COPY M00001.\n" > (dir "/PROG2.cbl")
    print d > (dir "/units")
    print 2 * d + 1, 4 * d + 1 > (dir "/lines")  # each member: its line and a final empty one
  }'
  touch "$dir/done"
}

# make_depth_rr DIR D: a chain M1 -> M2 -> ... -> MD, the primary includes M1 often enough for
# about 50,000 expansions.
make_depth_rr() {
  local dir=$1 d=$2
  [ -f "$dir/done" ] && [ -f "$dir/lines" ] && return
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
    print 2 * r * d + 1, 4 * r * d + 1 > (dir "/lines")  # each member: its line and a final empty one
  }'
  touch "$dir/done"
}

# make_dirs DIR N: N directories, 1,000 members all in the last one, each included once.
make_dirs() {
  local dir=$1 n=$2
  [ -f "$dir/done" ] && [ -f "$dir/lines" ] && return
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
    print 2001 > (dir "/lines")
  }'
  touch "$dir/done"
}

# time_of DIR SYSLIB PROGRAM RUNS: "WALL CPU" for one round: the medians of the wall time and of
# the processor time (user + system) of RUNS runs of PROGRAM on DIR/PROG.cbl; where DIR also
# holds PROG2.cbl (the same and as much again), the medians of RUNS differences between a run on
# PROG2.cbl and a run on PROG.cbl made one right after the other (in alternating order), so that
# a change in the machine's load between runs weighs on both alike.
time_of() {
  (cd "$1" && export SYSLIB="$2"
   one() { "$RUN" -n 1 -o /dev/null -r "$2.DEK" -r "$2.XML" -- "$1" "$2.cbl" 'LANG(COBOL)' |
             sed -n "s/.*median_s=\([^ ]*\).*median_cpu_s=\([^ ]*\).*/$2 \1 \2/p"; }
   for ((k = 0; k < $4; k++)); do
     if [ ! -f PROG2.cbl ]; then one "$3" PROG
     elif ((k % 2)); then one "$3" PROG2; one "$3" PROG
     else one "$3" PROG; one "$3" PROG2
     fi
   done) | awk 'function med(v, n,   i, j, t) {
                  for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
                  return (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }
                $1 == "PROG" { w[NR] = $2; c[NR] = $3 }
                $1 == "PROG2" { w2[NR] = $2; c2[NR] = $3; pairs = 1 }
                END {
                  n = 0
                  for (i = 1; i <= NR; i += 1 + pairs) {
                    n++
                    if (pairs) { k = (i in w) ? i + 1 : i; l = (i in w) ? i : i + 1
                                 dw[n] = w2[k] - w[l]; dc[n] = c2[k] - c[l] }
                    else { dw[n] = w[i]; dc[n] = c[i] }
                  }
                  printf "%.6f %.6f\n", med(dw, n), med(dc, n) }'
}

# per_unit DIR P COLUMN UNITS: "MEDIAN LOW HIGH", the median and range over the rounds of
# program P's time per unit (microseconds) in column COLUMN of DIR/times.
per_unit() {
  awk -v p="$2" -v c="$3" -v u="$4" '$1 == p { print $c * 1e6 / u }' "$1/times" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR] }'
}

# check_deck DIR SYSLIB PROGRAM: PROGRAM's decks of DIR/PROG.cbl (and PROG2.cbl) have the number
# of lines the generator expects (DIR/lines) and no NUL byte; a mismatch is reported, the program
# is not timed on this size and the script ends with status 1.
FAILS=0
check_deck() {
  local expect src i=0 got bytes
  read -r -a expect < "$1/lines"
  for src in PROG PROG2; do
    [ -f "$1/$src.cbl" ] || continue
    rm -f "$1/$src.DEK"
    (cd "$1" && SYSLIB="$2" "$3" "$src.cbl" 'LANG(COBOL)' > /dev/null 2>&1) || true
    got=$(tr -d '\000' < "$1/$src.DEK" 2> /dev/null | wc -l)
    bytes=$(tr -d '\000' < "$1/$src.DEK" 2> /dev/null | wc -c)
    if [ "$got" != "${expect[$i]}" ] || [ "$bytes" != "$(wc -c < "$1/$src.DEK" 2> /dev/null)" ]; then
      echo "  DECK MISMATCH: $3 on $1/$src.cbl: $got lines (expected ${expect[$i]}) or NUL bytes"
      FAILS=$((FAILS + 1))
      return 1
    fi
    i=$((i + 1))
  done
}

echo "incprep scaling series, $(date -u '+%Y-%m-%d %H:%M UTC'), median of $REPS interleaved rounds," \
     "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "per unit: wall time (range over the rounds); processor time, user + system (range)"
for s in $SERIES; do
  case $s in
    members) sizes="10 100 1000 10000"; unit="distinct member" ;;
    members-rr) sizes="10 100 1000 10000"; unit="1000 deck lines (420,000 lines in all)" ;;
    depth) sizes="10 100 1000 5000 10000"; unit="member met first at its depth" ;;
    depth-rr) sizes="10 100 1000 5000 10000"; unit="expansion of a member met again" ;;
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
    bad=()
    for p in "${!PROGS[@]}"; do check_deck "$dir" "$syslib" "${PROGS[$p]}" || bad[p]=1; done
    runs=${RUNS:-1}
    if [ -z "$RUNS" ] && { [ "$s" = members ] || [ "$s" = depth ]; }; then runs=$(( (2000 / n) | 1 )); [ "$runs" -lt 5 ] && runs=5; fi
    : > "$dir/times"
    for ((r = 0; r < REPS; r++)); do
      for p in "${!PROGS[@]}"; do
        [ -n "${bad[p]:-}" ] && continue
        echo "$p $(time_of "$dir" "$syslib" "${PROGS[$p]}" "$runs")" >> "$dir/times"
      done
    done
    line=$(printf '  %6s:' "$n")
    for p in "${!PROGS[@]}"; do
      label=$(basename "$(dirname "$(dirname "${PROGS[$p]}")")")
      if [ -n "${bad[p]:-}" ]; then line="$line  [$label] deck mismatch, not timed"; continue; fi
      read -r wall wlo whi <<< "$(per_unit "$dir" "$p" 2 "$units")"
      read -r cpu clo chi <<< "$(per_unit "$dir" "$p" 3 "$units")"
      first_var="FIRST_${s//-/_}_$p"
      [ -z "${!first_var:-}" ] && printf -v "$first_var" '%s %s' "$wall" "$cpu"
      read -r fwall fcpu <<< "${!first_var}"
      ratios=$(awk -v a="$wall" -v b="$fwall" -v c="$cpu" -v d="$fcpu" 'BEGIN { printf "x%s x%s", b ? sprintf("%.2f", a / b) : "-", d ? sprintf("%.2f", c / d) : "-" }')
      line="$line  [$label]"
      line="$line $wall us ($wlo-$whi) ${ratios% *}; cpu $cpu us ($clo-$chi) ${ratios#* }"
    done
    echo "$line${runs:+ ($runs runs a round)}"
  done
done
[ "$FAILS" = 0 ] || { echo "$FAILS deck check(s) failed" >&2; exit 1; }
