#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# run_tools.sh [BIN_DIR] -- time every tool on a synthetic capture made by iqsim and print, per
# job, the median wall time, the capture throughput and the peak memory (/usr/bin/time).
# Environment: SIZE_MIB (capture size, default 1024), RUNS (timed runs per job, default 3),
# WORK (scratch folder, default /tmp/iqtools-bench), IQTOOLS_THREADS (thread cap, passed on).
set -eu
BIN=${1:-build/tools}
W=${WORK:-/tmp/iqtools-bench}
SIZE=${SIZE_MIB:-1024}
RUNS=${RUNS:-3}
mkdir -p "$W/out"
CAP=$W/cap$SIZE.bin
BYTES=$((SIZE * 1048576))
if [ ! -f "$CAP" ] || [ "$(stat -c %s "$CAP")" -ne "$BYTES" ]; then
  "$BIN/iqsim" "$CAP" --force --rate 2.4 --samples $((BYTES / 2)) --seed 1 --noise 10 --tone 240000,5 \
    --pulse-period 714.5 --pulse-duty 0.05 --pulse-strength 3
fi
# Two receivers of 64 blocks each for the correlator, the second 123 samples late.
[ -f "$W/rx1.bin" ] || "$BIN/iqsim" "$W/rx1.bin" --samples 524288 --seed 2
[ -f "$W/rx2.bin" ] || "$BIN/iqsim" "$W/rx2.bin" --samples 524288 --seed 2 --delay 123
cat "$CAP" > /dev/null  # warm the page cache
echo "vector target: ${IQTOOLS_SIMD:-the best this processor has} (IQTOOLS_SIMD); processor: $(grep -o -w -E 'sse4_2|avx2|fma|avx512f|asimd|sve' /proc/cpuinfo | sort -u | tr '\n' ' ')"

# job NAME BYTES_READ CMD...: one warm-up run, then RUNS timed runs; prints the median.
job() {
  local name=$1 bytes=$2
  shift 2
  "$@" > /dev/null 2>&1 || { echo "$name: command failed"; return; }
  local runs=()
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -o "$W/time.txt" -f '%e %M' "$@" > /dev/null 2>&1
    runs+=("$(tail -n 1 "$W/time.txt")")
  done
  printf '%s\n' "${runs[@]}" | sort -n | awk -v n="$name" -v b="$bytes" -v r="$RUNS" '
    NR == int((r + 1) / 2) { printf "| %-36s | %8.3f | %8.0f | %6.1f |\n", n, $1, b / $1 / 1e6, $2 / 1024 }'
}

O=$W/out
echo "Capture: $SIZE MiB; threads: ${IQTOOLS_THREADS:-all cores}; median of $RUNS runs"
echo
echo "| job | seconds | MB/s | peak MiB |"
echo "|---|---:|---:|---:|"
for n in ${IQSPEC_SIZES:-1024 65536}; do
  job "iqspec N=$n" $BYTES "$BIN/iqspec" "$CAP" "$O/spectrum.txt" $n
done
job "grabspec N=1024 (command: true)" $BYTES "$BIN/grabspec" "true $CAP x" 1024
job "powtrace 2.4 MHz 7 kHz" $BYTES "$BIN/powtrace" "$CAP" "$O/trace.txt" 2.4 7 1
job "modspec 2.4 MHz 7 kHz N=1024" $BYTES "$BIN/modspec" "$CAP" "$O/mod.txt" 2.4 7 1024
job "cyclefold 1024 bins 714.5 ms" $BYTES "$BIN/cyclefold" "$CAP" "$O/fold.txt" 2.4 1024 714.5 1
job "cyclestack 1024 bins 714.5 ms" $BYTES "$BIN/cyclestack" "$CAP" "$O/stack.txt" 2.4 1024 714.5
job "cyclesearch 1024 bins 714.5 ms, +-0.02 %, 1000 trials" $BYTES "$BIN/cyclesearch" "$CAP" "$O/search.txt" 2.4 1024 714.5 0.0002 1000
job "cyclebin 1024 bins 714.5 ms" $BYTES "$BIN/cyclebin" "$CAP" "$O/bin.txt" 2.4 1024 714.5 1
job "levelhist" $BYTES "$BIN/levelhist" "$CAP" "$O/levels.txt"
job "iqtrim (whole capture)" $BYTES "$BIN/iqtrim" "$CAP" "$O/trim.bin" $((BYTES / 16384)) -7000
rm -f "$O/trim.bin"
job "iqdump 64 blocks (1 MiB)" 1048576 "$BIN/iqdump" "$CAP" "$O/dump.txt" 0 64
job "lagscan 64 blocks L=1000 (per capture)" 1048576 "$BIN/lagscan" "$W/rx1.bin" "$W/rx2.bin" "$O/lag.txt" 1000 64
