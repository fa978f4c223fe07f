#!/usr/bin/env bash
# make and ninja rerun incprep exactly when its result may change: a member that was missing is
# created, or a member is created earlier in SYSLIB than the one that was found; nothing else
# is rebuilt. With SYSLIB=. and the outputs in . a second make does nothing.
# Usage: rebuild_test.sh INCPREP
set -euo pipefail
incprep=$(realpath "$1")
command -v make >/dev/null && command -v ninja >/dev/null || { echo "SKIP: make or ninja missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
checks=0
expect() { # expect WHAT WANTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: rebuilt '$3', expected '$2'"
  checks=$((checks + 1))
}
later() { sleep 0.1; } # the next change is newer than the outputs on any clock granularity in use

# A program A that copies REC (found in lib2, so lib1 was searched in vain) and LATE (missing),
# and a program B whose only member is found at the first place looked.
scenario() {
  mkdir -p "$1/src" "$1/lib1" "$1/lib2" "$1/out"
  printf '       COPY REC.\n       COPY LATE.\n' >"$1/src/A.cbl"
  printf '       COPY OTHER.\n' >"$1/src/B.cbl"
  printf '       01 REC-FROM-LIB2.\n' >"$1/lib2/REC.cpy"
  printf '       01 OTHER.\n' >"$1/lib1/OTHER.cpy"
}
opts="'LANG(COBOL)' 'MSGS(OFF)'"

mkdir "$work/make"
scenario "$work/make"
cat >"$work/make/Makefile" <<MK
export SYSLIB := lib1;lib2
all: out/A.cob out/B.cob
out/%.cob out/%.xml: src/%.cbl
	$incprep \$< $opts 'DECK(out/\$*.cob)' 'XML(out/\$*.xml)' 'DEPS(out/\$*.d)'
-include \$(wildcard out/*.d)
MK
mkdir "$work/ninja"
scenario "$work/ninja"
{
  echo "rule incprep"
  echo "  command = SYSLIB='lib1;lib2' $incprep \$in $opts 'DECK(\$deck)' 'XML(\$xml)' 'DEPS(\$deck.d)'"
  echo "  depfile = \$deck.d"
  echo "  deps = gcc"
  for p in A B; do
    echo "build out/$p.cob out/$p.xml: incprep src/$p.cbl"
    echo "  deck = out/$p.cob"
    echo "  xml = out/$p.xml"
  done
} >"$work/ninja/build.ninja"

for tool in make ninja; do
  cd "$work/$tool"
  # The programs preprocessed by one build, sorted, space-separated.
  if [ "$tool" = make ]; then
    build() { make 2>&1 | sed -n 's/.* src\/\([A-Z]*\)\.cbl .*/\1/p' | sort | tr '\n' ' '; }
  else
    build() { ninja -v 2>&1 | sed -n 's/.* src\/\([A-Z]*\)\.cbl .*/\1/p' | sort | tr '\n' ' '; }
  fi
  expect "$tool: first build" "A B " "$(build)"
  expect "$tool: second build" "" "$(build)"
  later
  printf '       01 LATE-NOW.\n' >lib2/LATE.cpy
  expect "$tool: missing member created" "A " "$(build)"
  grep -q 'LATE-NOW' out/A.cob || fail "$tool: the created member is not in the deck"
  expect "$tool: after the rebuild" "" "$(build)"
  later
  printf '       01 REC-FROM-LIB1.\n' >lib1/REC.cpy
  expect "$tool: member created earlier in SYSLIB" "A " "$(build)"
  grep -q 'REC-FROM-LIB1' out/A.cob || fail "$tool: the earlier member is not in the deck"
  expect "$tool: after the second rebuild" "" "$(build)"
  later
  touch lib1/OTHER.cpy
  expect "$tool: a member of B changed" "B " "$(build)"
done

# SYSLIB=. with the deck, side file and dependency file beside the source.
mkdir "$work/dot" && cd "$work/dot"
printf '       COPY M.\n       COPY NOPE.\n' >P.cbl
printf '       01 M.\n' >M.cpy
cat >Makefile <<MK
export SYSLIB := .
P.DEK P.XML: P.cbl
	$incprep P.cbl $opts 'DEPS(P.d)'
-include P.d
MK
build() { make 2>&1 | grep -c "incprep P.cbl" || true; }
expect "SYSLIB=.: first make" "1" "$(build)"
expect "SYSLIB=.: second make" "0" "$(build)"
expect "SYSLIB=.: third make" "0" "$(build)"
later
printf '       01 NOPE.\n' >NOPE.cpy
expect "SYSLIB=.: missing member created" "1" "$(build)"
expect "SYSLIB=.: after the rebuild" "0" "$(build)"
echo "rebuild: $checks passed, 0 failed"
