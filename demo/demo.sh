#!/usr/bin/env bash
# A synthetic observation night. iqsim plays the receivers: a hydrogen-line-like tone on
# broadband noise, a pulsar-like pulse train buried in noise, two receivers that see the same
# sky with a delay, and a capture program started by grabspec. Every tool turns them into its
# table; the summary compares what the tools found with what was put in. With gnuplot
# installed, iqplot draws a picture of every table. Everything lands in one output folder.
set -euo pipefail
bin=$(cd "${1:-build/tools}" && pwd)
out=${2:-demo-output}
mkdir -p "$out"
out=$(cd "$out" && pwd)
log="$out/console.log"
: > "$log"

rate=2.4            # MHz, complex sample rate of every capture
centre=1420.405     # MHz, where the receiver is tuned (the hydrogen line)
step() { printf '== %s\n' "$*"; }
# Runs a tool, keeping its console lines in the log (and the last of them on screen).
run() {
  { printf '$ %s' "${1##*/}"; printf ' %q' "${@:2}"; echo; } >> "$log"
  "$@" >> "$log" 2>&1 || { echo "demo: '$*' failed; see $log" >&2; exit 1; }
}
cd "$out"

# -- 1. Hydrogen line: a narrow tone 150 kHz above the centre on broadband noise -------------
points=1024
tone_hz=150000
tone_bin=$(awk -v f=$tone_hz -v r=$rate -v n=$points 'BEGIN { printf "%d", f / (r * 1e6 / n) + 0.5 }')
step "Hydrogen line: 2 s at $rate MHz, a tone at +$tone_hz Hz on noise"
run "$bin/iqsim" hline.bin --force --rate $rate --seconds 2 --seed 1 --noise 8 --tone $tone_hz,4
run "$bin/iqspec" hline.bin hline_spectrum.txt $points
read -r found_bin found_power < <(awk 'NR == 1 || $2 > best { best = $2; line = $1 " " $2 } END { print line }' hline_spectrum.txt)
run "$bin/levelhist" hline.bin hline_levels.txt
run "$bin/iqdump" hline.bin hline_dump.txt 0 1

# -- 2. Pulsar: a weak pulse every 33.7 ms, on for a tenth of the period from phase 0.3 -------
period_ms=33.7
duty=0.1
phase=0.3
video_khz=1     # video band: one video point per 2400 samples, 1000 points a second
mod_points=1024
bins=100
step "Pulsar: 10 s with a pulse every $period_ms ms (duty $duty, phase $phase) buried in noise"
run "$bin/iqsim" pulsar.bin --force --rate $rate --seconds 10 --seed 3 --noise 10 \
  --pulse-period $period_ms --pulse-duty $duty --pulse-strength 0.5 --pulse-phase $phase
