#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package of a build folder as Debian's policy wants it (what lintian checks, for a
# machine without lintian): made by cpack into a scratch folder, it must carry project()'s
# version, a maintainer with a real mail host, short enough description lines, the copyright
# file as written, a changelog of its version, pages compressed with gzip -9n and stripped
# programs. The copyright file itself must be machine-readable and carry LICENSE's terms.
#   package_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/harness.bash"
build=$(cd "${1:?usage: package_test.sh BUILD}" && pwd)

# -- The copyright file: every licence named has its text, the toolkit's is LICENSE's. --------
copyright=$root/debian/copyright
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "debian/copyright does not start with its Format line"
# Each paragraph of Files: must name its Copyright: and License:.
awk -v RS= '/^Files:/ && !(/\nCopyright: / && /\nLicense: /)' "$copyright" | grep -q . &&
  fail "a Files paragraph of debian/copyright lacks Copyright or License"
used=$(awk -v RS= '/^Files:/' "$copyright" | sed -n 's/^License: //p' | sed 's/ or /\n/g' | sort -u)
defined=$(awk -v RS= '/^License: /' "$copyright" | sed -n 's/^License: //p' | sort -u)
[ "$used" = "$defined" ] || fail "licences named ($(echo $used)) are not those with a text ($(echo $defined))"
for licence in $used; do grep -q "^License: $licence\$" "$copyright" || fail "no text of $licence"; done
awk -v RS= '/^Files: \*\n/' "$copyright" | grep -qx 'License: MIT' || fail "the toolkit's licence is not MIT"
grep -qx 'Copyright (c) 2026 iqtools maintainers' "$root/LICENSE" &&
  awk -v RS= '/^Files: \*\n/' "$copyright" | grep -qx 'Copyright: 2026 iqtools maintainers' ||
  fail "LICENSE and debian/copyright do not name the same holder"
# LICENSE's terms (from "Permission") are the MIT paragraph's, indented by one with "." for
# blank lines.
terms=$(sed -n '/^Permission/,$p' "$root/LICENSE" | sed 's/^$/./; s/^/ /' | tr -s ' \n' ' ')
mit=$(awk -v RS= '/^License: MIT\n/' "$copyright" | tail -n +2 | tr -s ' \n' ' ')
[ "$terms" = "$mit" ] || fail "debian/copyright's MIT text is not LICENSE's"

# -- The package ---------------------------------------------------------------------------
cpack -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" > "$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls "$scratch"/out/iqtools_*.deb)
tree=$scratch/tree
dpkg-deb -x "$deb" "$tree"
field() { dpkg-deb -f "$deb" "$1"; }

version=$(sed -n 's/^project(iqtools VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] && [ "$(field Version)" = "$version" ] || fail "Version $(field Version), project() $version"
maintainer=$(field Maintainer)
[[ $maintainer =~ ^[^\<]+\ \<[^@\>]+@([^\>]+)\>$ ]] && host=${BASH_REMATCH[1]} &&
  [[ $host == *.* && $host != localhost* ]] || fail "Maintainer '$maintainer' has no real mail host"
[ "$(field Section)" = science ] && [ "$(field Priority)" = optional ] || fail "Section or Priority is not set"
# The summary and every line of the long description within 80 columns.
dpkg-deb -I "$deb" control > "$scratch/control"
awk 'function check() { lines++; if (length($0) > 80) { bad = 1; print "a description line of " length($0) " columns" } }
     /^Description: / { inside = 1; sub(/^Description: /, ""); check(); next }
     inside && /^ / { check(); next }
     { inside = 0 }
     END { if (lines < 3) print "no long description"; exit bad || lines < 3 }' "$scratch/control" >&2 ||
  fail "the description is not within 80 columns"

doc=$tree/usr/share/doc/iqtools
cmp -s "$doc/copyright" "$copyright" || fail "usr/share/doc/iqtools/copyright is not debian/copyright"

# gzip -9n: no file name and no time in the header (flags, time), best compression (XFL 2).
gzip_header() { od -A n -t u1 -j 3 -N 6 "$1" | tr -s ' ' | sed 's/^ //'; }
for gz in "$doc/changelog.gz" "$tree"/usr/share/man/man1/*.gz; do
  [ "$(gzip_header "$gz")" = "0 0 0 0 0 2" ] || fail "${gz#$tree} is not compressed with gzip -9n"
done
zcat "$doc/changelog.gz" > "$scratch/changelog"
[ "$(head -n 1 "$scratch/changelog")" = "iqtools ($version) unstable; urgency=medium" ] ||
  fail "changelog entry: $(head -n 1 "$scratch/changelog")"
grep -qE "^ -- $maintainer  [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} \+0000\$" "$scratch/changelog" ||
  fail "changelog trailer: $(tail -n 1 "$scratch/changelog")"

for page in "$root"/man/*.1; do
  tool=$(basename "$page" .1)
  zcat "$tree/usr/share/man/man1/$tool.1.gz" 2> /dev/null | cmp -s - "$page" || fail "$tool.1.gz is not man/$tool.1"
  [ -x "$tree/usr/bin/$tool" ] || fail "no program $tool"
  ! readelf -S "$tree/usr/bin/$tool" | grep -q '\.symtab' || fail "$tool is not stripped"
done
[ -z "$(find "$tree" -name '*.1')" ] || fail "uncompressed pages: $(find "$tree" -name '*.1')"

finish "package: $(basename "$deb") as Debian wants it"
