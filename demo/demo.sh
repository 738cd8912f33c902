#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A synthetic observation night. iqsim plays the receivers: a hydrogen-line-like tone on
# broadband noise, a pulsar-like pulse train buried in noise (its period given at the
# solar-system barycentre for an observer at a site; also dispersed at a DM), two receivers that
# see the same sky with a delay, a capture program started by grabspec, and a hydrogen-line night: a line
# drifting through the beam seen through a receiver with an uneven passband, an off-source
# reference, the waterfall, the calibrated spectrum and its velocity, and the same in kelvin from a
# hot and a cold load with the line fitted. Every tool turns them into its
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

# -- 2b. Period search: the pulse 0.01 % slower than the period typed, and a capture without one -
# The pulsar's period is put in at the solar-system barycentre: the observer at the site, moving
# toward or away from the source with the Earth, receives it shifted by v/c. iqsim records the
# site and the start beside the capture; cyclesearch reads them back, so that --radec alone refers
# the period it finds to the barycentre.
put_ms=$(awk -v p=$period_ms 'BEGIN { printf "%.5f", p * 1.0001 }')
span=0.0002     # search +-0.02 % around the period typed
trials=1000
site=52.2,0.09,20            # the observer: degrees north, degrees east, metres
source_radec=53.2475,54.5788 # the source (ICRS degrees)
night_start=2026-12-07T01:00:00Z
pulsar_site=$site pulsar_start=$night_start   # the hydrogen-line night below has its own
step "Period search: 30 s with a pulse every $put_ms ms at the barycentre (0.01 % off the $period_ms ms typed), and 10 s of noise"
run "$bin/iqsim" offperiod.bin --force --rate $rate --seconds 30 --seed 6 --noise 10 \
  --pulse-period "$put_ms" --pulse-duty $duty --pulse-strength 0.5 --pulse-phase $phase \
  --pulse-frame bary --site $site --radec $source_radec --start $night_start
site_ms=$(tail -n 1 "$log" | sed -n 's/.* ms at the barycentre, \([^ ]*\) ms at the site.*/\1/p')
run "$bin/cyclestack" offperiod.bin offperiod_stack.txt $rate $bins $period_ms
run "$bin/cyclesearch" offperiod.bin pulsar_search.txt $rate $bins $period_ms $span $trials \
  --profile pulsar_best.txt --radec $source_radec