run "$bin/powtrace" pulsar.bin pulsar_power.txt $rate $video_khz 1
run "$bin/modspec" pulsar.bin pulsar_modulation.txt $rate $video_khz $mod_points
run "$bin/cyclefold" pulsar.bin pulsar_profile.txt $rate $bins $period_ms 1
run "$bin/cyclestack" pulsar.bin pulsar_stack.txt $rate $bins $period_ms
# The pulse rate: the lowest bin far above the median is the fundamental; its highest clear
# harmonic pins the rate down more finely than one bin.
median=$(sort -g -k2 pulsar_modulation.txt | awk '{ v[NR] = $2 } END { print v[int(NR / 2)] }')
read -r mod_bin found_rate < <(awk -v median="$median" -v df="$(awk -v r=$rate -v v=$video_khz -v n=$mod_points \
    'BEGIN { printf "%.9f", (r * 1e6 / int(r * 1000 / v)) / n }')" '
  { value[$1] = $2; n = NR }
  END {
    for (k = 2; k < n && value[k] < 10 * median; ++k) {}
    for (j = k + 1; j <= k + 2; ++j) if (value[j] > value[k]) k = j
    estimate = k
    for (h = 2; h * estimate + 2 < n; ++h) {
      peak = -1
      centre = int(h * estimate + 0.5)
      for (j = centre - 2; j <= centre + 2; ++j) if (value[j] > peak) { peak = value[j]; at = j }
      if (peak < 10 * median) break
      estimate = at / h
    }
    printf "%d %.3f\n", k, estimate * df
  }' pulsar_modulation.txt)
found_period=$(awk -v f="$found_rate" 'BEGIN { printf "%.2f", 1000 / f }')
# The pulse in the profile: the bins above half-way between the floor and the peak.
read -r on_first on_last contrast < <(awk -v bins=$bins '
  $2 == $2 + 0 { v[$1] = $2; if (NR == 1 || $2 < lo) lo = $2; if (NR == 1 || $2 > hi) hi = $2 }
  END {
    first = -1
    for (i = 0; i < bins; ++i) if (v[i] > (lo + hi) / 2) { if (first < 0) first = i; last = i }
    printf "%.2f %.2f %.2f\n", first / bins, (last + 1) / bins, hi / lo
  }' pulsar_profile.txt)
stack_contrast=$(awk '{ if (NR == 1 || $2 < lo) lo = $2; if (NR == 1 || $2 > hi) hi = $2 } END { printf "%.2f", hi / lo }' pulsar_stack.txt)

# -- 3. Two receivers: the same sky, the second one 1234 samples later --------------------------
delay=1234
window=1000
step "Two receivers: the second sees the sky $delay samples later"
run "$bin/iqsim" rx1.bin --force --rate $rate --seconds 1 --seed 5 --rx-noise 4 --rx-seed 11
run "$bin/iqsim" rx2.bin --force --rate $rate --seconds 1 --seed 5 --rx-noise 4 --rx-seed 12 --delay $delay
run "$bin/lagscan" rx1.bin rx2.bin pair_correlation.txt $window 4
# The best "1 on 2" lag of the last block is the one over all lags so far.
lag_before=$(awk -F'\t' 'NF == 6 && $1 == 8192 { lag = $4 } END { print lag }' "$log")
run "$bin/iqtrim" rx1.bin rx1_aligned.bin 200 0
run "$bin/iqtrim" rx2.bin rx2_aligned.bin 200 "$lag_before"
run "$bin/lagscan" rx1_aligned.bin rx2_aligned.bin aligned_correlation.txt $window 4
lag_after=$(awk -F'\t' 'NF == 6 && $1 == 8192 { lag = $4 } END { print lag }' "$log")

# -- 4. A capture program started by grabspec: iqsim stands in for the receiver's program -----
step "grabspec runs iqsim as its capture command"
ln -sf "$bin/iqsim" ./iqsim
run "$bin/grabspec" "./iqsim grab.bin --force --rate $rate --seconds 0.5 --seed 9 --tone -300000,6" 512
rm -f ./iqsim
grab_bin=$(awk 'NR == 1 || $2 > best { best = $2; bin = $1 } END { print bin }' grab.txt)
grab_expected=$(awk -v r=$rate 'BEGIN { printf "%d", -300000 / (r * 1e6 / 512) - 0.5 }')

# -- Pictures -----------------------------------------------------------------------------------
plot() {  # plot <table> [iqplot options]
  run "$bin/iqplot" "$1" "${1%.txt}.png" "${@:2}"
}
if command -v gnuplot > /dev/null 2>&1; then
  step "Pictures of every table (iqplot)"
  plot hline_spectrum.txt --rate $rate --centre $centre --title "Hydrogen line: averaged spectrum"
  plot hline_levels.txt --title "Hydrogen-line capture: byte levels"
  plot hline_dump.txt --rate $rate --title "Hydrogen-line capture: first 8192 samples"
  plot pulsar_power.txt --rate $rate --video-band $video_khz --title "Pulsar: detected power"
  plot pulsar_modulation.txt --rate $rate --video-band $video_khz --title "Pulsar: modulation spectrum"
  plot pulsar_profile.txt --title "Pulsar: profile folded at $period_ms ms (cyclefold, amplitude)"
  plot pulsar_stack.txt --title "Pulsar: profile folded at $period_ms ms (cyclestack, power)"
  plot pair_correlation.txt --rate $rate --title "Two receivers: correlation before alignment"
  plot aligned_correlation.txt --rate $rate --title "Two receivers: correlation after iqtrim"
  plot grab.txt --rate $rate --title "grabspec with iqsim as the capture program"
  pictures="pictures:      $out/*.png"
else
  pictures="no pictures: gnuplot is not installed (Debian: apt-get install gnuplot-nox, then make demo again)"
fi
rm -f hline.bin pulsar.bin rx1.bin rx2.bin rx1_aligned.bin rx2_aligned.bin grab.bin

row() { printf '%-46s %s\n' "$1" "$2"; }
echo
row "What was put in" "What the tools found"
row "----------------------------------------------" "--------------------------------------------------"
row "tone at +$tone_hz Hz = bin $tone_bin of $points" "iqspec: strongest bin $found_bin (mean power $found_power)"
row "pulse period $period_ms ms = $(awk -v p=$period_ms 'BEGIN { printf "%.3f", 1000 / p }') Hz" \
    "modspec: peak in bin $mod_bin, with harmonics $found_rate Hz = $found_period ms"
row "pulse on from phase $phase to $(awk -v p=$phase -v d=$duty 'BEGIN { printf "%.1f", p + d }')" \
    "cyclefold: pulse from phase $on_first to $on_last (peak/floor $contrast)"
row "" "cyclestack: peak/floor $stack_contrast"
row "second receiver $delay samples late" "lagscan: \"1 on 2\" lag $lag_before; after iqtrim: $lag_after"
row "grabspec's capture: tone at -300000 Hz = bin $grab_expected" "grabspec: strongest bin $grab_bin"
echo
echo "Tables:        $out/*.txt"
echo "Console lines: $log"
echo "${pictures^}"
