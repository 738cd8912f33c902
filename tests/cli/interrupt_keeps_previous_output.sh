#!/usr/bin/env bash
# A run interrupted with SIGINT or SIGTERM leaves the previous file of that name intact and no
# temporary file behind.
set -u
set -m  # job control: a background job keeps SIGINT instead of ignoring it
bin=$1
# Cross-built programs run under the emulator that IQTOOLS_EMULATOR names (empty natively).
read -r -a emulator <<< "${IQTOOLS_EMULATOR:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
for signal in INT TERM; do
  echo "previous capture" > "$work/cap.bin"
  "${emulator[@]}" "$bin/iqsim" "$work/cap.bin" -n 400000000 &
  pid=$!
  for _ in $(seq 50); do  # wait until the temporary file exists
    compgen -G "$work/cap.bin.partial-*" > /dev/null && break
    sleep 0.05
  done
  kill -s $signal $pid
  wait $pid
  status=$?
  [ $status -ne 0 ] || { echo "FAIL: SIG$signal run reported success"; fail=1; }
  [ "$(cat "$work/cap.bin")" = "previous capture" ] || { echo "FAIL: SIG$signal lost the previous file"; fail=1; }
  leftovers=$(ls "$work" | grep -v '^cap.bin$')
  [ -z "$leftovers" ] || { echo "FAIL: SIG$signal left $leftovers"; fail=1; }
done
[ $fail = 0 ] && echo "interrupted runs left the previous file and no temporary file"
exit $fail
