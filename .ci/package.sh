#!/usr/bin/env bash
# The Debian package of a build folder, made and checked:
#   .ci/package.sh BUILD [EMULATOR...]
# cpack makes BUILD/iqtools_*.deb; its version must be the programs' (iq/version.hpp), its
# control fields must declare the C++ library and recommend gnuplot, and it must hold every
# program and manual page. The package is unpacked into a scratch folder (dpkg-deb -x), where a
# capture is made and its spectrum computed by the unpacked programs (under EMULATOR for a cross
# build) and a manual page is read with man -l.
set -euo pipefail
build=${1:?usage: .ci/package.sh BUILD [EMULATOR...]}
shift
emulator=("$@")
cd "$(dirname "$0")/.."

rm -f "$build"/iqtools_*.deb
(cd "$build" && cpack -G DEB > /dev/null)
deb=$(ls "$build"/iqtools_*.deb)
echo "$deb"
fail() { echo "package: $*" >&2; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libstdc++6* && $depends == *libc6* ]] || fail "Depends lacks the C or C++ library: $depends"
[[ $(dpkg-deb -f "$deb" Recommends) == *gnuplot* ]] || fail "gnuplot is not recommended"
echo "Depends: $depends"
version=$(sed -n 's/.*kVersion = "\(.*\)";/\1/p' "$build/common/generated/iq/version.hpp")
[ -n "$version" ] && [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  fail "the package's version is not the programs' ($version)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for page in man/*.1; do
  tool=$(basename "$page" .1)
  [ -x "$root/usr/bin/$tool" ] && [ -f "$root/usr/share/man/man1/$tool.1" ] ||
    fail "$tool or its page is not in the package"
done

"${emulator[@]}" "$root/usr/bin/iqsim" "$root/cap.bin" -n 65536 --tone 150000,20
"${emulator[@]}" "$root/usr/bin/iqspec" "$root/cap.bin" "$root/cap.txt" 256 > "$root/console.txt"
[ "$(wc -l < "$root/cap.txt")" = 256 ] || fail "the unpacked iqspec wrote no spectrum of 256 lines"
grep -q "No. of FFTs" "$root/console.txt" || fail "the unpacked iqspec printed no summary"
if command -v man > /dev/null; then
  man -l "$root/usr/share/man/man1/iqspec.1" 2> /dev/null | grep -q "averaged power spectrum" ||
    fail "man -l cannot read the unpacked iqspec page"
fi
echo "unpacked package: iqsim, iqspec and man -l iqspec.1 work"
