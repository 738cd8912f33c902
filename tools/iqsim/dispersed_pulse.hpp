// SPDX-License-Identifier: MIT
// A periodic pulse of extra noise power dispersed by the cold plasma between the pulsar and the
// receiver: each frequency across the band receives the pulse at its own, later, time.
//
// The pulse is the sum of kComponents narrowband noise components evenly spaced across the band,
// each switched on and off by the pulse's window delayed by the dispersion at its frequency
// relative to the band's highest frequency. A component is a complex Gaussian value held for
// kComponents samples (a band one component spacing wide) and turned to its frequency; the value
// comes from a hash of the seed, the component and the hold's index, so that the bytes depend on
// neither the chunking nor a receiver's delay, and memory stays fixed.
#pragma once

#include <array>
#include <cstdint>
#include <climits>

namespace iq {

struct Pulse;

class DispersedPulse {
 public:
  static constexpr int kComponents = 64;

  // The pulse of `pulse` (its period above 0) at `pulse.dm`, in a band of `rate_mhz` around
  // `pulse.centre_mhz` (whose lower edge lies above 0), of `noise` steps per component.
  DispersedPulse(const Pulse& pulse, double rate_mhz, double noise, std::uint64_t seed);

  // Adds the pulse's value at sky sample `n` to (i, q).
  void add(std::int64_t n, double& i, double& q);

 private:
  struct Held {
    std::int64_t block = INT64_MIN;  // the hold these values are for
    double re = 0.0, im = 0.0;
  };

  // The component's complex Gaussian value of unit variance per part, for the hold of `block`.
  Held held_value(int component, std::int64_t block) const;

  double samples_per_period_;
  double phase_;
  double duty_;
  double amplitude_;  // per component and part, steps
  std::uint64_t seed_;
  std::array<double, kComponents> lag_periods_{};  // the component's delay in periods, in [0, 1)
  std::array<int, kComponents> halves_{};          // its frequency, in half component spacings from the centre
  // e^(2 pi i m / 2K): component k at sample n turns by (n halves_k mod 2K) of these.
  std::array<double, 2 * kComponents> sine_{}, cosine_{};
  std::array<Held, kComponents> held_{};
};

}  // namespace iq
