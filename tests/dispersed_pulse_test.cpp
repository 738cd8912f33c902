// SPDX-License-Identifier: MIT
// iqsim's dispersed pulse: its power, its independence of chunks and receivers' delays, and a
// capture in which cyclesearch finds the DM that was put in.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cyclesearch.hpp"
#include "iqsim.hpp"
#include "sky_generator.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

SkySettings dispersed_sky(double dm) {
  SkySettings sky;
  sky.seed = 9;
  sky.pulse = {.period_ms = 1.0, .duty = 0.5, .strength = 3.0, .phase = 0.25, .dm = dm, .centre_mhz = 430.0};
  return sky;
}

std::vector<std::uint8_t> generate(const SkySettings& sky, std::size_t samples) {
  std::vector<std::uint8_t> bytes(2 * samples);
  SkyGenerator(sky).generate(bytes);
  return bytes;
}

TEST(DispersedPulse, AddsItsStrengthOfNoisePowerWhileOn) {
  // Undispersed: the whole band on from phase 0.25 to 0.75 of each 2400-sample period.
  const std::vector<std::uint8_t> bytes = generate(dispersed_sky(0.0), 240000);
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

TEST(DispersedPulse, IsTheSameSkyWhateverTheChunksAndDelay) {
  const SkySettings sky = dispersed_sky(500.0);
  const std::vector<std::uint8_t> whole = generate(sky, 20000);
  std::vector<std::uint8_t> chunked(whole.size());
  SkyGenerator parts(sky);
  parts.generate(std::span(chunked).first(2 * 77));
  parts.generate(std::span(chunked).subspan(2 * 77));
  EXPECT_EQ(chunked, whole);
  for (const std::int64_t delay : {1000, -333}) {
    SkySettings other = sky;
    other.delay = delay;
    const std::vector<std::uint8_t> seen = generate(other, 20000);
    const std::size_t from = static_cast<std::size_t>(std::max<std::int64_t>(0, delay));
    const std::size_t to = 20000 - static_cast<std::size_t>(std::max<std::int64_t>(0, -delay));
    for (std::size_t n = from; n < to; ++n) {
      ASSERT_EQ(seen[2 * n], whole[2 * (n - delay)]) << delay << " " << n;
      ASSERT_EQ(seen[2 * n + 1], whole[2 * (n - delay) + 1]) << delay << " " << n;
    }
  }
}

TEST(DispersedPulse, CyclesearchFindsTheDmPutIn) {
  // PSR B0329+54's DM at 430 MHz: 6.7 ms across the 2.4 MHz band, a fifth of the period.
  test::ScratchDir dir;
  const std::string capture = dir.path("psr.bin");
  ASSERT_EQ(
      run_tool(run_iqsim, {capture, "-t", "2", "--seed", "3", "--pulse-period", "33.7", "--pulse-duty", "0.05",
                           "--pulse-dm", "26.8", "--centre", "430", "--start", "2026-12-07T00:00:00Z"})
          .status,
      0);
  const auto result = run_tool(run_cyclesearch, {capture, dir.path("t.txt"), "2.4", "64", "33.7", "0.001", "1",
                                                 "--channels", "64", "--dm", "0:60:4"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto figure = [&](const std::string& key) {
    return std::strtod(result.out.c_str() + result.out.find(key) + key.size(), nullptr);
  };
  EXPECT_NEAR(figure("Best DM="), 26.8, 4.0);
  EXPECT_GT(figure("pc cm^-3   chi2="), 1.5 * figure("(at DM 0.0000: chi2="));
}

}  // namespace
}  // namespace iq
