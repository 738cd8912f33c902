// SPDX-License-Identifier: MIT
// iqsim's sky: its own logarithm, sine and cosine, Gaussian noise, drifting tones and the
// receiver's passband (the golden corpus holds whole captures, the same bytes on every processor).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <ctime>
#include <numbers>

#include "io/capture_metadata.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "sky_generator.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

// Its own logarithm, sine and cosine against the library's: within 2 units in the last place, and
// within 3e-16 of the sine and cosine of the angle reduced by whole quarter turns.
TEST(SkyGenerator, LogarithmSineAndCosineAgreeWithTheLibrary) {
  const auto ulps = [](double x) { return std::nextafter(std::fabs(x), INFINITY) - std::fabs(x); };
  const std::complex<double> quarter_turns[4] = {{1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.0, -1.0}};
  // Turns tried first: every quadrant's edges and middle (none, a quarter and half a turn exactly).
  const std::uint64_t edges[] = {
      0, 1, std::uint64_t{1} << 61, (std::uint64_t{1} << 61) + 1, (std::uint64_t{1} << 62) - 1, 0x123456789abcdef};
  for (const double x : {0x1.0p-1022, 0x1.fffffffffffffp1023, 1.4142135623730951, 0.999999999, 1.000000001}) {
    EXPECT_LE(std::fabs(portable_log(x) - std::log(x)), 2 * ulps(std::log(x))) << x;
  }
  std::mt19937_64 rng(5);
  for (int k = 0; k < 200000; ++k) {
    // Uniform in (0, 1), as the polar method uses it, and spread over all exponents.
    const double unit = (static_cast<double>(rng() >> 11) + 0.5) * 0x1.0p-53;
    for (const double x : {unit, std::ldexp(1.0 + unit, static_cast<int>(rng() % 2000) - 1000)}) {
      ASSERT_LE(std::fabs(portable_log(x) - std::log(x)), 2 * ulps(std::log(x))) << x;
    }
    const std::uint64_t turns = k < 24 ? (static_cast<std::uint64_t>(k / 6) << 62) + edges[k % 6] : rng();
    const double tolerance = k < 18 && k % 6 == 0 ? 0.0 : 3e-16;
    const std::uint64_t quarters = (turns + (std::uint64_t{1} << 61)) >> 62;
    const double rest = static_cast<double>(static_cast<std::int64_t>(turns - (quarters << 62))) * 0x1.0p-62;
    const std::complex<double> want = std::polar(1.0, std::numbers::pi / 2 * rest) * quarter_turns[quarters % 4];
    double sine = 0.0, cosine = 0.0;
    sin_cos_turns(turns, sine, cosine);
    ASSERT_NEAR(sine, want.imag(), tolerance) << turns;
    ASSERT_NEAR(cosine, want.real(), tolerance) << turns;
  }
  EXPECT_EQ(portable_log(1.0), 0.0);
}

TEST(SkyGenerator, GaussianValuesHaveTheNormalMomentsAndTails) {
  std::mt19937_64 rng(7);
  constexpr int kPairs = 500000;
  double sum = 0.0, squares = 0.0, fourth = 0.0, cross = 0.0;
  int beyond_one = 0, beyond_three = 0;
  for (int k = 0; k < kPairs; ++k) {
    double second = 0.0;
    const double first = SkyGenerator::gaussian_pair(rng, second);
    cross += first * second;
    for (double x : {first, second}) {
      sum += x;
      squares += x * x;
      fourth += x * x * x * x;
      beyond_one += std::fabs(x) > 1.0;
      beyond_three += std::fabs(x) > 3.0;
    }
  }
  const double n = 2.0 * kPairs;
  EXPECT_NEAR(sum / n, 0.0, 0.005);
  EXPECT_NEAR(squares / n, 1.0, 0.006);
  EXPECT_NEAR(fourth / n, 3.0, 0.05);
  EXPECT_NEAR(cross / kPairs, 0.0, 0.006);
  EXPECT_NEAR(beyond_one / n, 0.31731, 0.002);
  EXPECT_NEAR(beyond_three / n, 0.0026998, 0.0003);
}

// The frequency of a clean tone between samples, from the phase step averaged over `count`
// samples from `first`.
double measured_frequency_hz(const std::vector<std::uint8_t>& bytes, std::size_t first, std::size_t count,
                             double rate_hz) {
  std::complex<double> sum = 0.0;
  for (std::size_t n = first; n < first + count; ++n) {
    const std::complex<double> a(bytes[2 * n] - 127.5, bytes[2 * n + 1] - 127.5);
    const std::complex<double> b(bytes[2 * n + 2] - 127.5, bytes[2 * n + 3] - 127.5);
    sum += b * std::conj(a);
  }
  return std::arg(sum) / (2.0 * std::numbers::pi) * rate_hz;
}

