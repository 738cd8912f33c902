#!/usr/bin/env bash
# Failure injection for every tool, run on the built programs: an output on a full disk
# (/dev/full), a console on a full disk, an output in a missing or a read-only folder, an output
# that is the input (same path, hard link, symbolic link), a run interrupted with SIGINT, an
# input that is a folder and an input that cannot be read. Each must end with exit status 1
# (SIGINT: killed by the signal) and a message saying what failed, change no input, keep the
# previous table of that name and leave no temporary file.
#
# Root ignores permissions: the read-only folder is a read-only bind mount in a private mount
# namespace (unshare), else the run drops to user nobody (setpriv); the unreadable input needs
# nobody too. Where neither works the case is skipped with a message.
set -u
set -m  # job control: a background job keeps SIGINT instead of ignoring it
bin=$1
# Cross-built programs run under the emulator that IQTOOLS_EMULATOR names (empty natively).
read -r -a emulator <<< "${IQTOOLS_EMULATOR:-}"
work=$(mktemp -d)
chmod 755 "$work"
trap 'chmod -R u+rwX "$work" 2> /dev/null; rm -rf "$work"' EXIT
failures=0
passed=0
skipped=0
pass() { passed=$((passed + 1)); }
failed() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; skipped=$((skipped + 1)); }

analysis_tools=(iqspec levelhist iqdump powtrace modspec cyclefold cyclestack cyclebin lagscan iqtrim)
launchers=(grabspec timedgrab)

"${emulator[@]}" "$bin/iqsim" "$work/cap.bin" -n 40000 -s 3 > /dev/null || exit 1
"${emulator[@]}" "$bin/iqsim" "$work/cap2.bin" -n 40000 -s 3 --delay 5 > /dev/null || exit 1
cp "$work/cap.bin" "$work/pristine.bin"
truncate -s 16G "$work/big.bin" "$work/big2.bin"  # sparse: long runs to interrupt
mkdir "$work/folder"

# The start time two seconds from now at the given offset from UTC, as "hr min sec"; empty
# when that would pass midnight (the tools do not wait into the next day).
start_in_two_seconds() {
  local t=$(($(date +%s) + 2 + $1 * 3600))
  [ $(((t % 86400))) -ge 2 ] || return 0
  date -u -d "@$t" +'%-H %-M %-S'
}

# A=(arguments) of TOOL reading INPUT and writing OUTPUT; LONG=1 asks for a run of minutes.
set_args() {
  local tool=$1 in=$2 out=$3 long=${4:-0}
  local second=$work/cap2.bin
  [ "$in" = "$work/big.bin" ] && second=$work/big2.bin
  case $tool in
    iqspec) A=("$in" "$out" 256) ;;
    levelhist) A=("$in" "$out") ;;
    iqdump) A=("$in" "$out" 0 $((long ? 1000000 : 1))) ;;
    powtrace) A=("$in" "$out" 2.4 7 1) ;;
    modspec) A=("$in" "$out" 2.4 7 16) ;;
    cyclefold | cyclebin) A=("$in" "$out" 2.4 100 1 1) ;;
    cyclestack) A=("$in" "$out" 2.4 100 1) ;;
    lagscan) A=("$in" "$second" "$out" $((long ? 1000 : 100)) $((long ? 1000000 : 2))) ;;
    iqtrim) A=("$in" "$out" $((long ? 1000000 : 2)) 0) ;;
    iqsim) A=("$out" -n $((long ? 4000000000 : 1000))) ;;
    grabspec) A=("true $in capture-options" 256) ;;
    timedgrab) A=("true $in capture-options" 256 $(start_in_two_seconds 0) 0) ;;
    alarmexec) A=("true" $(start_in_two_seconds -7)) ;;
  esac
}

# expect_failure DESCRIPTION PATTERN COMMAND...: exit status 1 and PATTERN in the console.
expect_failure() {
  local description=$1 pattern=$2
  shift 2
  "$@" > "$work/console.txt" 2>&1
  local status=$?
  if [ $status != 1 ]; then
    failed "$description: status $status, expected 1"
  elif ! grep -q -- "$pattern" "$work/console.txt"; then
    failed "$description: no message matching '$pattern' in: $(head -c 300 "$work/console.txt")"
  else
    pass
  fi
}

