#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# iqwaterfall reading a live stream from a FIFO: its rows are in the table while the stream
# lasts, and Ctrl-C (SIGINT) or SIGTERM ends the run with exit status 0, the complete rows kept
# (the same as a file run's), the partial last row left out and said on standard error.
set -u
set -m  # job control: a background job keeps SIGINT instead of ignoring it
bin=$1
work=$(mktemp -d)
fifo_fd=
trap 'rm -rf "$work"' EXIT
fail=0
"$bin/iqsim" "$work/cap.bin" -n 11000 --tone 20000 > /dev/null || exit 1
# Without the capture's metadata the file run's header is the stream's (a stream has none).
rm -f "$work/cap.sigmf-meta"
# N = 64, 20 frames per row: a row is 2560 bytes; the capture holds 8 rows and a part (1520 bytes).
"$bin/iqwaterfall" "$work/cap.bin" "$work/file.txt" 64 20 > /dev/null 2>&1 || { echo "FAIL: file run"; exit 1; }
blank_lines() { grep -c '^$' "$1" 2>/dev/null || true; }
for signal in INT TERM; do
  rm -f "$work/fifo" "$work/live.txt"
  mkfifo "$work/fifo"
  "$bin/iqwaterfall" - "$work/live.txt" 64 20 < "$work/fifo" > "$work/out.txt" 2> "$work/err.txt" &
  pid=$!
  exec {fifo_fd}> "$work/fifo"
  head -c 12000 "$work/cap.bin" >&$fifo_fd  # 4 rows, 13 frames and a part of one
  for _ in $(seq 200); do  # the rows appear while the stream is still open
    [ "$(blank_lines "$work/live.txt")" = 4 ] && break
    sleep 0.05
  done
  [ "$(blank_lines "$work/live.txt")" = 4 ] || { echo "FAIL: SIG$signal: rows not in the table during the stream"; fail=1; }
  kill -s $signal $pid
  wait $pid
  status=$?
  exec {fifo_fd}>&-
  [ $status -eq 0 ] || { echo "FAIL: SIG$signal run ended with status $status"; fail=1; }
  # The kept rows are the file run's first four, byte for byte.
  expected=$(awk 'BEGIN { rows = 0 } { print } /^$/ { if (++rows == 4) exit }' "$work/file.txt")
  [ "$(cat "$work/live.txt")" = "$expected" ] || { echo "FAIL: SIG$signal rows differ from the file run's"; fail=1; }
  grep -q "stopped by SIG$signal; the table keeps its 4 complete rows" "$work/err.txt" ||
    { echo "FAIL: SIG$signal: no stop note"; cat "$work/err.txt"; fail=1; }
  grep -q "left out a partial last row: 1760 bytes, 13 whole frames of the 20 a row takes" "$work/err.txt" ||
    { echo "FAIL: SIG$signal: no partial row note"; cat "$work/err.txt"; fail=1; }
  leftovers=$(ls "$work" | grep -v -e '^cap.bin$' -e '^file.txt$' -e '^live.txt$' -e '^fifo$' -e '^out.txt$' -e '^err.txt$')
  [ -z "$leftovers" ] || { echo "FAIL: SIG$signal left $leftovers"; fail=1; }
done
[ $fail = 0 ] && echo "stopped live streams kept their complete rows"
exit $fail
