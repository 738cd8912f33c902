// SPDX-License-Identifier: MIT
// Synthetic receiver output, the same bytes on every processor.
#include "sky_generator.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

namespace iq {

namespace {

std::uint8_t quantise(double value) {
  // The converter's zero level lies half-way between 127 and 128: floor(128 + x) - 127.5 is
  // within half a step of x and unbiased. floor is exact, so this is the same everywhere.
  const double level = std::floor(128.0 + value);
  return static_cast<std::uint8_t>(std::clamp(level, 0.0, 255.0));
}

// `turns` (any sign) as a fixed-point fraction of a turn, 2^64 to the turn, wrapped into one
// turn. The magnitude is converted before the sign is applied, so that a small negative
// value keeps its full relative precision (1 - |x| would lose it).
std::uint64_t fixed_turns(double turns) {
  double magnitude = std::fabs(turns);
  magnitude -= std::floor(magnitude);  // exact: [0, 1)
  // magnitude <= 1 - 2^-53, so the scaled value is below 2^64; the conversion truncates.
  const auto fixed = static_cast<std::uint64_t>(magnitude * 0x1.0p64);
  return turns < 0.0 ? std::uint64_t{0} - fixed : fixed;
}

// A uniform value in [-1, 1) on the grid of 2^-52: every step below is exact.
double uniform_symmetric(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-52 - 1.0; }

// Taylor coefficients, each one correctly rounded division of the previous (the compiler's
// constant arithmetic is IEEE double like the processor's).
constexpr double kSin3 = -1.0 / 6.0;
constexpr double kSin5 = kSin3 / -20.0;
constexpr double kSin7 = kSin5 / -42.0;
constexpr double kSin9 = kSin7 / -72.0;
constexpr double kSin11 = kSin9 / -110.0;
constexpr double kSin13 = kSin11 / -156.0;
constexpr double kSin15 = kSin13 / -210.0;
constexpr double kSin17 = kSin15 / -272.0;
constexpr double kCos2 = -1.0 / 2.0;
constexpr double kCos4 = kCos2 / -12.0;
constexpr double kCos6 = kCos4 / -30.0;
constexpr double kCos8 = kCos6 / -56.0;
constexpr double kCos10 = kCos8 / -90.0;
constexpr double kCos12 = kCos10 / -132.0;
constexpr double kCos14 = kCos12 / -182.0;
constexpr double kCos16 = kCos14 / -240.0;
constexpr double kHalfPi = 1.5707963267948966;  // π/2 rounded to double

}  // namespace

void sin_cos_turns(std::uint64_t turns, double& sine, double& cosine) {
  // Quadrant from the top two bits; within it, reflect about its middle so that the angle x
  // lies in [0, π/4], where the Taylor series to x^17 / x^16 are within 5e-17.
  const unsigned quadrant = static_cast<unsigned>(turns >> 62);
  std::uint64_t within = turns & ((std::uint64_t{1} << 62) - 1);
  const bool reflect = within > (std::uint64_t{1} << 61);
  if (reflect) within = (std::uint64_t{1} << 62) - within;
  // within <= 2^61: its top 53 bits convert exactly; the fraction of a quarter turn is exact.
  const double quarter = static_cast<double>(within >> 9) * 0x1.0p-53;
  const double x = quarter * kHalfPi;
  const double x2 = x * x;
  const double s_poly =
      kSin3 +
      x2 * (kSin5 + x2 * (kSin7 + x2 * (kSin9 + x2 * (kSin11 + x2 * (kSin13 + x2 * (kSin15 + x2 * kSin17))))));
  const double c_poly =
      kCos4 + x2 * (kCos6 + x2 * (kCos8 + x2 * (kCos10 + x2 * (kCos12 + x2 * (kCos14 + x2 * kCos16)))));
  double s = x + x * (x2 * s_poly);
  double c = 1.0 + x2 * (kCos2 + x2 * c_poly);
  if (reflect) std::swap(s, c);
  switch (quadrant) {
    case 0:
      sine = s;
      cosine = c;
      break;
    case 1:
      sine = c;
      cosine = -s;
      break;
    case 2:
      sine = -s;
      cosine = -c;
      break;
    default:
      sine = -c;
      cosine = s;
      break;
  }
}

double portable_log(double x) {
  // x = m·2^e with m in [√2/2, √2]; log m = 2·atanh(t), t = (m − 1)/(m + 1), |t| <= 0.1716,
  // whose odd series to t^21 is within 1e-17; ln 2 in two parts so that e·ln2_hi is exact.
  constexpr double kLn2Hi = 6.93147180369123816490e-01;  // 32 trailing zero bits
  constexpr double kLn2Lo = 1.90821492927058770002e-10;
  constexpr double kSqrt2 = 1.4142135623730951;
  const auto bits = std::bit_cast<std::uint64_t>(x);
  int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  double m = std::bit_cast<double>((bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{0x3ff} << 52));
  if (m > kSqrt2) {
    m *= 0.5;
    ++exponent;
  }
  const double t = (m - 1.0) / (m + 1.0);  // m − 1 is exact (Sterbenz)
  const double t2 = t * t;
  const double series =
      t2 *
      (1.0 / 3 +
       t2 * (1.0 / 5 +
             t2 * (1.0 / 7 +
                   t2 * (1.0 / 9 +
                         t2 * (1.0 / 11 +
                               t2 * (1.0 / 13 +
                                     t2 * (1.0 / 15 + t2 * (1.0 / 17 + t2 * (1.0 / 19 + t2 * (1.0 / 21))))))))));
  const double e = static_cast<double>(exponent);
  return e * kLn2Hi + ((e * kLn2Lo + 2.0 * t * series) + 2.0 * t);
}

double SkyGenerator::gaussian_pair(std::mt19937_64& rng, double& second) {
  // Marsaglia's polar method: a point uniform in the unit disc, scaled by
  // sqrt(-2 ln s / s). It needs only a logarithm (computed here), no sine or cosine.
  double v1 = 0.0;
  double v2 = 0.0;
  double s = 0.0;
  do {
    v1 = uniform_symmetric(rng);
    v2 = uniform_symmetric(rng);
    s = v1 * v1 + v2 * v2;
  } while (s >= 1.0 || s == 0.0);
  const double factor = std::sqrt(-2.0 * portable_log(s) / s);
  second = v2 * factor;
  return v1 * factor;
}

SkyGenerator::SkyGenerator(const SkySettings& settings)
    : settings_(settings),
      sky_index_(-settings.delay),
      sky_rng_(settings.seed),
      preroll_rng_(settings.seed ^ 0x9e3779b97f4a7c15ULL),
      receiver_rng_(settings.receiver_seed * 0x2545f4914f6cdd1dULL + 7) {
  const double rate_hz = settings.rate_mhz * 1e6;
  // The tone's phase at sky sample n is n·step + n(n−1)/2·change turns (mod one turn), so
  // that its frequency between samples n and n + 1 is offset + drift·n/rate. Unsigned
  // arithmetic wraps modulo 2^64, exactly one turn; |n| < 2^31 keeps n(n−1)/2 in range.
  const std::int64_t n = sky_index_;
  const std::int64_t triangle = n % 2 == 0 ? (n / 2) * (n - 1) : n * ((n - 1) / 2);
  for (const Tone& tone : settings.tones) {
    const std::uint64_t step = fixed_turns(tone.offset_hz / rate_hz);
    const std::uint64_t change = fixed_turns(tone.drift_hz_per_s / rate_hz / rate_hz);
    rotors_.push_back({static_cast<std::uint64_t>(n) * step + static_cast<std::uint64_t>(triangle) * change,
                       step + static_cast<std::uint64_t>(n) * change, change, tone.amplitude});
  }
  if (settings.pulse.period_ms > 0.0 && settings.pulse.dm >= 0.0) {
    dispersed_.emplace(settings.pulse, settings.rate_mhz, settings.noise, settings.seed);
  } else if (settings.pulse.period_ms > 0.0) {
    samples_per_period_ = settings.pulse.period_ms * 1e-3 * settings.rate_mhz * 1e6;
    pulse_gain_ = std::sqrt(1.0 + settings.pulse.strength);
  }
  if (settings.passband.depth > 0.0) {
    // depth = 4ε/(1 + ε²), solved for the root below 1 without cancellation.
    const double depth = settings.passband.depth;
    echo_ = depth / (2.0 + std::sqrt(4.0 - depth * depth));
    passband_gain_ = 1.0 / std::sqrt(1.0 + echo_ * echo_);
    history_i_.assign(static_cast<std::size_t>(settings.passband.cycles), 0.0);
    history_q_.assign(static_cast<std::size_t>(settings.passband.cycles), 0.0);
  }
  // A receiver that sees the sky early starts inside the sky's sequence.
  for (std::int64_t k = 0; k < sky_index_; ++k) {
    double unused;
    gaussian_pair(sky_rng_, unused);
  }
}

void SkyGenerator::generate(std::span<std::uint8_t> bytes) {
  for (std::size_t b = 0; b + 1 < bytes.size(); b += 2) {
    double q = 0.0;
    double i = gaussian_pair(sky_index_ < 0 ? preroll_rng_ : sky_rng_, q);
    double gain = settings_.noise;
    if (samples_per_period_ > 0.0) {
      const double phase =
          std::fmod(static_cast<double>(sky_index_) / samples_per_period_ - settings_.pulse.phase, 1.0);
      const double wrapped = phase < 0.0 ? phase + 1.0 : phase;
      if (wrapped < settings_.pulse.duty) gain *= pulse_gain_;
    }
    i *= gain;
    q *= gain;
    if (dispersed_) dispersed_->add(sky_index_, i, q);
    for (Rotor& rotor : rotors_) {
      double sine = 0.0;
      double cosine = 0.0;
      sin_cos_turns(rotor.phase, sine, cosine);
      i += rotor.amplitude * cosine;
      q += rotor.amplitude * sine;
      rotor.phase += rotor.step;
      rotor.step += rotor.step_change;
    }
    if (settings_.receiver_noise > 0.0) {
      double rq = 0.0;
      const double ri = gaussian_pair(receiver_rng_, rq);
      i += settings_.receiver_noise * ri;
      q += settings_.receiver_noise * rq;
    }
    if (echo_ > 0.0) {
      // out = gain·(in[n] + i·echo·in[n − cycles])
      const double earlier_i = history_i_[history_at_];
      const double earlier_q = history_q_[history_at_];
      history_i_[history_at_] = i;
      history_q_[history_at_] = q;
      if (++history_at_ == history_i_.size()) history_at_ = 0;
      i = passband_gain_ * (i - echo_ * earlier_q);
      q = passband_gain_ * (q + echo_ * earlier_i);
    }
    bytes[b] = quantise(i);
    bytes[b + 1] = quantise(q);
    ++sky_index_;
  }
}

}  // namespace iq
