#!/usr/bin/env bash
# The Makefile example rebuilds exactly the programs whose copybooks changed, using the
# dependency files that incprep's DEPS(...) writes, and survives a deleted copybook.
# The ninja example does the same with the dependency file as its depfile.
# Usage: make_deps_test.sh INCPREP EXAMPLE_DIR INCPREP_MAP
set -euo pipefail
incprep=$(realpath "$1")
example=$(realpath "$2")
map=$(realpath "$3")
command -v make >/dev/null && command -v cobc >/dev/null || { echo "SKIP: make or cobc missing"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$example"/. "$work"
rm -rf "$work/build"
cd "$work"

fail() { echo "FAIL: $*"; exit 1; }
# The programs make preprocessed in one run, sorted, space-separated.
rebuilt() { make INCPREP="$incprep" INCPREP_MAP="$map" 2>&1 | sed -n "s/.* src\/\([A-Z]*\)\.cbl .*/\1/p" | sort | tr '\n' ' '; }
later() { sleep 1; touch "$@"; }

[ "$(rebuilt)" = "CUSTRPT ORDRPT " ] || fail "first build"
[ -f build/CUSTRPT.o ] && [ -f build/ORDRPT.o ] || fail "objects missing"
[ "$(rebuilt)" = "" ] || fail "second build did work"
later copylib/DATEREC.cpy
[ "$(rebuilt)" = "CUSTRPT ORDRPT " ] || fail "DATEREC is used by both, directly and nested"
later copylib/CUSTREC.cpy
[ "$(rebuilt)" = "CUSTRPT " ] || fail "CUSTREC is used by CUSTRPT only"
later copylib/ORDREC.cpy
[ "$(rebuilt)" = "ORDRPT " ] || fail "ORDREC is used by ORDRPT only"

# A copybook that is no longer used and is deleted must not stop make.
sleep 1
sed -i '/COPY DATEREC\./d' src/CUSTRPT.cbl copylib/ORDREC.cpy
rm copylib/DATEREC.cpy
[ "$(rebuilt)" = "CUSTRPT ORDRPT " ] || fail "after deleting DATEREC"
make INCPREP="$incprep" INCPREP_MAP="$map" >/dev/null 2>&1 || fail "make failed after the deletion"
! grep -q DATEREC build/CUSTRPT.d build/ORDRPT.d || fail "DATEREC still listed"

# The ninja example over a fresh copy of the sources.
passed=6
if command -v ninja >/dev/null; then
  rm -rf "$work"/*
  cp -r "$(dirname "$example")"/. "$work"
  rm -rf "$work/make/build" "$work/ninja/build" "$work"/ninja/.ninja_*
  cd "$work/ninja"
  built() { INCPREP="$incprep" INCPREP_MAP="$map" ninja 2>&1 | sed -n 's/.*incprep \.\.\/make\/src\/\([A-Z]*\)\.cbl.*/\1/p' | sort | tr '\n' ' '; }
  [ "$(built)" = "CUSTRPT ORDRPT " ] || fail "ninja: first build"
  [ -f build/CUSTRPT.o ] && [ -f build/ORDRPT.o ] || fail "ninja: objects missing"
  [ "$(built)" = "" ] || fail "ninja: second build did work"
  later ../make/copylib/CUSTREC.cpy
  [ "$(built)" = "CUSTRPT " ] || fail "ninja: CUSTREC is used by CUSTRPT only"
  passed=$((passed + 3))
fi
echo "make_deps: $passed passed, 0 failed"
