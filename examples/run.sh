#!/usr/bin/env bash
# Builds incprep and runs it on the bundled COBOL and PL/I examples; the decks and side files
# are written to examples/out/.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
cd "$root"
# A build directory of its own, without the tests, so that it needs no test framework and
# leaves the test build's configuration alone.
cmake --preset examples >/dev/null
cmake --build --preset examples --target incprep incprep-map | grep -v "^\[" || true
test -x "$root/build/examples/SOURCE/incprep"
incprep="$root/build/examples/SOURCE/incprep"
map="$root/build/examples/tools/map/incprep-map"
out="$here/out"
rm -rf "$out" && mkdir -p "$out"

cd "$out"
echo "== COBOL: examples/cobol/PAYROLL.cbl with SYSLIB=examples/cobol/copylib =="
SYSLIB="$here/cobol/copylib" "$incprep" "$here/cobol/PAYROLL.cbl" 'LANG(COBOL)' 'CMT(ON)' 'DECK(PAYROLL.DEK)' 'XML(PAYROLL.XML)'
cat PAYROLL.DEK
echo "== side file examples/out/PAYROLL.XML =="
cat PAYROLL.XML; echo
if command -v cobc >/dev/null; then
  echo "== compiled and run with GnuCOBOL =="
  # cobc's messages point at the sources; pipefail (set above) keeps its failure visible.
  cobc -x -o payroll PAYROLL.DEK 2>&1 | "$map" PAYROLL.XML --filter && ./payroll
fi
echo
echo "== PL/I: examples/pli/REPORT.pli with SYSLIB=examples/pli/maclib =="
SYSLIB="$here/pli/maclib" "$incprep" "$here/pli/REPORT.pli" 'LANG(PLI)' 'DECK(REPORT.DEK)' 'XML(REPORT.XML)'
cat REPORT.DEK
echo "== side file examples/out/REPORT.XML =="
cat REPORT.XML; echo
