#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package of a build folder, made and checked:
#   .ci/package.sh BUILD [EMULATOR...]
# cpack makes BUILD/iqtools_*.deb. Its version must be the programs' (iq/version.hpp), its
# control fields must declare the C++ library and recommend gnuplot, it must hold every program
# and compressed manual page, and lintian (installed when missing) must report no error. The
# package is unpacked into a scratch folder, where a capture is made and its spectrum computed
# by the unpacked programs (under EMULATOR for a cross build) and a manual page is read. A
# package for this machine's architecture is also installed with dpkg, run from PATH (a tool,
# a capture and its spectrum, a manual page) and purged, which must leave nothing behind.
set -euo pipefail
build=${1:?usage: .ci/package.sh BUILD [EMULATOR...]}
shift
emulator=("$@")
cd "$(dirname "$0")/.."
fail() {
  echo "package: $*" >&2
  exit 1
}
tools=()
for page in man/*.1; do tools+=("$(basename "$page" .1)"); done

make_package() {
  rm -f "$build"/iqtools_*.deb
  (cd "$build" && cpack -G DEB > /dev/null)
  deb=$(ls "$build"/iqtools_*.deb)
  echo "$deb"
  version=$(sed -n 's/.*kVersion = "\(.*\)";/\1/p' "$build/common/generated/iq/version.hpp")
  [ -n "$version" ] && [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
    fail "the package's version is not the programs' ($version)"
}

check_fields() {
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libstdc++6* && $depends == *libc6* ]] || fail "Depends lacks the C or C++ library: $depends"
  [[ $(dpkg-deb -f "$deb" Recommends) == *gnuplot* ]] || fail "gnuplot is not recommended"
  echo "Depends: $depends"
}

# Errors fail; warnings are shown.
check_lintian() {
  local report failed=0
  if ! command -v lintian > /dev/null 2>&1; then
    echo "== Installing lintian =="
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lintian > /dev/null 2>&1
  fi
  report=$(lintian --fail-on error "$deb" 2>&1) || failed=$?
  report=$(grep -v 'running with root privileges' <<< "$report" || true)
  [ -z "$report" ] || echo "$report"
  [ $failed = 0 ] && ! grep -q '^E:' <<< "$report" || fail "lintian reports errors on $deb"
  echo "lintian: no error"
}

# A capture of a tone and its spectrum, made in FOLDER by iqsim and iqspec as RUN... calls them.
capture_and_spectrum() {
  local folder=$1
  shift
  "$@" iqsim "$folder/cap.bin" -n 65536 --tone 150000,20 > /dev/null
  "$@" iqspec "$folder/cap.bin" "$folder/cap.txt" 256 > "$folder/console.txt"
  [ "$(wc -l < "$folder/cap.txt")" = 256 ] || fail "iqspec wrote no spectrum of 256 lines"
  grep -q "No. of FFTs" "$folder/console.txt" || fail "iqspec printed no summary"
}

# Runs a tool of the unpacked package under the emulator.
unpacked() {
  local tool=$1
  shift
  "${emulator[@]}" "$root/usr/bin/$tool" "$@"
}

check_unpacked() {
  local tool
  dpkg-deb -x "$deb" "$root"
  for tool in "${tools[@]}"; do
    [ -x "$root/usr/bin/$tool" ] && [ -f "$root/usr/share/man/man1/$tool.1.gz" ] ||
      fail "$tool or its compressed page is not in the package"
  done
  capture_and_spectrum "$root" unpacked
  if command -v man > /dev/null; then
    man -l "$root/usr/share/man/man1/iqspec.1.gz" 2> /dev/null | grep -q "averaged power spectrum" ||
      fail "man -l cannot read the unpacked iqspec page"
  fi
  echo "unpacked package: iqsim, iqspec and man -l iqspec.1.gz work"
}

installed() { dpkg-query -W -f='${db:Status-Abbrev}' iqtools 2> /dev/null | grep -q '^ii'; }

# The installed programs are found on PATH, never in a build folder.
from_path() { env PATH=/usr/local/bin:/usr/bin:/bin "$@"; }

check_installed() {
  local tool
  ! dpkg-query -W iqtools > /dev/null 2>&1 || fail "iqtools is already on this machine; dpkg --purge iqtools first"
  we_installed=1
  dpkg -i "$deb" > /dev/null
  installed || fail "dpkg -i did not install $deb"
  [ "$(from_path iqspec --version)" = "iqspec (iqtools) $version" ] || fail "iqspec on PATH is not version $version"
  mkdir -p "$root/installed"
  capture_and_spectrum "$root/installed" from_path
  from_path man iqspec 2> /dev/null | grep -q "averaged power spectrum" || fail "man iqspec shows no page"
  [ -z "$(from_path man --warnings iqspec 2>&1 > /dev/null)" ] || fail "man iqspec warns"
  dpkg --purge iqtools > /dev/null
  we_installed=0
  ! dpkg-query -W iqtools > /dev/null 2>&1 && ! dpkg -L iqtools > /dev/null 2>&1 ||
    fail "dpkg still knows iqtools after --purge"
  for tool in "${tools[@]}"; do
    [ ! -e "/usr/bin/$tool" ] && [ ! -e "/usr/share/man/man1/$tool.1.gz" ] || fail "$tool is left after --purge"
  done
  [ ! -e /usr/share/doc/iqtools ] || fail "/usr/share/doc/iqtools is left after --purge"
  echo "installed package: iqspec --version, iqsim, iqspec and man iqspec work; --purge leaves nothing"
}

# A package this script installed is purged even when a check fails.
we_installed=0
cleanup() {
  [ $we_installed = 0 ] || dpkg --purge iqtools > /dev/null 2>&1 || true
  rm -rf "$root"
}
root=$(mktemp -d)
trap cleanup EXIT
make_package
check_fields
check_lintian
check_unpacked
if [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ]; then
  check_installed
fi
