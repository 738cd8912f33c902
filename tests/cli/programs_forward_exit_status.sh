#!/usr/bin/env bash
# The installed programs: main forwards argv, the console texts and the exit status.
set -u
bin=$1
# Cross-built programs run under the emulator that IQTOOLS_EMULATOR names (empty natively).
read -r -a emulator <<< "${IQTOOLS_EMULATOR:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { # description, expected status, actual status
  if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi
}

"${emulator[@]}" "$bin/iqspec" > "$work/usage.txt"; check "iqspec usage" 1 $?
[ "$(cat "$work/usage.txt")" = "Format: iqspec <Infile>  <Outfile> <No. FFT Points>" ] || { echo "FAIL: usage text"; fail=1; }

"${emulator[@]}" "$bin/iqsim" "$work/cap.bin" -n 4096 --tone 150000,20; check "iqsim" 0 $?
"${emulator[@]}" "$bin/iqspec" "$work/cap.bin" "$work/spectrum.txt" 256 > "$work/console.txt"; check "iqspec" 0 $?
[ "$(wc -l < "$work/spectrum.txt")" = 256 ] || { echo "FAIL: table lines"; fail=1; }
head -c 56 "$work/console.txt" | grep -q "^Number of Bytes = 8192   No. of FFTs=16" || { echo "FAIL: console"; fail=1; }

"${emulator[@]}" "$bin/iqspec" "$work/cap.bin" /dev/full 256 > /dev/null 2>&1; check "iqspec to /dev/full" 1 $?
"${emulator[@]}" "$bin/iqspec" "$work/missing.bin" "$work/x.txt" 256 > /dev/null; check "missing input" 1 $?
"${emulator[@]}" "$bin/iqsim" --bogus 2> /dev/null; check "iqsim bad option" 1 $?
# Console output to a full disk is a failure too.
"${emulator[@]}" "$bin/iqspec" "$work/cap.bin" "$work/spec2.txt" 256 > /dev/full 2> /dev/null; check "console to /dev/full" 1 $?

[ $fail = 0 ] && echo "all program checks passed"
exit $fail