search_log=$(awk '/^\$ cyclesearch offperiod.bin/ { keep = 1; text = "" } keep { text = text $0 "\n" } /^Infile=/ { keep = 0 } END { printf "%s", text }' "$log")
field() { printf '%s' "$search_log" | sed -n "s/.*$1\([^ ]*\).*/\1/p" | head -n 1; }
found_ms=$(field "Best period=")
resolution_ms=$(field "Resolution=")
search_sigma=$(field "Significance=")
read -r search_first search_last < <(printf '%s' "$search_log" | sed -n 's/^On-pulse phase \([^ ]*\) to \([^ ]*\) .*/\1 \2/p')
search_verdict=$(printf '%s' "$search_log" | grep -E '^(detected|no detection) ' | sed 's/ (.*//')
search_bary_ms=$(field "Barycentric period=")
# Whether a period found lies within a search's resolution of the one put in.
within() { awk -v f="$1" -v p="$2" -v r="$3" 'BEGIN { d = f - p; if (d < 0) d = -d; print (d <= r ? "within" : "OUTSIDE") }'; }
within=$(within "$found_ms" "$site_ms" "$resolution_ms")
bary_within=$(within "$search_bary_ms" "$put_ms" "$resolution_ms")
# Folded at the period typed, the pulse drifts across the bins: cyclestack shows it displaced,
# and the search table's trial nearest that period has a smaller chi-square than the best.
read -r typed_first typed_last < <(awk -v bins=$bins '
  { v[$1] = $2; if (NR == 1 || $2 < lo) lo = $2; if (NR == 1 || $2 > hi) hi = $2 }
  END {
    first = -1
    for (i = 0; i < bins; ++i) if (v[i] > (lo + hi) / 2) { if (first < 0) first = i; last = i }
    printf "%.2f %.2f\n", first / bins, (last + 1) / bins
  }' offperiod_stack.txt)
read -r typed_chi2 best_chi2 < <(awk -v p=$period_ms '
  /^#/ { next }
  { d = $1 - p; if (d < 0) d = -d; if (!seen++ || d < nearest) { nearest = d; at = $2 } if ($2 > best) best = $2 }
  END { printf "%.0f %.0f\n", at, best }' pulsar_search.txt)
run "$bin/iqsim" quiet.bin --force --rate $rate --seconds 10 --seed 4 --noise 10
run "$bin/cyclesearch" quiet.bin quiet_search.txt $rate $bins $period_ms $span $trials
quiet_best=$(tail -n 8 "$log" | sed -n 's/.*reduced chi2=\([^ ]*\).*/\1/p' | awk '{ printf "%.2f", $1 }')
quiet_sigma=$(tail -n 8 "$log" | sed -n 's/.*Significance=\([^ ]*\).*/\1/p')
quiet_verdict=$(tail -n 8 "$log" | grep -E '^(detected|no detection) ' | sed 's/ (.*//')
quiet_mean=$(awk '/^#/ { next } { s += $3; ++n } END { printf "%.2f", s / n }' quiet_search.txt)

# -- 2c. The pulsar software's format and the barycentre: the same capture as a filterbank -----
# The source's position goes into the filterbank's header.
step "Filterbank: the period search's capture in 64 channels, searched again and referred to the barycentre"
run "$bin/iqfilterbank" offperiod.bin offperiod.fil 64 20 --rate $rate --centre 430 --start $night_start \
  --source DEMO --radec $source_radec
run "$bin/cyclesearch" offperiod.fil filterbank_search.txt - $bins $period_ms $span $trials --site $site
fil_ms=$(tail -n 12 "$log" | sed -n 's/^Best period=\([^ ]*\).*/\1/p')
bary_ms=$(tail -n 12 "$log" | sed -n 's/^Barycentric period=\([^ ]*\).*/\1/p')
v_over_c=$(tail -n 12 "$log" | sed -n 's/.*v\/c=\([^ ]*\).*/\1/p')

# -- 2d. Dispersion: the pulse swept down a 430 MHz band by the interstellar plasma -----------
put_dm=26.8     # pc cm^-3, PSR B0329+54's: 6.7 ms across the 2.4 MHz band
dm_step=4
step "Dispersion: 3 s with the pulse at DM $put_dm at 430 MHz, searched in 64 channels over DMs 0 to 60"
run "$bin/iqsim" dispersed.bin --force --rate $rate --seconds 3 --seed 7 --noise 10 --pulse-period $period_ms \
  --pulse-duty $duty --pulse-strength 0.5 --pulse-phase $phase --pulse-dm $put_dm --centre 430 \
  --pulse-frame bary --start $night_start --site $site --radec $source_radec
run "$bin/cyclesearch" dispersed.bin dispersed_search.txt $rate $bins $period_ms 0.001 9 --channels 64 \
  --dm 0:60:$dm_step --radec $source_radec
dm_log=$(tail -n 12 "$log")
dm_field() { printf '%s' "$dm_log" | sed -n "s/.*$1\([^ ]*\).*/\1/p" | head -n 1; }
dm_ms=$(dm_field "Best period=")
found_dm=$(dm_field "Best DM=")
dm_chi2=$(dm_field "pc cm^-3   chi2=" | awk '{ printf "%.0f", $1 }')
dm0_chi2=$(dm_field "(at DM 0.0000: chi2=" | awk '{ printf "%.0f", $1 }')
dm_bary_ms=$(dm_field "Barycentric period=")
dm_resolution_ms=$(awk '/^\$ cyclesearch dispersed.bin/ { keep = 1 } keep && /Resolution=/ { sub(/.*Resolution=/, ""); print $1; exit }' "$log")
dm_bary_within=$(within "$dm_bary_ms" "$period_ms" "$dm_resolution_ms")
dm_within=$(awk -v f="$found_dm" -v p=$put_dm -v s=$dm_step 'BEGIN { d = f - p; if (d < 0) d = -d; print (d <= s ? "within" : "OUTSIDE") }')

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
# The capture command finds iqsim on PATH, as a reader who set PATH as the README says would.
PATH="$bin:$PATH" run "$bin/grabspec" "iqsim grab.bin --force --rate $rate --seconds 0.5 --seed 9 --tone -300000,6" 512
grab_bin=$(awk 'NR == 1 || $2 > best { best = $2; bin = $1 } END { print bin }' grab.txt)
grab_expected=$(awk -v r=$rate 'BEGIN { printf "%d", -300000 / (r * 1e6 / 512) - 0.5 }')

# -- 5. Hydrogen-line night: a drifting line, an off-source reference, calibration, velocity --
# The observer stands at a site and points at the galactic plane; the line is put in at a known
# LSRK radial velocity (radio convention, v = c (rest - f) / rest) at mid-capture, and iqsim
# places it at the topocentric frequency that the site, pointing and time give. Its frequency
# drifts linearly through that middle. The receiver's passband rises and falls by 30 % across
# the band, the same for the capture on the source and the reference off it (another stretch
# of sky: another seed, no line); a steady interference tone is in both. A second, narrow one,
# a local oscillator's, leaks in while on the source alone, 8 bins of 1024 above the line: speccal
# --flag finds it below. iqsim records the rate, centre, start and site beside each capture;
# the other tools read them.
rest=1420.405751768      # MHz, the hydrogen line's rest frequency
night_centre=1420.4      # MHz, where the receiver is tuned
night_seconds=8
site=52.2,-4.1,120       # degrees north, degrees east, metres
pointing=120,0           # galactic longitude and latitude, degrees
night_start=2026-12-07T01:30:00Z
night_middle=2026-12-07T01:30:04Z
velocity=-50             # km/s, LSRK, at mid-capture
drift=1000               # Hz per second
rfi_hz=250800            # Hz above the tuned frequency: the interference on the source, bin 107
wf_points=8192
wf_frames=58             # frames per waterfall row: 0.198 s
cal_points=1024
sky=(--site $site --galactic $pointing --frame lsrk)
step "Hydrogen-line night: a line drifting $drift Hz/s at LSRK $velocity km/s mid-capture, on and off the source"
run "$bin/iqsim" night_on.bin --force --rate $rate --seconds $night_seconds --seed 21 --noise 8 \
  --line "$velocity,1.5,$drift" "${sky[@]}" --tone -400000,0.7 --tone $rfi_hz,0.7 --passband 30 \
  --centre $night_centre --start $night_start
run "$bin/iqsim" night_off.bin --force --rate $rate --seconds $night_seconds --seed 22 --noise 8 \
  --tone -400000,0.7 --passband 30 --centre $night_centre --start 2026-12-07T01:40:00Z --site $site
run "$bin/iqwaterfall" night_on.bin night_waterfall.txt $wf_points $wf_frames
run "$bin/iqspec" night_on.bin night_on.txt $cal_points
run "$bin/iqspec" night_off.bin night_off.txt $cal_points
run "$bin/speccal" night_on.txt night_off.txt night_calibrated.txt
# The drift: the strongest bin of every waterfall row against the row's middle time, fitted
# with a straight line (least squares).
read -r wf_rows found_drift < <(awk -v n=$wf_points -v m=$wf_frames -v r=$rate '
  /^#/ { next }
  NF == 0 { if (have) { t = (rows + 0.5) * m * n / (r * 1e6); f = bin * r * 1e6 / n
                         st += t; sf += f; stt += t * t; stf += t * f; ++rows }
            have = 0; next }
  !have || $2 > best { best = $2; bin = $1; have = 1 }
  END { printf "%d %.1f\n", rows, (rows * stf - st * sf) / (rows * stt - st * st) }' night_waterfall.txt)
wf_bin_hz=$(awk -v r=$rate -v n=$wf_points 'BEGIN { printf "%.1f", r * 1e6 / n }')
drift_bins=$(awk -v d=$drift -v t=$night_seconds -v b=$wf_bin_hz 'BEGIN { printf "%.1f", d * t / b }')
found_drift_bins=$(awk -v d=$found_drift -v t=$night_seconds -v b=$wf_bin_hz 'BEGIN { printf "%.1f", d * t / b }')
# The velocity: the power-weighted centre of the calibrated line (the bins above half its
# peak around it), and the flatness of the baseline: the spread of the bins away from it.
# speccal's table starts with two header lines ("# ..."), passed over.
line_velocity() {  # line_velocity <calibrated table>: the velocity and the baseline's rms
  awk -v c=$night_centre -v r=$rate -v n=$cal_points -v rest=$rest '
  /^#/ { next }
  { ++rows; bin[rows] = $1; v[rows] = $2 + 0; if (rows == 1 || v[rows] > v[top]) top = rows }
  END {
    for (lo = top; lo > 1 && v[lo - 1] > v[top] / 2; --lo) {}
    for (hi = top; hi < rows && v[hi + 1] > v[top] / 2; ++hi) {}
    for (k = lo; k <= hi; ++k) { sw += v[k]; sk += v[k] * bin[k] }
    f = c + sk / sw * r / n
    for (k = 1; k <= rows; ++k) if (k < lo - 10 || k > hi + 10) { ss += v[k] * v[k]; ++count }
    printf "%.2f %.3f\n", 299792.458 * (rest - f) / rest, sqrt(ss / count)
  }' "$1"
}
# speccal's velocities are topocentric: iqvelocity's correction at mid-capture turns them LSRK.
read -r found_velocity baseline_rms < <(line_velocity night_calibrated.txt)
correction=$("$bin/iqvelocity" --site $site --galactic $pointing --start $night_middle | sed -n 's/^lsrk_kms=//p')
lsrk() { awk -v v="$1" -v c="$correction" 'BEGIN { printf "%.2f", v + c }'; }
found_lsrk=$(lsrk "$found_velocity")
velocity_bin=$(awk -v r=$rate -v n=$cal_points -v rest=$rest 'BEGIN { printf "%.3f", 299792.458 * r / n / rest }')
within() {  # within <found> <expected> <one bin>
  awk -v a="$1" -v b="$2" -v w="$3" 'BEGIN { d = a - b; print (d < 0 ? -d : d) <= w ? "within one bin" : "NOT within one bin" }'
}
drift_check=$(within "$found_drift_bins" "$drift_bins" 1)
velocity_check=$(within "$found_lsrk" "$velocity" "$velocity_bin")

# -- 6. Frequency switching: no sky without the line, so the same sky is taken twice, the second
# time tuned 0.3 MHz higher (128 bins of 1024); each tuning is the other's reference. The line
# keeps its velocity and so its sky frequency (its offset 0.3 MHz lower in the second capture;
# twenty minutes later the correction has moved by a few metres per second), the interference
# tone its offset from the tuned frequency. Each capture's whole spectrum is one iqwaterfall row
# at full precision, with the rate and centre in its header for speccal --switch.
switch_mhz=0.3
high_centre=$(awk -v c=$night_centre -v s=$switch_mhz 'BEGIN { printf "%.1f", c + s }')
step "Frequency switching: the same sky tuned $switch_mhz MHz higher, each tuning the other's reference"
run "$bin/iqsim" night_high.bin --force --rate $rate --seconds $night_seconds --seed 23 --noise 8 \
  --line "$velocity,1.5,$drift" "${sky[@]}" --tone -400000,0.7 --passband 30 --centre $high_centre \
  --start 2026-12-07T01:50:00Z
run "$bin/iqwaterfall" night_on.bin night_on_full.txt $cal_points 0
run "$bin/iqwaterfall" night_high.bin night_high_full.txt $cal_points 0
run "$bin/speccal" night_on_full.txt night_high_full.txt night_switched.txt --switch
read -r switched_velocity switched_rms < <(line_velocity night_switched.txt)
switched_lsrk=$(lsrk "$switched_velocity")
switched_check=$(within "$switched_lsrk" "$velocity" "$velocity_bin")

# -- 7. Kelvin: the receiver looks into a hot load (an absorber at 290 K) and, as cold load, at
# the cold sky off the source (10 K). iqsim's noise stands in for temperature: noise power
# (--noise SIGMA, sigma^2 per component) is taken as 1.5625 K per step^2, so the night's noise of
# 8 steps is a system of 100 K (a receiver of 90 K and the cold sky's 10 K) and the hot load's
# 290 + 90 = 380 K is noise of sqrt(380 / 1.5625) = 15.595 steps. The interference tone comes
# from the receiver itself, so the load sees it too. speccal's Y factor turns the night's
# (on - off) / off into antenna temperature, flags the bins that stand out from the median of
# the 7 around them by more than 15 median absolute deviations (the interference on the source,
# inside the line window; the line is wider than one bin, so it stays), removes a baseline, fits
# a Gaussian to the line's unflagged bins and reports it in LSRK with its integral and the
# column density, at the site and the middle of the capture that the table's header gives.
t_hot=290; t_cold=10; t_rx=90
hot_noise=$(awk -v h=$t_hot -v r=$t_rx 'BEGIN { printf "%.3f", sqrt((h + r) / 1.5625) }')
step "Kelvin: a hot load of $t_hot K (noise $hot_noise) and the cold sky of $t_cold K through a receiver of $t_rx K"
run "$bin/iqsim" night_hot.bin --force --rate $rate --seconds 4 --seed 24 --noise "$hot_noise" \
  --tone -400000,0.7 --passband 30 --centre $night_centre --start 2026-12-07T01:20:00Z --site $site
run "$bin/iqwaterfall" night_off.bin night_off_full.txt $cal_points 0
run "$bin/iqwaterfall" night_hot.bin night_hot_full.txt $cal_points 0
# The line window: a dozen bins either side of the calibrated spectrum's strongest bin.
peak_bin=$(awk '/^#/ { next } !seen++ || $2 > best { best = $2; bin = $1 } END { print bin }' night_calibrated.txt)
run "$bin/speccal" night_on_full.txt night_off_full.txt night_kelvin.txt --hot night_hot_full.txt \
  --cold night_off_full.txt --t-hot $t_hot --t-cold $t_cold -b 2 -l $((peak_bin - 12)):$((peak_bin + 12)) \
  --flag 15 --flag-window 7 --report --galactic $pointing --frame lsrk
report() { tail -n 40 "$log" | sed -n "s/^$1=//p" | tail -n 1; }
kelvin_of() { tail -n 40 "$log" | sed -n "s/^$1=\([^ ]*\) K .*/\1/p" | tail -n 1; }
tsys=$(kelvin_of T_sys); trx=$(kelvin_of T_rx)
fit_centroid=$(report centroid_1_kms); fit_centroid_err=$(report centroid_1_err_kms)
fit_fwhm=$(report fwhm_1_kms); fit_fwhm_err=$(report fwhm_1_err_kms)
fit_integral=$(report integral_kms); fit_integral_err=$(report integral_err_kms)
fit_nh=$(report column_density_cm2); fit_nh_err=$(report column_density_err_cm2)
channel=$(report channel_kms)
read -r flagged_bins flagged_of < <(tail -n 40 "$log" | sed -n 's/^Flagged \([0-9]*\) of \([0-9]*\) bins$/\1 \2/p' | tail -n 1)
rfi_bin=$(awk -v f=$rfi_hz -v r=$rate -v n=$cal_points 'BEGIN { printf "%d", f / (r * 1e6 / n) + 0.5 }')
rfi_check=$(awk -v b=$rfi_bin '/^# flagged:/ { for (i = 3; i <= NF; ++i) if ($i == b) found = 1 }
  END { print found ? "flagged" : "NOT flagged" }' night_kelvin.txt)
fit_check=$(within "$fit_centroid" "$velocity" "$channel")
# What was put in: the line's power (1.5^2 against the noise's 2 x 8^2 spread over the bins) as a
# fraction of a bin's noise, times the 100 K that noise stands for, over channels of that width.
put_integral=$(awk -v n=$cal_points -v c=$channel 'BEGIN { printf "%.1f", 1.5 ^ 2 / (2 * 8 ^ 2 / n) * 100 * c }')
put_nh=$(awk -v i="$put_integral" 'BEGIN { printf "%.3e", 1.823e18 * i }')

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
  plot offperiod_stack.txt --title "Pulse at $put_ms ms folded at the $period_ms ms typed (cyclestack): smeared"
  plot pulsar_search.txt --title "Period search around $period_ms ms (cyclesearch): chi-square per trial"
  plot pulsar_best.txt --title "Profile at the best trial, $found_ms ms (cyclesearch --profile)"
  plot quiet_search.txt --title "Period search on noise alone (cyclesearch)"
  plot filterbank_search.txt --title "Period search of the filterbank ($bary_ms ms at the barycentre)"
  plot dispersed_search.txt --title "Dispersion: chi-square of every period and DM trial (cyclesearch --dm)"
  plot pair_correlation.txt --rate $rate --title "Two receivers: correlation before alignment"
  plot aligned_correlation.txt --rate $rate --title "Two receivers: correlation after iqtrim"
  plot grab.txt --rate $rate --title "grabspec with iqsim as the capture program"
  # The night's tables take the rate, centre, start and site from the captures' metadata; their
  # velocities are LSRK, for the pointing.
  frame=(--velocity --frame lsrk --galactic $pointing)
  plot night_waterfall.txt "${frame[@]}" --metadata night_on.bin --xrange -56:-44 \
    --title "Hydrogen-line night: the line drifting through the band"
  plot night_on.txt "${frame[@]}" --title "Hydrogen-line night: on the source (the passband's shape and the line)"
  plot night_off.txt "${frame[@]}" --title "Hydrogen-line night: off the source (the passband's shape alone)"
  plot night_calibrated.txt "${frame[@]}" --metadata night_on.bin --xrange -150:50 \
    --title "Hydrogen-line night: (on - off) / off, a flat baseline and the line"
  plot night_switched.txt "${frame[@]}" --metadata night_on.bin --xrange -150:50 \
    --title "Frequency switching: two tunings 0.3 MHz apart, shifted and averaged"
  plot night_on_full.txt "${frame[@]}" --metadata night_on.bin \
    --title "Frequency switching: the night tuned to $night_centre MHz, one row of the whole capture"
  plot night_high_full.txt "${frame[@]}" --metadata night_high.bin \
    --title "Frequency switching: the same sky tuned to $high_centre MHz, one row of the whole capture"
  plot night_off_full.txt "${frame[@]}" --metadata night_off.bin \
    --title "Kelvin: the cold load (the sky off the source, $t_cold K), one row of the whole capture"
  plot night_hot_full.txt "${frame[@]}" --metadata night_hot.bin \
    --title "Kelvin: the hot load ($t_hot K), the same passband higher by the Y factor"
  plot night_kelvin.txt "${frame[@]}" --metadata night_on.bin --xrange -75:-25 \
    --title "Hydrogen-line night in kelvin: Y factor of a $t_hot K and a $t_cold K load, baseline removed"
  pictures="pictures:      $out/*.png"
else
  pictures="no pictures: gnuplot is not installed (Debian: apt-get install gnuplot-nox, then make demo again)"
fi
rm -f hline.bin pulsar.bin offperiod.bin offperiod.fil dispersed.bin quiet.bin rx1.bin rx2.bin rx1_aligned.bin rx2_aligned.bin grab.bin night_on.bin night_off.bin night_high.bin night_hot.bin
rm -f ./*.sigmf-meta

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
row "pulse at the site $(printf '%.6f' "$site_ms") ms, $period_ms typed" \
    "cyclesearch: best $found_ms ms, $within the resolution $resolution_ms"
row "pulse on from phase $phase to $(awk -v p=$phase -v d=$duty 'BEGIN { printf "%.1f", p + d }')" \
    "cyclesearch: pulse from phase $search_first to $search_last, $search_sigma sigma: $search_verdict"
row "" "chi2 $best_chi2 there, $typed_chi2 at $period_ms ms, where cyclestack"
row "" "  shows the pulse displaced to phase $typed_first to $typed_last"
row "the same as a filterbank, site $pulsar_site" "cyclesearch of the .fil: best $fil_ms ms; at the barycentre $bary_ms ms"
row "source $source_radec on $pulsar_start" "  (observer's v/c toward the source $v_over_c)"
row "pulse at the barycentre $put_ms ms" "cyclesearch (the capture's site): at the barycentre $search_bary_ms ms,"
row "" "  $bary_within the resolution $resolution_ms"
row "pulse at DM $put_dm, 430 MHz, $period_ms ms" \
    "cyclesearch --dm: DM $found_dm ($dm_within one step of $dm_step), best $dm_ms ms"
row "" "  chi2 $dm_chi2 there, $dm0_chi2 undispersed (DM 0)"
row "  at the barycentre $period_ms ms, site $pulsar_site" "  at the barycentre $dm_bary_ms ms, $dm_bary_within the resolution $dm_resolution_ms"
row "noise only" "cyclesearch: reduced chi2 $quiet_mean over the trials ($quiet_best at best), $quiet_sigma sigma: $quiet_verdict"
row "second receiver $delay samples late" "lagscan: \"1 on 2\" lag $lag_before; after iqtrim: $lag_after"
row "grabspec's capture: tone at -300000 Hz = bin $grab_expected" "grabspec: strongest bin $grab_bin"
row "line drift $drift Hz/s = $drift_bins bins of $wf_bin_hz Hz" \
    "iqwaterfall: $wf_rows rows, drift $found_drift Hz/s = $found_drift_bins bins ($drift_check)"
row "line at LSRK $velocity km/s (bins of $velocity_bin km/s)" \
    "speccal: line at $found_velocity km/s topocentric, LSRK $found_lsrk km/s ($velocity_check), baseline rms $baseline_rms"
row "site $site, galactic $pointing" "iqvelocity: LSRK correction $correction km/s at $night_middle"
row "the same, tunings $switch_mhz MHz apart" \
    "speccal --switch: line at LSRK $switched_lsrk km/s ($switched_check), rms $switched_rms"
row "hot load $t_hot K, cold sky $t_cold K, receiver $t_rx K" "speccal (Y factor): T_sys $tsys K, T_rx $trx K"
row "narrow tone +$rfi_hz Hz = bin $rfi_bin, on source" \
    "speccal --flag: $flagged_bins of $flagged_of bins flagged, bin $rfi_bin $rfi_check; fits skip them"
row "line at LSRK $velocity km/s (channels of $velocity_bin km/s)" \
    "speccal --report: Gaussian at LSRK $fit_centroid +- $fit_centroid_err km/s ($fit_check), FWHM $fit_fwhm +- $fit_fwhm_err km/s"
row "integral $put_integral K km/s, N_H $put_nh cm^-2" \
    "speccal --report: integral $fit_integral +- $fit_integral_err K km/s, N_H $fit_nh +- $fit_nh_err cm^-2"
echo
echo "Tables:        $out/*.txt"
echo "Console lines: $log"
echo "${pictures^}"