TEST(SkyGenerator, ToneDriftsLinearlyAtItsRate) {
  const struct {
    double offset_hz;
    double drift_hz_per_s;
    std::int64_t delay;
  } cases[] = {{10000.0, 0.0, 0},    {10000.0, 2e6, 0},     {-50000.0, -3e6, 0},
               {20000.0, 1e6, 5000}, {20000.0, 1e6, -5000}, {1.2e6 - 1000.0, 1e6, 0}};
  for (const auto& c : cases) {
    SkySettings settings;
    settings.rate_mhz = 2.4;
    settings.noise = 0.0;
    settings.tones = {{c.offset_hz, 100.0, c.drift_hz_per_s}};
    settings.delay = c.delay;
    std::vector<std::uint8_t> bytes(2 * 240001);
    SkyGenerator(settings).generate(bytes);
    for (std::size_t at : {std::size_t{0}, std::size_t{120000}, std::size_t{239000}}) {
      // At the middle of the measured block, seen at sky time (at − delay) / rate.
      const double t = (static_cast<double>(at) + 500.0 - static_cast<double>(c.delay)) / 2.4e6;
      double expected = c.offset_hz + c.drift_hz_per_s * t;
      expected -= 2.4e6 * std::round(expected / 2.4e6);  // aliased into the band
      EXPECT_NEAR(measured_frequency_hz(bytes, at, 1000, 2.4e6), expected, 5.0)
          << c.offset_hz << " " << c.drift_hz_per_s << " " << c.delay << " at " << at;
    }
  }
}

// Mean power per bin of a capture, averaged over `width` bins around `bin`.
double band_power(const std::vector<std::string>& spectrum, int bin, int width) {
  double sum = 0.0;
  const int points = static_cast<int>(spectrum.size());
  for (int k = bin - width / 2; k < bin - width / 2 + width; ++k) {
    const std::string& line = spectrum[static_cast<std::size_t>(k + points / 2)];
    sum += std::stod(line.substr(line.find_first_of(" \t")));
  }
  return sum / width;
}

TEST(SkyGenerator, PassbandShapesTheNoiseAndKeepsItsMeanPower) {
  // depth D = 4ε/(1 + ε²); the power at the ripple's peak over its trough is ((1 + ε)/(1 − ε))².
  const struct {
    const char* passband;
    int high_bin;  // where the gain peaks (of 1024 bins)
    int low_bin;   // where it has its trough
    double ratio;
  } cases[] = {
      {"50", 256, -256, 1.6667},   {"50,1", 256, -256, 1.6667}, {"20,4", 64, -64, 1.2222},
      {"20,4", -192, 192, 1.2222}, {"90,2", 128, -128, 2.6364},
  };
  test::ScratchDir dir;
  const std::string flat = dir.path("flat.bin");
  ASSERT_EQ(run_tool(run_iqsim, {flat, "-n", "524288", "--start", "2026-12-07T01:30:00Z"}).status, 0);
  ASSERT_EQ(run_tool(run_iqspec, {flat, dir.path("flat.txt"), "1024"}).status, 0);
  const auto flat_spectrum = test::read_lines(dir.path("flat.txt"));
  const double flat_mean = band_power(flat_spectrum, 0, 1024);
  for (const auto& c : cases) {
    const std::string shaped = dir.path("shaped.bin");
    ASSERT_EQ(run_tool(run_iqsim, {shaped, "--force", "-n", "524288", "--passband", c.passband, "--start",
                                   "2026-12-07T01:30:00Z"})
                  .status,
              0);
    ASSERT_EQ(run_tool(run_iqspec, {shaped, dir.path("shaped.txt"), "1024"}).status, 0);
    const auto spectrum = test::read_lines(dir.path("shaped.txt"));
    EXPECT_NEAR(band_power(spectrum, c.high_bin, 9) / band_power(spectrum, c.low_bin, 9), c.ratio, 0.05 * c.ratio)
        << c.passband;
    EXPECT_NEAR(band_power(spectrum, 0, 1024) / flat_mean, 1.0, 0.01) << c.passband;
  }
}

// Without --start the capture starts now (the only metadata a recorded run cannot hold).
TEST(SkyGenerator, IqsimsCaptureStartsNowUnlessTold) {
  test::ScratchDir dir;
  const auto before = static_cast<double>(std::time(nullptr));
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("now.cu8"), "-n", "100"}).status, 0);
  std::ostringstream err;
  const CaptureMetadata meta = read_capture_metadata(dir.path("now.cu8"), "test", err);
  ASSERT_TRUE(meta.datetime_utc);
  const auto start = utc_datetime_seconds(*meta.datetime_utc);
  ASSERT_TRUE(start);
  EXPECT_GE(*start, before);
  EXPECT_LE(*start, before + 5.0);
}

}  // namespace
}  // namespace iq
