// SPDX-License-Identifier: MIT
// Synthetic receiver output: what an 8-bit I/Q converter would record of broadband noise with
// optional tones and a periodic pulse, seen through a receiver whose gain may vary across the
// band, as one of possibly several receivers of the same sky.
//
// The same settings give the same bytes on every processor: the random sequences are integer
// generators, the Gaussian values and the tones' sines and cosines are computed here from
// additions, subtractions, multiplications, divisions and square roots of doubles alone (each
// exactly rounded by IEEE 754 wherever the program runs), never from the C library's log, sin
// or cos, whose last bits differ between libraries and processors.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "dispersed_pulse.hpp"

namespace iq {

struct Tone {
  double offset_hz = 0.0;       // frequency offset from the tuning centre at the sky's sample 0;
                                // positive rotates I to Q
  double amplitude = 20.0;      // peak amplitude in converter steps
  double drift_hz_per_s = 0.0;  // the offset changes linearly by this much per second
};

struct Pulse {
  double period_ms = 0.0;  // 0: no pulse
  double duty = 0.1;       // fraction of the period the pulse is on (0 < duty <= 1)
  double strength = 1.0;   // extra noise power while on, relative to the sky noise power
  double phase = 0.0;      // start of the pulse within the period, as a fraction (0 <= phase < 1)
  // Dispersion measure, pc cm^-3: the pulse reaches each frequency at its cold-plasma delay
  // behind the band's highest (below 0: the whole band at once, as extra sky noise).
  double dm = -1.0;
  double centre_mhz = 0.0;  // the band's centre, for the delays
};

// The receiver's power gain across the band, 1 + ε² + 2ε·sin(2π·cycles·f/rate) normalised to a
// mean of 1 over the band: one cycle is a gentle slope rising through the middle of the band,
// more cycles a ripple (an echo in the receiver's chain). It shapes everything the receiver
// records (sky, tones and its own noise), as a real receiver's filters do.
struct Passband {
  double depth = 0.0;  // peak-to-trough power variation relative to the mean, 0 .. 1; 0: flat
  int cycles = 1;      // cycles of the ripple across the band, 1 .. kMaxPassbandCycles
};
inline constexpr int kMaxPassbandCycles = 1000;

struct SkySettings {
  double rate_mhz = 2.4;   // complex sample rate
  std::uint64_t seed = 1;  // the sky's random sequence
  double noise = 10.0;     // sky noise standard deviation per component, converter steps
  std::vector<Tone> tones;
  Pulse pulse;
  Passband passband;
  std::int64_t delay = 0;       // samples by which this receiver sees the sky later
  double receiver_noise = 0.0;  // this receiver's own noise, standard deviation in steps
  std::uint64_t receiver_seed = 2;
};

// Sine and cosine of 2π·turns/2^64, each within about 1e-16 of the true value, computed from
// exactly rounded double operations only (the same bits on every processor).
void sin_cos_turns(std::uint64_t turns, double& sine, double& cosine);

// The natural logarithm of x for 0 < x < infinity (normal numbers), within a few units in the
// last place, from exactly rounded double operations only.
double portable_log(double x);

// Deterministic for given settings; generates the capture in consecutive chunks of any size.
class SkyGenerator {
 public:
  explicit SkyGenerator(const SkySettings& settings);

  // Writes the next bytes.size() / 2 complex samples as I, Q byte pairs (bytes.size() even).
  void generate(std::span<std::uint8_t> bytes);

  // Two independent standard Gaussian values from `rng` (the polar method).
  static double gaussian_pair(std::mt19937_64& rng, double& second);

 private:
  // A tone's phase in fixed point: 2^64 is one turn, so that it advances by exact integer
  // additions and wraps by itself. The step (turns per sample) itself grows by `step_change`
  // every sample for a drifting tone.
  struct Rotor {
    std::uint64_t phase;
    std::uint64_t step;
    std::uint64_t step_change;
    double amplitude;
  };

  SkySettings settings_;
  std::int64_t sky_index_;  // time index on the sky of the next sample
  std::mt19937_64 sky_rng_;
  std::mt19937_64 preroll_rng_;  // sky noise before the sky's sample 0 (delayed receivers)
  std::mt19937_64 receiver_rng_;
  std::vector<Rotor> rotors_;
  double samples_per_period_ = 0.0;
  double pulse_gain_ = 1.0;
  std::optional<DispersedPulse> dispersed_;
  // The passband: out = gain·(in[n] + i·echo·in[n − cycles]); history_ holds the last
  // `cycles` inputs (silence before the first sample).
  double echo_ = 0.0;
  double passband_gain_ = 1.0;
  std::vector<double> history_i_;
  std::vector<double> history_q_;
  std::size_t history_at_ = 0;
};

}  // namespace iq
