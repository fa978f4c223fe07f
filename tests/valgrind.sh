#!/usr/bin/env bash
# Runs the preprocessor under Valgrind's memcheck on every end-to-end case folder, set up as the
# end-to-end runner sets it up (a copy of in/ in a fresh folder, env, setup, cmd), and fails on
# any memcheck error (invalid access, use of uninitialised memory, a definite or indirect leak),
# on any descriptor the program opened and left open at exit (0, 1, 2 and inherited ones aside),
# and on an exit status other than the case's expected.rc. Outputs are not compared here: the
# end-to-end runner does that.
#   usage: tests/valgrind.sh BUILD_DIR [CASE_NAME_REGEX]
# BUILD_DIR holds SOURCE/incprep (a build without sanitizers). Cases whose name matches
# VALGRIND_SKIP (a regex; default: none) are skipped; each run is given VALGRIND_TIMEOUT seconds
# (default 900): the largest cases (a 10 MiB line, a million lines, 10,000 members) take a few
# minutes under memcheck on a small machine.
set -uo pipefail

build=${1:?usage: tests/valgrind.sh BUILD_DIR [CASE_NAME_REGEX]}
filter=${2:-.}
here=$(cd "$(dirname "$0")" && pwd)
cases=$here/e2e
program=$(cd "$build" 2> /dev/null && pwd)/SOURCE/incprep
skip=${VALGRIND_SKIP:-}
limit=${VALGRIND_TIMEOUT:-900}

[ -x "$program" ] || { echo "valgrind.sh: no program at $program" >&2; exit 2; }
command -v valgrind > /dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/incprep-valgrind-XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=()
ran=0
for dir in "$cases"/*/; do
  name=$(basename "$dir")
  [[ $name =~ $filter ]] || continue
  if [ -n "$skip" ] && [[ $name =~ $skip ]]; then
    echo "skip  $name"
    continue
  fi
  [ -f "$dir/cmd" ] || continue
  run=$work/$name
  mkdir -p "$run/tree"
  [ -d "$dir/in" ] && cp -a "$dir/in/." "$run/tree/"

  # The child's environment: SYSLIB removed unless env sets it; NAME=VALUE lines from env.
  envargs=(-u SYSLIB)
  if [ -f "$dir/env" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      [ -n "$line" ] && envargs+=("$line")
    done < "$dir/env"
  fi
  if [ -f "$dir/setup" ]; then
    if ! (cd "$run/tree" && env "${envargs[@]}" CASE_DIR="$dir" bash "$dir/setup") \
      > "$run/setup.log" 2>&1; then
      echo "FAIL  $name: setup failed"
      cat "$run/setup.log"
      failed+=("$name")
      continue
    fi
  fi
  # One argument per line; an empty line is an empty argument.
  args=()
  while IFS= read -r line; do args+=("$line"); done < "$dir/cmd"

  ran=$((ran + 1))
  status=0
  (cd "$run/tree" &&
    exec env "${envargs[@]}" timeout "$limit" valgrind --tool=memcheck --error-exitcode=99 \
      --leak-check=full --errors-for-leak-kinds=definite,indirect --track-fds=yes \
      --log-file="$run/memcheck.log" "$program" "${args[@]}") \
    > "$run/stdout" 2> "$run/stderr" < /dev/null || status=$?

  problems=()
  expected=$(tr -d '\n' < "$dir/expected.rc" 2> /dev/null)
  if [ "$status" = 124 ]; then
    problems+=("did not finish within ${limit}s")
  elif [ "$status" = 99 ]; then
    problems+=("memcheck reported errors")
  elif [ "$status" != "$expected" ]; then
    problems+=("exit status $status, expected $expected")
  fi
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$run/memcheck.log"; then
    [ "$status" = 99 ] || problems+=("memcheck reported errors")
  fi
  # Descriptors open at exit that were not inherited from the parent.
  leaked=$(awk '/Open file descriptor [0-9]+:/ { fd = $0; getline; if ($0 !~ /inherited from parent/) print fd }' \
    "$run/memcheck.log")
  [ -n "$leaked" ] && problems+=("descriptors left open: $leaked")

  if [ "${#problems[@]}" -gt 0 ]; then
    echo "FAIL  $name: ${problems[*]}"
    sed -n '/ERROR SUMMARY/p; /Invalid\|uninitialised\|definitely lost\|indirectly lost\|Open file descriptor/,+6p' \
      "$run/memcheck.log" | head -n 60
    failed+=("$name")
  else
    echo "ok    $name"
  fi
  rm -rf "$run/tree"
done

echo "valgrind: $ran case(s) run, ${#failed[@]} failed"
if [ "${#failed[@]}" -gt 0 ]; then
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
[ "$ran" -gt 0 ] || { echo "valgrind: no case matched" >&2; exit 1; }
