#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# iqplot stopped by a signal while gnuplot draws: gnuplot (which ignores SIGINT) must end too,
# and neither the temporary folder nor a picture may stay behind.
set -u
set -m  # job control: a background job keeps SIGINT instead of ignoring it
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A gnuplot that ignores SIGINT as the real one does, says who it is and draws for a long time.
cat > "$work/slow-gnuplot" << 'END'
#!/bin/sh
trap '' INT
echo $$ > "$(dirname "$0")/gnuplot.pid"
exec sleep 60
END
chmod +x "$work/slow-gnuplot"
printf '0    1.000\n1    2.000\n' > "$work/t.txt"
mkdir "$work/tmp"

for signal in INT TERM; do
  rm -f "$work/gnuplot.pid"
  TMPDIR=$work/tmp IQTOOLS_GNUPLOT=$work/slow-gnuplot "$bin/iqplot" "$work/t.txt" "$work/p.png" > /dev/null 2>&1 &
  pid=$!
  for _ in $(seq 200); do  # wait until gnuplot runs
    [ -s "$work/gnuplot.pid" ] && break
    sleep 0.05
  done
  [ -s "$work/gnuplot.pid" ] || { fail "iqplot never started gnuplot"; kill $pid; continue; }
  gnuplot_pid=$(cat "$work/gnuplot.pid")
  kill -s $signal $pid
  { wait $pid; } 2> /dev/null
  status=$?
  [ $status -ne 0 ] || fail "iqplot stopped by SIG$signal reported success"
  for _ in $(seq 100); do  # gnuplot ends a moment after iqplot
    kill -0 "$gnuplot_pid" 2> /dev/null && [ "$(ps -o stat= -p "$gnuplot_pid")" != Z ] || break
    sleep 0.05
  done
  if kill -0 "$gnuplot_pid" 2> /dev/null && [ "$(ps -o stat= -p "$gnuplot_pid")" != Z ]; then
    fail "gnuplot still runs after iqplot was stopped by SIG$signal"
    kill -9 "$gnuplot_pid"
  fi
  [ -z "$(ls -A "$work/tmp")" ] || fail "iqplot stopped by SIG$signal left $(ls "$work/tmp")"
  [ ! -e "$work/p.png" ] || fail "iqplot stopped by SIG$signal left a picture"
done
[ $failures = 0 ] && echo "iqplot interrupted: all passed"
exit $((failures > 0))
