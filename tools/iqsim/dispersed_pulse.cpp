// SPDX-License-Identifier: MIT
// The dispersed pulse's narrowband components, the same bytes on every processor.
#include "dispersed_pulse.hpp"

#include <cmath>

#include "dsp/dispersion.hpp"
#include "sky_generator.hpp"

namespace iq {

namespace {

// SplitMix64's finaliser: a well-mixed 64-bit value of its argument.
std::uint64_t mix(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace

DispersedPulse::DispersedPulse(const Pulse& pulse, double rate_mhz, double noise, std::uint64_t seed)
    : samples_per_period_(pulse.period_ms * 1e-3 * rate_mhz * 1e6),
      phase_(pulse.phase),
      duty_(pulse.duty),
      amplitude_(noise * std::sqrt(pulse.strength / kComponents)),
      seed_(mix(seed ^ 0x5bd1e9955bd1e995ULL)) {
  const double highest_mhz = pulse.centre_mhz + rate_mhz / 2.0;
  for (int k = 0; k < kComponents; ++k) {
    // Component k lies (2k + 1 - K) / 2K of the rate from the centre.
    halves_[k] = 2 * k + 1 - kComponents;
    const double f_mhz = pulse.centre_mhz + rate_mhz * static_cast<double>(halves_[k]) / (2.0 * kComponents);
    const double lag = dispersion_delay_s(pulse.dm, f_mhz, highest_mhz) * rate_mhz * 1e6 / samples_per_period_;
    lag_periods_[k] = lag - std::floor(lag);
  }
  for (int m = 0; m < 2 * kComponents; ++m) {
    sin_cos_turns(static_cast<std::uint64_t>(m) * ((std::uint64_t{1} << 63) / kComponents), sine_[m], cosine_[m]);
  }
}

DispersedPulse::Held DispersedPulse::held_value(int component, std::int64_t block) const {
  const std::uint64_t key = mix(seed_ + static_cast<std::uint64_t>(block) * 0x9e3779b97f4a7c15ULL) +
                            static_cast<std::uint64_t>(component);
  const std::uint64_t a = mix(key), b = mix(key ^ 0xd6e8feb86659fd93ULL);
  // Box and Muller: a radius from a uniform in (0, 1], an angle from 64 uniform bits.
  const double u = static_cast<double>((a >> 11) + 1) * 0x1.0p-53;
  const double radius = std::sqrt(-2.0 * portable_log(u));
  double sine = 0.0, cosine = 0.0;
  sin_cos_turns(b, sine, cosine);
  return {block, radius * cosine, radius * sine};
}

void DispersedPulse::add(std::int64_t n, double& i, double& q) {
  const double at = std::fmod(static_cast<double>(n) / samples_per_period_ - phase_, 1.0);
  const double wrapped = at < 0.0 ? at + 1.0 : at;
  const std::int64_t block = n >= 0 ? n / kComponents : -((-n + kComponents - 1) / kComponents);
  for (int k = 0; k < kComponents; ++k) {
    // Where this frequency is in its own, later, period.
    double own = wrapped - lag_periods_[k];
    if (own < 0.0) own += 1.0;
    if (!(own < duty_)) continue;
    Held& held = held_[k];
    if (held.block != block) held = held_value(k, block);
    const auto turn = static_cast<std::size_t>(
        (static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(halves_[k])) & (2 * kComponents - 1));
    i += amplitude_ * (held.re * cosine_[turn] - held.im * sine_[turn]);
    q += amplitude_ * (held.re * sine_[turn] + held.im * cosine_[turn]);
  }
}

}  // namespace iq
