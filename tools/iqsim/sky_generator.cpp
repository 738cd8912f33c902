// Synthetic receiver output.
#include "sky_generator.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace iq {

namespace {

std::uint8_t quantise(double value) {
  // The converter's zero level lies half-way between 127 and 128: floor(128 + x) - 127.5 is
  // within half a step of x and unbiased.
  const double level = std::floor(128.0 + value);
  return static_cast<std::uint8_t>(std::clamp(level, 0.0, 255.0));
}

extended fraction(extended turns) { return turns - floor_ext(turns); }

}  // namespace

SkyGenerator::SkyGenerator(const SkySettings& settings)
    : settings_(settings),
      sky_index_(-settings.delay),
      sky_rng_(settings.seed),
      preroll_rng_(settings.seed ^ 0x9e3779b97f4a7c15ULL),
      receiver_rng_(settings.receiver_seed * 0x2545f4914f6cdd1dULL + 7) {
  const extended rate_hz = static_cast<extended>(settings.rate_mhz) * widen(1e6);
  for (const Tone& tone : settings.tones) {
    const extended step = static_cast<extended>(tone.offset_hz) / rate_hz;
    rotors_.push_back({fraction(step * static_cast<extended>(sky_index_)), step, tone.amplitude});
  }
  if (settings.pulse.period_ms > 0.0) {
    samples_per_period_ = settings.pulse.period_ms * 1e-3 * settings.rate_mhz * 1e6;
    pulse_gain_ = std::sqrt(1.0 + settings.pulse.strength);
  }
  // A receiver that sees the sky early starts inside the sky's sequence.
  for (std::int64_t k = 0; k < sky_index_; ++k) {
    double unused;
    gaussian_pair(sky_rng_, unused);
  }
}

double SkyGenerator::gaussian_pair(std::mt19937_64& rng, double& second) {
  // Box-Muller from two uniform values in (0, 1].
  const double u1 = (static_cast<double>(rng() >> 11) + 1.0) * 0x1.0p-53;
  const double u2 = static_cast<double>(rng() >> 11) * 0x1.0p-53;
  const double radius = std::sqrt(-2.0 * std::log(u1));
  const double angle = 2.0 * std::numbers::pi * u2;
  second = radius * std::sin(angle);
  return radius * std::cos(angle);
}

void SkyGenerator::generate(std::span<std::uint8_t> bytes) {
  for (std::size_t b = 0; b + 1 < bytes.size(); b += 2) {
    double q = 0.0;
    double i = gaussian_pair(sky_index_ < 0 ? preroll_rng_ : sky_rng_, q);
    double gain = settings_.noise;
    if (samples_per_period_ > 0.0) {
      const double phase = std::fmod(static_cast<double>(sky_index_) / samples_per_period_ -
                                         settings_.pulse.phase, 1.0);
      const double wrapped = phase < 0.0 ? phase + 1.0 : phase;
      if (wrapped < settings_.pulse.duty) gain *= pulse_gain_;
    }
    i *= gain;
    q *= gain;
    for (Rotor& rotor : rotors_) {
      const double angle = 2.0 * std::numbers::pi * static_cast<double>(rotor.phase);
      i += rotor.amplitude * std::cos(angle);
      q += rotor.amplitude * std::sin(angle);
      rotor.phase = fraction(rotor.phase + rotor.step);
    }
    if (settings_.receiver_noise > 0.0) {
      double rq = 0.0;
      const double ri = gaussian_pair(receiver_rng_, rq);
      i += settings_.receiver_noise * ri;
      q += settings_.receiver_noise * rq;
    }
    bytes[b] = quantise(i);
    bytes[b + 1] = quantise(q);
    ++sky_index_;
  }
}

}  // namespace iq