same_content() { # description, file, expected content file
  if cmp -s "$2" "$3"; then pass; else failed "$1: $2 was changed"; fi
}

# --- A full disk -------------------------------------------------------------------------
for tool in "${analysis_tools[@]}" iqsim; do
  set_args $tool "$work/cap.bin" /dev/full
  expect_failure "$tool table on /dev/full" "/dev/full: No space left on device" "${emulator[@]}" "$bin/$tool" "${A[@]}"
done
mkdir "$work/full"
cp "$work/cap.bin" "$work/full/cap.bin"
ln -s /dev/full "$work/full/cap.txt"  # the launchers' table of full/cap.bin
for tool in "${launchers[@]}"; do
  set_args $tool "$work/full/cap.bin" unused
  [ ${#A[@]} -ge 2 ] || { skip "$tool: too close to midnight"; continue; }
  expect_failure "$tool table on /dev/full" "No space left on device" "${emulator[@]}" "$bin/$tool" "${A[@]}"
done
# iqtrim and iqsim print nothing on success, so only the others can meet a full console.
for tool in iqspec levelhist iqdump powtrace modspec cyclefold cyclestack cyclebin lagscan "${launchers[@]}" alarmexec; do
  set_args $tool "$work/cap.bin" "$work/console-table.txt"
  if [ $tool = alarmexec ] && [ ${#A[@]} -lt 4 ]; then skip "$tool: too close to midnight"; continue; fi
  expect_failure "$tool console on /dev/full" "Can't write the console output" \
    bash -c '"$@" > /dev/full' _ "${emulator[@]}" "$bin/$tool" "${A[@]}"
done

# --- A missing folder --------------------------------------------------------------------
for tool in "${analysis_tools[@]}" iqsim; do
  set_args $tool "$work/cap.bin" "$work/missing/out.txt"
  expect_failure "$tool output in a missing folder" "No such file or directory" "${emulator[@]}" "$bin/$tool" "${A[@]}"
done
[ ! -e "$work/missing" ] && pass || failed "a missing folder was created"

# --- A read-only folder ------------------------------------------------------------------
# run_read_only FOLDER COMMAND...: runs COMMAND with FOLDER not writable.
mkdir -p "$work/progs" "$work/ro"
cp "$bin"/* "$work/progs/" 2> /dev/null
chmod -R a+rX "$work/progs"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
if [ "$(id -u)" != 0 ]; then
  ro_method=chmod
elif unshare -m bash -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && ! touch "$1/x"' _ "$work/ro" 2> /dev/null; then
  ro_method=mount
elif command -v setpriv > /dev/null && as_nobody true 2> /dev/null; then
  ro_method=nobody
else
  ro_method=none
fi
run_read_only() {
  local folder=$1
  shift
  case $ro_method in
    chmod) chmod a-w "$folder"; "$@"; local s=$?; chmod u+w "$folder"; return $s ;;
    mount) unshare -m bash -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' _ "$folder" "$@" ;;
    nobody) chmod a-w "$folder"; as_nobody "$@"; local s=$?; chmod u+w "$folder"; return $s ;;
  esac
}
echo "read-only folder: $ro_method"
if [ $ro_method = none ]; then
  skip "read-only folder: running as root without unshare or setpriv"
else
  cp "$work/cap.bin" "$work/ro/cap.bin"
  for tool in "${analysis_tools[@]}" iqsim "${launchers[@]}"; do
    echo "previous table" > "$work/ro/cap.txt"
    set_args $tool "$work/ro/cap.bin" "$work/ro/cap.txt"
    [ ${#A[@]} -ge 2 ] || { skip "$tool: too close to midnight"; continue; }
    expect_failure "$tool output in a read-only folder ($ro_method)" "Can't create file" \
      run_read_only "$work/ro" "${emulator[@]}" "$work/progs/$tool" "${A[@]}"
    [ "$(cat "$work/ro/cap.txt")" = "previous table" ] && pass || failed "$tool lost the previous table in a read-only folder"
  done
fi

# --- The output is the input -------------------------------------------------------------
ln "$work/cap.bin" "$work/hard.bin"
ln -s "$work/cap.bin" "$work/link.bin"
for tool in "${analysis_tools[@]}"; do
  for output in cap.bin hard.bin link.bin; do
    set_args $tool "$work/cap.bin" "$work/$output"
    expect_failure "$tool output $output is the input" "is the same file as an input" "${emulator[@]}" "$bin/$tool" "${A[@]}"
    same_content "$tool output $output" "$work/cap.bin" "$work/pristine.bin"
  done
done
for kind in same hard link; do
  mkdir "$work/$kind"
  case $kind in
    same) cp "$work/cap.bin" "$work/$kind/cap.txt" ;;  # the table of cap.txt is cap.txt
    hard) cp "$work/cap.bin" "$work/$kind/cap.bin" && ln "$work/$kind/cap.bin" "$work/$kind/cap.txt" ;;
    link) cp "$work/cap.bin" "$work/$kind/cap.bin" && ln -s "$work/$kind/cap.bin" "$work/$kind/cap.txt" ;;
  esac
  capture=$work/$kind/cap.bin
  [ $kind = same ] && capture=$work/$kind/cap.txt
  for tool in "${launchers[@]}"; do
    set_args $tool "$capture" unused
    [ ${#A[@]} -ge 2 ] || { skip "$tool: too close to midnight"; continue; }
    expect_failure "$tool table is its capture ($kind)" "is the same file as an input" "${emulator[@]}" "$bin/$tool" "${A[@]}"
    same_content "$tool table is its capture ($kind)" "$capture" "$work/pristine.bin"
  done
done

# --- SIGINT ------------------------------------------------------------------------------
for tool in "${analysis_tools[@]}" iqsim "${launchers[@]}"; do
  table=$work/big.txt
  [ $tool = iqsim ] && table=$work/sim.bin
  echo "previous table" > "$table"
  set_args $tool "$work/big.bin" "$table" 1
  [ ${#A[@]} -ge 2 ] || { skip "$tool: too close to midnight"; continue; }
  "${emulator[@]}" "$bin/$tool" "${A[@]}" > /dev/null 2>&1 &
  pid=$!
  for _ in $(seq 200); do  # wait until the temporary file exists
    compgen -G "$table.partial-*" > /dev/null && break
    sleep 0.05
  done
  if ! compgen -G "$table.partial-*" > /dev/null; then
    failed "$tool made no temporary file to interrupt"
  fi
  kill -s INT $pid
  { wait $pid; } 2> /dev/null
  status=$?
  [ $status -ne 0 ] && pass || failed "$tool interrupted by SIGINT reported success"
  [ "$(cat "$table")" = "previous table" ] && pass || failed "$tool interrupted by SIGINT lost the previous table"
  compgen -G "$table.partial-*" > /dev/null && failed "$tool interrupted by SIGINT left a temporary file" || pass
done

# --- An input that is a folder, an input that cannot be read -----------------------------
for tool in "${analysis_tools[@]}" "${launchers[@]}"; do
  set_args $tool "$work/folder" "$work/out.txt"
  [ ${#A[@]} -ge 2 ] || { skip "$tool: too close to midnight"; continue; }
  expect_failure "$tool input is a folder" "Can't open file $work/folder" "${emulator[@]}" "$bin/$tool" "${A[@]}"
done
cp "$work/cap.bin" "$work/secret.bin"
chmod 000 "$work/secret.bin"
if [ "$(id -u)" != 0 ]; then
  unreadable() { "$@"; }
elif [ $ro_method = nobody ] || { command -v setpriv > /dev/null && as_nobody true 2> /dev/null; }; then
  unreadable() { as_nobody "$@"; }
else
  unreadable=""
fi
if declare -F unreadable > /dev/null; then
  chmod 777 "$work/folder"
  for tool in "${analysis_tools[@]}" "${launchers[@]}"; do
    set_args $tool "$work/secret.bin" "$work/folder/out.txt"
    [ ${#A[@]} -ge 2 ] || { skip "$tool: too close to midnight"; continue; }
    expect_failure "$tool input cannot be read" "Can't open file $work/secret.bin" unreadable "${emulator[@]}" "$work/progs/$tool" "${A[@]}"
  done
else
  skip "unreadable input: running as root without setpriv"
fi

# --- Nothing lost, nothing left ----------------------------------------------------------
same_content "all runs" "$work/cap.bin" "$work/pristine.bin"
leftovers=$(find "$work" -name '*.partial-*')
[ -z "$leftovers" ] && pass || failed "temporary files left: $leftovers"

echo "failure injection: $passed passed, $failures failed, $skipped skipped"
[ $failures = 0 ]
