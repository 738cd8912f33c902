// Synthetic receiver output: what an 8-bit I/Q converter would record of broadband noise with
// optional tones and a periodic pulse, as one of possibly several receivers of the same sky.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "arith/precision.hpp"

namespace iq {

struct Tone {
  double offset_hz = 0.0;   // frequency offset from the tuning centre; positive rotates I to Q
  double amplitude = 20.0;  // peak amplitude in converter steps
};

struct Pulse {
  double period_ms = 0.0;   // 0: no pulse
  double duty = 0.1;        // fraction of the period the pulse is on (0 < duty <= 1)
  double strength = 1.0;    // extra noise power while on, relative to the sky noise power
  double phase = 0.0;       // start of the pulse within the period, as a fraction (0 <= phase < 1)
};

struct SkySettings {
  double rate_mhz = 2.4;        // complex sample rate
  std::uint64_t seed = 1;       // the sky's random sequence
  double noise = 10.0;          // sky noise standard deviation per component, converter steps
  std::vector<Tone> tones;
  Pulse pulse;
  std::int64_t delay = 0;       // samples by which this receiver sees the sky later
  double receiver_noise = 0.0;  // this receiver's own noise, standard deviation in steps
  std::uint64_t receiver_seed = 2;
};

// Deterministic for given settings; generates the capture in consecutive chunks of any size.
class SkyGenerator {
 public:
  explicit SkyGenerator(const SkySettings& settings);

  // Writes the next bytes.size() / 2 complex samples as I, Q byte pairs (bytes.size() even).
  void generate(std::span<std::uint8_t> bytes);

 private:
  struct Rotor {
    extended phase;  // turns, in [0, 1)
    extended step;   // turns per sample
    double amplitude;
  };
  double gaussian_pair(std::mt19937_64& rng, double& second);

  SkySettings settings_;
  std::int64_t sky_index_;   // time index on the sky of the next sample
  std::mt19937_64 sky_rng_;
  std::mt19937_64 preroll_rng_;    // sky noise before the sky's sample 0 (delayed receivers)
  std::mt19937_64 receiver_rng_;
  std::vector<Rotor> rotors_;
  double samples_per_period_ = 0.0;
  double pulse_gain_ = 1.0;
};

}  // namespace iq
