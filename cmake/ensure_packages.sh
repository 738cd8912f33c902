#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the tests and the demo need, when any is missing:
#   cmake/ensure_packages.sh            install what is missing (prints nothing when nothing is)
#   cmake/ensure_packages.sh --list     print the packages, one a line
#   cmake/ensure_packages.sh --missing  print the missing ones, one a line
# It installs with apt-get as root, else through `sudo -n`; without either it prints the
# apt-get line and exits 1. On a system without dpkg it does nothing (CMake names what it lacks).
set -euo pipefail

# Highway: the vector kernels. nlohmann-json: the capture metadata files. ERFA: time scales and
# velocities. gnuplot: the pictures (iqplot, the demo). groff and man-db: the manual pages.
# dpkg-dev: the Debian package (cpack finds its library dependencies with dpkg-shlibdeps).
packages=(libhwy-dev nlohmann-json3-dev liberfa-dev gnuplot-nox groff-base man-db dpkg-dev)

fail() {
  echo "ensure_packages: $*" >&2
  exit 1
}

# A package counts as present when it is fully installed for this machine's architecture (or
# for all): a copy for a cross-build target alone does not build natively.
missing_packages() {
  local native installed package
  native=$(dpkg --print-architecture)
  installed=$(dpkg-query -W -f='${db:Status-Abbrev}${Architecture} ${Package}\n' "${packages[@]}" 2> /dev/null || true)
  for package in "${packages[@]}"; do
    grep -qxE "ii ($native|all) $package" <<< "$installed" || echo "$package"
  done
}

# The command that runs apt-get with root's rights, or nothing when there is none.
privileged() {
  if [ "$(id -u)" = 0 ]; then
    echo env
  elif command -v sudo > /dev/null 2>&1 && sudo -n true > /dev/null 2>&1; then
    echo sudo -n env
  fi
}

install_missing() {
  local missing runner
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -gt 0 ] || return 0
  read -r -a runner <<< "$(privileged)"
  if [ ${#runner[@]} -eq 0 ]; then
    echo "ensure_packages: missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root, then run make again:" >&2
    echo "  apt-get install ${packages[*]}" >&2
    exit 1
  fi
  echo "== Installing the missing Debian packages: ${missing[*]} =="
  # apt-get's own lines are shown only when it fails.
  local log
  log=$("${runner[@]}" apt-get update -qq 2>&1) || fail "apt-get update failed: $log"
  log=$("${runner[@]}" DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" 2>&1) ||
    fail "apt-get could not install ${missing[*]}: $log"
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -eq 0 ] || fail "still missing after apt-get: ${missing[*]}"
}

case "${1:-}" in
  --list) printf '%s\n' "${packages[@]}" ;;
  --missing) missing_packages ;;
  "") if command -v dpkg-query > /dev/null 2>&1; then install_missing; fi ;;
  *) fail "usage: ensure_packages.sh [--list|--missing]" ;;
esac
