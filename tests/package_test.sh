#!/usr/bin/env bash
# The Debian package holds the stripped programs, compressed manual pages, schema, copyright and
# changelog, has a real maintainer, passes lintian without errors, and incprep runs from it.
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
maintainer=$(sed -n 's/^ *Maintainer: //p' <<<"$info")
[[ "$maintainer" == *" <"*@*.*">" && "$maintainer" != *localhost* ]] || fail "maintainer '$maintainer'"
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/incprep usr/bin/incprep-map usr/share/man/man1/incprep.1.gz \
         usr/share/man/man1/incprep-map.1.gz usr/share/incprep/incprep-sidefile.xsd \
         usr/share/doc/incprep/copyright usr/share/doc/incprep/changelog.gz; do
  [ -e "$work/root/$f" ] || fail "$f not in the package"
done
for page in incprep incprep-map; do
  gzip -t "$work/root/usr/share/man/man1/$page.1.gz" || fail "$page.1.gz is not gzip"
done
for prog in incprep incprep-map; do
  [ -z "$(readelf -S "$work/root/usr/bin/$prog" | grep -E '\.(symtab|debug_)')" ] || fail "$prog is not stripped"
done
if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 ||
    { cat "$work/lintian.txt"; fail "lintian reports errors"; }
fi

mkdir "$work/clean" && cd "$work/clean"
"$work/root/usr/bin/incprep" --help >"$work/help.txt" || fail "incprep --help exit status"
[[ "$(head -1 "$work/help.txt")" == "Usage: incprep SOURCE"* ]] || fail "usage text"
[ -z "$(ls -A .)" ] || fail "--help created files"
"$work/root/usr/bin/incprep-map" --help >/dev/null || fail "incprep-map --help"
echo "package: 9 passed, 0 failed"
