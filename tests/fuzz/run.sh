#!/usr/bin/env bash
# A bounded fuzz run for CI: builds incprep_fuzz with clang in build/fuzz, fuzzes for about
# SECONDS seconds from a copy of the seed corpus, and fails when the target crashes, trips a
# sanitizer, breaks an invariant, runs out of time on one input or out of memory. The
# reproducer's path and its bytes (hex) are printed into the log.
#   usage: tests/fuzz/run.sh SECONDS [extra libFuzzer flags...]
# Environment: CXX (default clang++), FUZZ_BUILD_DIR (default build/fuzz),
# FUZZ_JOBS (default 1; at most 2 on a shared machine).
set -uo pipefail

seconds=${1:?usage: tests/fuzz/run.sh SECONDS [libFuzzer flags...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
jobs=${FUZZ_JOBS:-1}
cxx=${CXX:-clang++}
case "$cxx" in *clang*) ;; *) cxx=clang++ ;; esac

if ! command -v "$cxx" > /dev/null; then
  echo "fuzz: $cxx not found (install clang and libclang-rt-14-dev)" >&2
  exit 1
fi

echo "fuzz: building incprep_fuzz in $build with $cxx"
generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build.configure.log" 2>&1 ||
  { cat "$build.configure.log" >&2; exit 1; }
cmake --build "$build" --target incprep_fuzz -j 2 || exit 1
binary=$build/incprep_fuzz
[ -x "$binary" ] || { echo "fuzz: $binary was not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/incprep-fuzzrun-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
cp "$here"/corpus/* "$work/corpus/"

echo "fuzz: running for ${seconds}s with $jobs job(s)"
status=0
if [ "$jobs" -gt 1 ]; then
  (cd "$work" && "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 \
    -jobs="$jobs" -workers="$jobs" -dict="$here/incprep.dict" \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$@" "$work/corpus") \
    > "$work/fuzz.log" 2>&1 || status=$?
  cat "$work"/fuzz-*.log 2> /dev/null | grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)|^stat::|invariant|ERROR|SUMMARY' || true
else
  "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 \
    -dict="$here/incprep.dict" -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    "$@" "$work/corpus" > "$work/fuzz.log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)|^stat::' "$work/fuzz.log" || true
fi

found=$(find "$work/artifacts" -type f | head -n 20)
if [ "$status" -ne 0 ] || [ -n "$found" ]; then
  echo "fuzz: FAILED (exit status $status)" >&2
  # The report of the failing run: the invariant or sanitizer message and the stack.
  for log in "$work"/fuzz.log "$work"/fuzz-*.log; do
    [ -f "$log" ] || continue
    if grep -qE 'invariant failed|ERROR: |SUMMARY: ' "$log"; then
      echo "----- $log" >&2
      grep -nE -A40 'invariant failed|ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error' "$log" | head -n 120 >&2
    fi
  done
  keep=${FUZZ_ARTIFACT_DIR:-$root/build/fuzz-artifacts}
  mkdir -p "$keep"
  for f in $found; do
    cp "$f" "$keep/"
    echo "----- reproducer $keep/$(basename "$f") ($(wc -c < "$f") bytes); replay: $binary $keep/$(basename "$f")" >&2
    od -A x -t x1z -v "$f" | head -n 400 >&2
  done
  exit 1
fi
echo "fuzz: passed"
