#!/usr/bin/env bash
# Differential check of two incprep binaries: every end-to-end case, every program of the shared
# corpus and, when given, benchmark input folders are run by both, with and without TRACE(ON),
# in the same working path; the trees they leave (deck, side file, dependency file, every other
# file), standard output, standard error and exit status must be equal byte for byte.
#
#   tests/same_output.sh REFERENCE NEW [--e2e DIR] [--corpus DIR] [--bench DIR]... [--no-trace]
#
# --bench takes a folder made by incprep_benchgen (PROG.cbl or PROG.pli, lib1, lib2). Exit status:
# 0 when all outputs agree, 1 when some differ (each difference is listed), 2 on a usage error.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ $# -ge 2 ] || { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
REF=$(realpath "$1")
NEW=$(realpath "$2")
shift 2
E2E="$ROOT/tests/e2e"
CORPUS="$ROOT/../shared/corpus"
[ -d "$CORPUS" ] || CORPUS=/work/shared/corpus
BENCH=()
TRACE=1
while [ $# -gt 0 ]; do
  case "$1" in
    --e2e) E2E=$2; shift 2 ;;
    --corpus) CORPUS=$2; shift 2 ;;
    --bench) BENCH+=("$(realpath "$2")"); shift 2 ;;
    --no-trace) TRACE=0; shift ;;
    *) echo "same_output.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
for b in "$REF" "$NEW"; do [ -x "$b" ] || { echo "same_output.sh: no program $b" >&2; exit 2; }; done

T=$(mktemp -d /tmp/incprep-same.XXXXXX)
trap 'chmod -R u+rwx "$T" 2> /dev/null; rm -rf "$T"' EXIT
RUNS=0
DIFFS=0

# snapshot DIR OUT: the tree's entries (type, name, size of regular files) and, for regular
# files, their bytes' checksums; never reads a FIFO or a device.
snapshot() {
  (cd "$1" && find . -mindepth 1 \( -type f -printf '%y %p %s\n' -o ! -type f -printf '%y %p\n' \) \
     | LC_ALL=C sort > "$2"
   cd "$1" && find . -type f -readable -print0 | LC_ALL=C sort -z | xargs -0 -r cksum >> "$2")
}

# one NAME PREPARE-CMD -- ENV... -- ARGS...: runs both programs on a tree made afresh by
# PREPARE-CMD (run in the empty working folder) and compares.
one() {
  local name=$1 prepare=$2
  shift 2
  local envs=() args=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  args=("$@")
  local side
  for side in ref new; do
    local bin=$REF
    [ "$side" = new ] && bin=$NEW
    chmod -R u+rwx "$T/w" 2> /dev/null
    rm -rf "$T/w"
    mkdir -p "$T/w"
    (cd "$T/w" && eval "$prepare") > /dev/null 2>&1
    # argv[0] is "incprep" for both: the trace prints it.
    (cd "$T/w" && env -u SYSLIB "${envs[@]}" timeout 60 bash -c 'exec -a incprep "$0" "$@"' \
       "$bin" "${args[@]}" \
       > "$T/$side.stdout" 2> "$T/$side.stderr" < /dev/null
     echo $? > "$T/$side.rc")
    snapshot "$T/w" "$T/$side.tree"
  done
  RUNS=$((RUNS + 1))
  local what bad=""
  for what in rc stdout stderr tree; do
    cmp -s "$T/ref.$what" "$T/new.$what" || bad="$bad $what"
  done
  if [ -n "$bad" ]; then
    DIFFS=$((DIFFS + 1))
    echo "DIFFERS: $name:$bad"
    for what in $bad; do diff "$T/ref.$what" "$T/new.$what" | head -n 6 | cut -c1-160 | sed 's/^/    /'; done
  fi
}

# --- end-to-end cases ------------------------------------------------------------------------
for c in "$E2E"/*/; do
  c=${c%/}
  name=$(basename "$c")
  [ -f "$c/cmd" ] || continue
  mapfile -t args < "$c/cmd"
  envs=()
  [ -f "$c/env" ] && mapfile -t envs < "$c/env"
  prep="true"
  [ -d "$c/in" ] && prep="cp -a '$c/in/.' ."
  [ -f "$c/setup" ] && prep="$prep; CASE_DIR='$c' bash '$c/setup'"
  one "e2e/$name" "$prep" "${envs[@]}" -- "${args[@]}"
  # Trace output of the huge inputs would be hundreds of megabytes: their plain runs suffice.
  if [ "$TRACE" = 1 ] && [ ${#args[@]} -gt 0 ] && [[ ! $name =~ _large$|hostile_source_|hostile_members_ ]]; then
    one "e2e/$name+trace" "$prep" "${envs[@]}" -- "${args[@]}" 'TRACE(ON)'
  fi
done

# --- the shared corpus -----------------------------------------------------------------------
if [ -f "$CORPUS/programs.tsv" ]; then
  while IFS=$'\t' read -r dir source lang syslib _; do
    [ "$dir" = dir ] && continue
    prep="cp -a '$CORPUS/$dir/.' ."
    one "corpus/$dir" "$prep" "SYSLIB=$syslib" -- "$source" "LANG($lang)"
    [ "$TRACE" = 1 ] && one "corpus/$dir+trace" "$prep" "SYSLIB=$syslib" -- "$source" "LANG($lang)" 'TRACE(ON)'
    one "corpus/$dir+cmt" "$prep" "SYSLIB=$syslib" -- "$source" "LANG($lang)" 'CMT(ON)' 'FORMAT(ON)'
  done < "$CORPUS/programs.tsv"
fi

# --- benchmark inputs ------------------------------------------------------------------------
for b in "${BENCH[@]}"; do
  if [ -f "$b/PROG.cbl" ]; then src=PROG.cbl lang=COBOL; else src=PROG.pli lang=PLI; fi
  prep="ln -s '$b/$src' '$src'; ln -s '$b/lib1' lib1; ln -s '$b/lib2' lib2"
  one "bench/$(basename "$b")" "$prep" "SYSLIB=lib1;lib2" -- "$src" "LANG($lang)"
  [ "$TRACE" = 1 ] && one "bench/$(basename "$b")+trace" "$prep" "SYSLIB=lib1;lib2" -- "$src" "LANG($lang)" 'TRACE(ON)'
done

echo "same_output: $RUNS runs compared, $DIFFS differ"
[ "$DIFFS" = 0 ]
