#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The set-up step of `make`: which packages it counts as missing, how it installs them (as root,
# through sudo -n, or not at all), that it is silent once all are there, that the README's
# apt-get line is its list and that make's build, test and demo run it first.
# dpkg, dpkg-query, apt-get, id and sudo are stand-ins here that keep a list of installed
# packages and log every apt-get call.
set -euo pipefail
source "$(dirname "$0")/harness.bash"
script=$root/cmake/ensure_packages.sh

# The stand-ins, and the only other commands the script may use.
bin=$scratch/bin
mkdir -p "$bin"
for tool in grep env cat true; do ln -s "$(type -P $tool)" "$bin/$tool"; done
stub() { printf '#!%s\n%s\n' "$BASH" "$2" > "$bin/$1" && chmod +x "$bin/$1"; }
stub dpkg '[ "$1" = --print-architecture ] && echo amd64'
# Prints the entries of the named packages ("STATUS ARCH NAME" lines of $STATE).
stub dpkg-query 'for name in "$@"; do
  [[ $name == -* ]] || while read -r s a n; do [ "$n" = "$name" ] && echo "$s $a $n"; done < "$STATE"
done; true'
stub id '[ "$1" = -u ] && echo "$FAKE_UID"'
# SUDO: works (runs the command as root), asks (wants a password: -n fails). Without -n it
# would wait for a password.
stub sudo '[ "$1" = -n ] || { echo "sudo waits for a password" >> "$LOG"; exit 1; }
shift; [ "$SUDO" = asks ] && exit 1; VIA=sudo exec "$@"'
# APT: works (installs), fails (its install exits 100), ignores (exits 0 but installs nothing).
stub apt-get 'echo "${VIA:-direct} ${DEBIAN_FRONTEND:-interactive} $*" >> "$LOG"
[ "$1" = install ] && [ "$APT" = fails ] && exit 100
if [ "$1" = install ] && [ "$APT" = works ]; then
  for name in "$@"; do [[ $name == -* || $name == install ]] || echo "ii amd64 $name" >> "$STATE"; done
fi; true'

mapfile -t packages < <(bash "$script" --list)
[ ${#packages[@]} -ge 6 ] || fail "--list names ${#packages[@]} packages"
readme_line=$(grep -m 1 '^apt-get install ' "$root/README.md")
[ "$readme_line" = "apt-get install ${packages[*]}" ] ||
  fail "the README's line '$readme_line' is not the list '${packages[*]}'"

# name|uid|sudo|packages not installed natively|other entries (;-separated)|apt|status|via and
# packages apt-get installs (empty: apt-get is not run)
cases=(
  "all_present|0|works|||works|0|"
  "all_present_user|1000|asks|||works|0|"
  "root_installs|0|works|liberfa-dev gnuplot-nox||works|0|direct liberfa-dev gnuplot-nox"
  "sudo_installs|1000|works|man-db groff-base||works|0|sudo groff-base man-db"
  "sudo_wants_password|1000|asks|man-db||works|1|"
  "no_sudo|1000|none|man-db||works|1|"
  "foreign_copy_only|0|works|libhwy-dev|ii arm64 libhwy-dev;ii armhf libhwy-dev|works|0|direct libhwy-dev"
  "config_files_only|0|works|groff-base|rc amd64 groff-base|works|0|direct groff-base"
  "half_installed|0|works|man-db|iU amd64 man-db|works|0|direct man-db"
  "architecture_all|0|works|nlohmann-json3-dev|ii all nlohmann-json3-dev|works|0|"
  "apt_fails|0|works|liberfa-dev||fails|1|direct liberfa-dev"
  "apt_installs_nothing|0|works|liberfa-dev||ignores|1|direct liberfa-dev"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name uid sudo absent others apt status installs <<< "$row"
  dir=$scratch/$name
  mkdir -p "$dir"
  : > "$dir/log"
  for package in "${packages[@]}"; do
    [[ " $absent " == *" $package "* ]] || echo "ii amd64 $package" >> "$dir/state"
  done
  [ -z "$others" ] || tr ';' '\n' <<< "$others" >> "$dir/state"
  path=$bin
  [ "$sudo" != none ] || path=$scratch/nosudo
  [ -d "$scratch/nosudo" ] || { cp -a "$bin" "$scratch/nosudo" && rm "$scratch/nosudo/sudo"; }

  got=0
  env -i PATH="$path" STATE="$dir/state" LOG="$dir/log" FAKE_UID="$uid" SUDO="$sudo" APT="$apt" \
    "$BASH" "$script" > "$dir/out" 2> "$dir/err" || got=$?
  [ "$got" = "$status" ] || fail "$name: exit status $got, expected $status"

  expected_log=""
  if [ -n "$installs" ]; then
    via=${installs%% *}
    expected_log=$(printf '%s interactive update -qq\n%s noninteractive install -y -qq %s' "$via" "$via" "${installs#* }")
  fi
  [ "$(cat "$dir/log")" = "$expected_log" ] ||
    fail "$name: apt-get calls '$(cat "$dir/log")', expected '$expected_log'"

  if [ "$status" = 0 ] && [ -z "$installs" ]; then
    [ ! -s "$dir/out" ] && [ ! -s "$dir/err" ] || fail "$name: not silent: $(cat "$dir/out" "$dir/err")"
  elif [ "$status" = 0 ]; then
    grep -qx "== Installing the missing Debian packages: ${installs#* } ==" "$dir/out" ||
      fail "$name: does not name what it installs: $(cat "$dir/out")"
  elif [ -z "$installs" ]; then
    grep -qx "  $readme_line" "$dir/err" && grep -q "missing Debian packages: $absent\$" "$dir/err" ||
      fail "$name: does not say what is missing and how to install it: $(cat "$dir/err")"
  else
    grep -q "^ensure_packages: .*$absent" "$dir/err" || fail "$name: no reason naming $absent: $(cat "$dir/err")"
  fi
done

# make's build, test and demo run the set-up before anything else.
for target in build test demo; do
  first=$(make -s -n -C "$root" BUILD="$scratch/build" "$target" | sed -n 1p)
  [ "$first" = "bash cmake/ensure_packages.sh" ] || fail "make $target starts with '$first'"
done

finish "ensure_packages: ${#cases[@]} cases passed"
