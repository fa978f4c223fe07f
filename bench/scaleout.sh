#!/usr/bin/env bash
# Scale-out through a build engine: a repository of N COBOL programs sharing one library of
# copybooks, preprocessed by ninja with incprep (one process per program, the dependency file as
# ninja's depfile) and, for comparison, with `cobc -E`. Prints programs per second for a clean
# build with -j1 and -j2, then checks that touching one copybook rebuilds exactly its users.
#
#   bench/scaleout.sh [--programs "1000 10000"] [--jobs "1 2"] [--cobc-max N] [--incprep PATH]
#                     [--work DIR]
#
# --cobc-max: cobc -E is timed only for repositories of at most N programs (default 10000).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/incprep-scaleout
PROGRAMS="1000 10000"
JOBS="1 2"
COBC_MAX=10000
INCPREP=""
while [ $# -gt 0 ]; do
  case "$1" in
    --programs) PROGRAMS=$2; shift 2 ;;
    --jobs) JOBS=$2; shift 2 ;;
    --cobc-max) COBC_MAX=$2; shift 2 ;;
    --incprep) INCPREP=$(realpath "$2"); shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
if [ -z "$INCPREP" ]; then
  cmake --build "$ROOT/build/release" -j2 --target incprep > /dev/null
  INCPREP="$ROOT/build/release/SOURCE/incprep"
fi
command -v ninja > /dev/null || { echo "scaleout.sh: ninja is needed" >&2; exit 1; }
HAVE_COBC=0
command -v cobc > /dev/null && HAVE_COBC=1

# generate DIR N: lib/ with 420 copybooks (400 record layouts, a quarter of them pulling in one of
# 20 field groups), src/ with N programs of about 150 lines that copy 20 of them each, and
# build.ninja with the incprep and cobc -E rules.
generate() {
  local dir=$1 n=$2
  [ -f "$dir/done" ] && return
  rm -rf "$dir"
  mkdir -p "$dir/lib" "$dir/src"
  awk -v n="$n" -v dir="$dir" 'BEGIN {
    srand(13)
    for (g = 1; g <= 20; g++) {
      f = sprintf("%s/lib/GRP%03d.cpy", dir, g)
      for (l = 1; l <= 8; l++) printf "           10 G%03d-F%02d        PIC X(8).\n", g, l > f
      close(f)
    }
    for (m = 1; m <= 400; m++) {
      f = sprintf("%s/lib/REC%03d.cpy", dir, m)
      printf "       01 REC%03d.\n", m > f
      for (l = 1; l <= 12; l++) printf "           05 R%03d-F%02d        PIC X(10).\n", m, l > f
      if (m % 4 == 0) printf "           05 R%03d-GRP.\n       COPY GRP%03d.\n", m, m % 20 + 1 > f
      close(f)
    }
    for (p = 1; p <= n; p++) {
      f = sprintf("%s/src/P%05d.cbl", dir, p)
      printf "       IDENTIFICATION DIVISION.\n       PROGRAM-ID. P%05d.\n", p > f
      printf "       DATA DIVISION.\n       WORKING-STORAGE SECTION.\n" > f
      for (k = 1; k <= 20; k++) printf "       COPY REC%03d.\n", int(rand() * 400) + 1 > f
      printf "       PROCEDURE DIVISION.\n" > f
      for (l = 1; l <= 120; l++) printf "           DISPLAY \"P%05d LINE %03d\".\n", p, l > f
      printf "           STOP RUN.\n" > f
      close(f)
    }
  }'
  {
    echo "incprep = $INCPREP"
    echo "rule incprep"
    echo "  command = SYSLIB=lib \$incprep \$in 'LANG(COBOL)' 'DECK(\$out)' 'XML(\$xml)' 'DEPS(\$out.d)'"
    echo "  depfile = \$out.d"
    echo "  deps = gcc"
    echo "rule cobc"
    echo "  command = cobc -E -I lib -o \$out \$in"
    for ((p = 1; p <= n; p++)); do
      printf -v s 'P%05d' "$p"
      echo "build out/$s.cob | out/$s.xml: incprep src/$s.cbl"
      echo "  xml = out/$s.xml"
      echo "build cobc/$s.i: cobc src/$s.cbl"
    done
    echo "build incprep: phony $(for ((p = 1; p <= n; p++)); do printf 'out/P%05d.cob ' "$p"; done)"
    echo "build cobc: phony $(for ((p = 1; p <= n; p++)); do printf 'cobc/P%05d.i ' "$p"; done)"
    echo "default incprep"
  } > "$dir/build.ninja"
  touch "$dir/done"
}

# clean_build DIR TARGET JOBS: "WALL CPU", the seconds of a clean build of TARGET and the CPU
# seconds (user + system) of ninja and every process it ran.
clean_build() {
  local dir=$1 target=$2 jobs=$3
  rm -rf "$dir/out" "$dir/cobc" "$dir/.ninja_log" "$dir/.ninja_deps"
  /usr/bin/time -f '%e %U %S' -o "$dir/time.txt" ninja -C "$dir" -j "$jobs" "$target" \
    > "$dir/ninja.log" 2>&1 || { echo "scaleout.sh: ninja failed, see $dir/ninja.log" >&2; exit 1; }
  awk '{ printf "%.3f %.3f", $1, $2 + $3 }' "$dir/time.txt"
}

# report N JOBS WHAT "WALL CPU"
report() {
  awk -v n="$1" -v j="$2" -v what="$3" -v w="${4% *}" -v c="${4#* }" 'BEGIN {
    printf "  N=%d -j%d %-8s wall %8.2f s, %7.0f programs/s;  cpu %8.2f s, %7.0f programs per cpu-second\n",
           n, j, what, w, n / w, c, n / c }'
}

echo "incprep scale-out (one process per program) with ninja $(ninja --version), $(date -u '+%Y-%m-%d %H:%M UTC')," \
     "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for n in $PROGRAMS; do
  dir="$WORK/repo-$n"
  generate "$dir" "$n"
  sed -i "1s|^incprep = .*|incprep = $INCPREP|" "$dir/build.ninja"  # the program asked for now
  for j in $JOBS; do
    r=$(clean_build "$dir" incprep "$j") || exit 1
    report "$n" "$j" incprep "$r"
    if [ "$HAVE_COBC" = 1 ] && [ "$n" -le "$COBC_MAX" ]; then
      r=$(clean_build "$dir" cobc "$j") || exit 1
      report "$n" "$j" "cobc -E" "$r"
    fi
  done
  # Incremental: after a full build, touching one copybook rebuilds exactly the programs that
  # copy it (directly or through a nested copybook), and nothing else.
  clean_build "$dir" incprep 2 > /dev/null
  sleep 1
  touch "$dir/lib/GRP001.cpy"
  # GRP001 is copied by the copybooks REC020, REC040, ..., REC400.
  users=$(grep -l -E "COPY REC($(seq -f '%03g' -s '|' 20 20 400))\." "$dir"/src/*.cbl | wc -l)
  ninja -C "$dir" -j2 incprep > "$dir/ninja.log" 2>&1
  rebuilt=$(sed -n 's/^\[\([0-9]*\)\/[0-9]*\].*/\1/p' "$dir/ninja.log" | tail -n 1)
  echo "  N=$n touching lib/GRP001.cpy rebuilt ${rebuilt:-0} programs; $users copy a member that copies it"
done
