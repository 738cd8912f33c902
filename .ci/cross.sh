#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds for ARM with Debian's cross compilers and runs the tests under qemu-user:
#   .ci/cross.sh arm64 armhf      (one or both)
# For each architecture: the build with cmake/toolchain-ARCH.cmake in build-ARCH, every test
# but the labelled slow ones under the emulator, and the Debian package (build-ARCH/*.deb),
# checked by .ci/package.sh (lintian must report no error) with its programs run under the
# emulator.
# Installs the cross compiler, qemu-user and the architecture's libraries when missing.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || { echo "usage: .ci/cross.sh arm64|armhf..." >&2; exit 1; }

declare -A compiler=([arm64]=g++-aarch64-linux-gnu [armhf]=g++-arm-linux-gnueabihf)
declare -A emulator=([arm64]="env IQTOOLS_THREADS=1 qemu-aarch64" [armhf]="env IQTOOLS_THREADS=1 qemu-arm")
for arch in "$@"; do
  [ -n "${compiler[$arch]:-}" ] || { echo "cross.sh: no toolchain for $arch (arm64, armhf)" >&2; exit 1; }
done

installed() { dpkg-query -W -f='${Status}' "$1" 2> /dev/null | grep -q "install ok installed"; }
missing=()
new_architecture=0
for arch in "$@"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
    new_architecture=1
  fi
  for package in "${compiler[$arch]}" qemu-user "libgtest-dev:$arch" "libhwy-dev:$arch" "liberfa-dev:$arch"; do
    installed "$package" || missing+=("$package")
  done
done
if [ ${#missing[@]} -gt 0 ] || [ $new_architecture = 1 ]; then
  echo "== Installing ${missing[*]} =="
  apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" > /dev/null
fi

jobs=$(nproc)
for arch in "$@"; do
  build=build-$arch
  started=$SECONDS
  echo "== $arch: cross-build =="
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" > /dev/null
  cmake --build "$build" -j "$jobs"

  # The 4 GiB capture, the long search and the tests labelled slow_emulated take far longer
  # under emulation; they run natively.
  echo "== $arch: built in $((SECONDS - started)) s; tests under ${emulator[$arch]} =="
  (cd "$build" && ctest --output-on-failure -j "$jobs" -LE 'large_capture|slow_emulated|long_search')

  echo "== $arch: Debian package =="
  read -r -a run_under <<< "${emulator[$arch]}"
  bash .ci/package.sh "$build" "${run_under[@]}"
  echo "== $arch: done in $((SECONDS - started)) s =="
done
