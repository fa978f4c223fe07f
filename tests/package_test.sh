#!/usr/bin/env bash
# The Debian package holds the programs, manual pages and schema, and incprep runs from it.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
command -v cpack >/dev/null && command -v dpkg-deb >/dev/null || { echo "SKIP: cpack or dpkg-deb missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/pkg/*.deb)
info=$(dpkg-deb --info "$deb")
grep -q "Package: incprep" <<<"$info" || fail "package name"
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/incprep usr/bin/incprep-map usr/share/man/man1/incprep.1 \
         usr/share/man/man1/incprep-map.1 usr/share/incprep/incprep-sidefile.xsd; do
  [ -e "$work/root/$f" ] || fail "$f not in the package"
done

mkdir "$work/clean" && cd "$work/clean"
"$work/root/usr/bin/incprep" --help >"$work/help.txt" || fail "incprep --help exit status"
[[ "$(head -1 "$work/help.txt")" == "Usage: incprep SOURCE"* ]] || fail "usage text"
[ -z "$(ls -A .)" ] || fail "--help created files"
"$work/root/usr/bin/incprep-map" --help >/dev/null || fail "incprep-map --help"
echo "package: 4 passed, 0 failed"
