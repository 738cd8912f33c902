// SPDX-License-Identifier: MIT
// iqsim's sky: the same bytes whatever the chunking, a delayed receiver that repeats the sky, and
// a pulse (dispersed or not) adding its strength of noise power while on. These hold whatever
// generator makes the noise.
#include <algorithm>

#include "sky_generator.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

std::vector<std::uint8_t> sky(const SkySettings& settings, std::size_t samples) {
  std::vector<std::uint8_t> capture(2 * samples);
  SkyGenerator(settings).generate(capture);
  return capture;
}

SkySettings pulsed_sky(double dm) {
  SkySettings settings;
  settings.seed = 9;
  settings.pulse = {.period_ms = 1.0, .duty = 0.5, .strength = 3.0, .phase = 0.25, .dm = dm, .centre_mhz = 430.0};
  return settings;
}

// A sky of tones and an undispersed pulse, and one of a pulse dispersed at DM 500.
TEST(IqsimTest, SameSkyWhateverTheChunkingAndDelayed) {
  SkySettings tones = pulsed_sky(0.0);
  tones.tones = {{1000.0, 15.0}, {-3000.0, 10.0}};
  tones.pulse.period_ms = 0.01;
  for (const SkySettings& settings : {tones, pulsed_sky(500.0)}) {
    const std::vector<std::uint8_t> whole = sky(settings, 10000);
    SkyGenerator pieces(settings);
    std::vector<std::uint8_t> joined;
    for (const std::size_t size : {2u, 154u, 998u, 7000u, 11846u}) {
      std::vector<std::uint8_t> piece(size);
      pieces.generate(piece);
      joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(joined, whole) << settings.pulse.dm;
    SkySettings other_seed = settings;
    other_seed.seed = 2;
    EXPECT_NE(sky(other_seed, 10000), whole);
    // A receiver that sees the sky later, or early (a negative delay).
    for (const std::int64_t delay : {37, 1000, -5, -333}) {
      SkySettings delayed = settings;
      delayed.delay = delay;
      const std::vector<std::uint8_t> seen = sky(delayed, 10000);
      const auto shift = static_cast<std::size_t>(2 * std::abs(delay));
      EXPECT_TRUE(delay > 0 ? std::equal(whole.begin(), whole.end() - shift, seen.begin() + shift)
                            : std::equal(whole.begin() + shift, whole.end(), seen.begin()))
          << settings.pulse.dm << " " << delay;
      EXPECT_FALSE(std::equal(whole.begin(), whole.begin() + 74, seen.begin())) << delay;
    }
  }
}

TEST(IqsimTest, PulseAddsItsStrengthOfNoisePowerWhileOn) {
  // Undispersed: the whole band on from phase 0.25 to 0.75 of each 2400-sample period.
  const std::vector<std::uint8_t> bytes = sky(pulsed_sky(0.0), 240000);
  double on = 0.0, off = 0.0;
  for (std::size_t n = 0; n < bytes.size() / 2; ++n) {
    const double i = bytes[2 * n] - 127.5, q = bytes[2 * n + 1] - 127.5;
    const std::size_t at = n % 2400;
    ((at >= 600 && at < 1800) ? on : off) += i * i + q * q;
  }
  // 2 x 10^2 of sky noise, 3 times that more while on (and 2/12 of quantisation).
  EXPECT_NEAR(on / 120000.0, 800.17, 16.0);
  EXPECT_NEAR(off / 120000.0, 200.17, 4.0);
}

}  // namespace
}  // namespace iq
