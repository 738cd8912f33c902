#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the golden corpus cannot hold: runs interrupted by SIGINT or SIGTERM, an output in a
# read-only folder, an unreadable input. Each must fail saying what failed, keep the previous
# file of that name and leave no temporary file.
set -u
set -m  # job control: a background job keeps SIGINT instead of ignoring it
bin=$1
work=$(mktemp -d)
chmod 755 "$work"
trap 'chmod -R u+rwX "$work" 2> /dev/null; rm -rf "$work"' EXIT
failures=0 passed=0
check() { # description, then a test command
  if "${@:2}"; then passed=$((passed + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
tools=(iqspec levelhist iqdump powtrace modspec cyclefold cyclestack cyclebin lagscan iqtrim iqsim grabspec timedgrab)
# A=(arguments) of TOOL reading INPUT and writing OUTPUT; with a fourth argument, a run of
# minutes (on a sparse 16 GiB input), timedgrab starting two seconds from now.
set_args() {
  local n=1 start="0 0 0"
  [ $# = 4 ] && n=1000000 && start=$(date -u -d "@$(($(date +%s) + 2))" +'%-H %-M %-S')
  case $1 in
    iqspec) A=("$2" "$3" 256) ;;
    levelhist) A=("$2" "$3") ;;
    iqdump) A=("$2" "$3" 0 $n) ;;
    powtrace) A=("$2" "$3" 2.4 7 1) ;;
    modspec) A=("$2" "$3" 2.4 7 16) ;;
    cyclefold | cyclebin) A=("$2" "$3" 2.4 100 1 1) ;;
    cyclestack) A=("$2" "$3" 2.4 100 1) ;;
    lagscan) A=("$2" "${2%.bin}2.bin" "$3" 1000 $((2 * n))) ;;
    iqtrim) A=("$2" "$3" $n 0) ;;
    iqsim) A=("$3" --force -n $((n * 4000))) ;;
    grabspec) A=("true $2 capture-options" 256) ;;
    timedgrab) A=("true $2 capture-options" 256 $start 0) ;;
  esac
}

truncate -s 16G "$work/big.bin" "$work/big2.bin"
partial() { compgen -G "$table.partial-*" > /dev/null; }
no_partial() { ! partial; }
for tool in "${tools[@]}"; do
  signals=(INT)
  [ $tool = iqsim ] && signals=(INT TERM)
  for signal in "${signals[@]}"; do
    table=$work/big.txt
    echo "previous table" > "$table"
    set_args $tool "$work/big.bin" "$table" long
    [ $tool = timedgrab ] && [ "${A[2]}" = 0 ] && [ "${A[3]}" = 0 ] && [ "${A[4]}" -lt 3 ] && continue  # past midnight
    "$bin/$tool" "${A[@]}" > /dev/null 2>&1 &
    pid=$!
    for _ in $(seq 200); do  # wait until the temporary file exists
      partial && break
      sleep 0.05
    done
    check "$tool made no temporary file to interrupt" partial
    kill -s $signal $pid
    { wait $pid; } 2> /dev/null
    check "$tool interrupted by SIG$signal reported success" [ $? -ne 0 ]
    check "$tool interrupted by SIG$signal lost the previous table" [ "$(cat "$table")" = "previous table" ]
    check "$tool interrupted by SIG$signal left a temporary file" no_partial
  done
done

cp -R "$bin" "$work/progs" && chmod -R a+rX "$work/progs"
mkdir "$work/ro" "$work/open" && chmod 777 "$work/open"
head -c 40000 /dev/urandom > "$work/ro/cap.bin"
for copy in ro/cap2.bin secret.bin secret2.bin; do cp "$work/ro/cap.bin" "$work/$copy"; done
chmod 000 "$work/secret.bin"
# restricted COMMAND...: runs COMMAND as a user whom permissions bind (root drops to nobody).
restricted() { if [ "$(id -u)" = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; else "$@"; fi; }
# expect_refusal DESCRIPTION PATTERN COMMAND...: exit status 1 and PATTERN in the console.
expect_refusal() {
  "${@:3}" > "$work/console.txt" 2>&1
  check "$1: status $?, expected 1" [ $? = 1 ]
  check "$1: no message '$2' in $(head -c 300 "$work/console.txt")" grep -q -- "$2" "$work/console.txt"
}
restricted true 2> /dev/null || { echo "SKIP: permissions: running as root without setpriv"; tools=(); }
echo "previous table" > "$work/ro/cap.txt" && chmod a-w "$work/ro"
for tool in "${tools[@]}"; do
  [ $tool = timedgrab ] && continue  # its start time has passed: it stops before its table
  echo "previous table" > "$work/ro/cap.txt"
  set_args $tool "$work/ro/cap.bin" "$work/ro/cap.txt"
  expect_refusal "$tool output in a read-only folder" "Can't create file" restricted "$work/progs/$tool" "${A[@]}"
  check "$tool lost the previous table in a read-only folder" [ "$(cat "$work/ro/cap.txt")" = "previous table" ]
  [ $tool = iqsim ] && continue
  set_args $tool "$work/secret.bin" "$work/open/out.txt"
  expect_refusal "$tool input cannot be read" "Can't open file $work/secret.bin" restricted "$work/progs/$tool" "${A[@]}"
done
leftovers=$(find "$work" -name '*.partial-*')
check "temporary files left: $leftovers" [ -z "$leftovers" ]
echo "signals and permissions: $passed passed, $failures failed"
[ $failures = 0 ]
