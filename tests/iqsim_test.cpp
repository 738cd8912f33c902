// SPDX-License-Identifier: MIT
// iqsim's sky: the same bytes whatever the chunking, a delayed receiver that repeats the sky,
// and pulses during their duty cycle. These hold whatever generator
// makes the noise.
#include <cmath>
#include <complex>

#include "sky_generator.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

std::vector<std::uint8_t> sky(const SkySettings& settings, std::size_t bytes) {
  std::vector<std::uint8_t> capture(bytes);
  SkyGenerator(settings).generate(capture);
  return capture;
}

TEST(IqsimTest, SameSkyWhateverTheChunking) {
  SkySettings settings;
  settings.tones.push_back({1000.0, 15.0});
  settings.pulse.period_ms = 0.01;
  SkyGenerator pieces(settings);
  std::vector<std::uint8_t> joined;
  for (std::size_t size : {2u, 998u, 7000u, 12000u}) {
    std::vector<std::uint8_t> piece(size);
    pieces.generate(piece);
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, sky(settings, 20000));
  settings.seed = 2;
  EXPECT_NE(sky(settings, 20000), joined);
}

TEST(IqsimTest, ADelayedReceiverRepeatsTheSky) {
  SkySettings first;
  first.tones.push_back({-3000.0, 10.0});
  SkySettings second = first;
  second.delay = 37;
  const auto a = sky(first, 8000), b = sky(second, 8000);
  EXPECT_TRUE(std::equal(a.begin(), a.end() - 74, b.begin() + 74));
  EXPECT_FALSE(std::equal(a.begin(), a.begin() + 74, b.begin()));
  second.delay = -5;  // a receiver that sees the sky early
  const auto c = sky(second, 8000);
  EXPECT_TRUE(std::equal(a.begin() + 10, a.end(), c.begin()));
}

TEST(IqsimTest, PulseRaisesThePowerDuringItsDutyCycle) {
  // 1 MHz: a pulse of 1 ms (1000 samples) is on from sample 500 to 749 of each period.
  SkySettings settings;
  settings.rate_mhz = 1.0;
  settings.pulse = {1.0, 0.25, 8.0, 0.5};
  const auto pulsed = sky(settings, 2 * 100000);
  std::vector<double> power(4, 0.0);
  for (std::size_t s = 0; s < pulsed.size() / 2; ++s) {
    power[(s % 1000) / 250] += std::norm(std::complex<double>(pulsed[2 * s] - 127.5, pulsed[2 * s + 1] - 127.5));
  }
  EXPECT_GT(power[2], 6 * power[0]);
  EXPECT_NEAR(power[1] / power[0], 1.0, 0.1);
  EXPECT_NEAR(power[3] / power[0], 1.0, 0.1);
}

}  // namespace
}  // namespace iq
