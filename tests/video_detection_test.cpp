// Video detection: the ratio and whole sample count, refused rates, points that span reads,
// and the fast number formatting against snprintf.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

#include "fixed_format.hpp"
#include "test_support.hpp"
#include "text_format.hpp"
#include "video_detection.hpp"

namespace iq {
namespace {

TEST(VideoDetection, RatioAndWholeSamplesPerPoint) {
  struct Case {
    const char* clock;
    const char* band;
    float ratio;
    std::int64_t samples;
    const char* period;
  };
  for (const Case c : {Case{"2.4", "7", 342.857147216796875f, 342, "0.42"}, Case{"1", "3", 333.33334f, 333, "1.00"},
                       Case{"2.4", "2.4", 1000.0f, 1000, "0.42"}, Case{"2.048", "2.048", 1000.0f, 1000, "0.49"},
                       Case{"2.048", "1", 2048.0f, 2048, "0.49"}, Case{"1", "300", 3.3333333f, 3, "1.00"},
                       Case{"1", "1000", 1.0f, 1, "1.00"}}) {
    std::ostringstream err;
    const auto detector = VideoDetector::from_arguments("t", c.clock, c.band, err);
    ASSERT_TRUE(detector) << err.str();
    EXPECT_EQ(detector->ratio, c.ratio) << c.clock << " / " << c.band;
    EXPECT_EQ(detector->samples_per_point, c.samples);
    EXPECT_EQ(cformat("%1.2f", static_cast<double>(detector->sample_period_us())), c.period);
  }
}

TEST(VideoDetection, RefusesRatesAndRatiosWithoutWholeSamples) {
  for (const auto& [clock, band, named] : std::vector<std::tuple<const char*, const char*, const char*>>{
           {"0", "7", "clock rate"}, {"-2.4", "7", "clock rate"}, {"abc", "7", "clock rate"},
           {"nan", "7", "clock rate"}, {"inf", "7", "clock rate"}, {"1e39", "7", "clock rate"},
           {"2.4", "0", "video band"}, {"2.4", "-7", "video band"}, {"2.4", "1e-46", "video band"},
           {"1", "1001", "x 1000 / video band"}, {"3000000", "1", "x 1000 / video band"}}) {
    std::ostringstream err;
    EXPECT_FALSE(VideoDetector::from_arguments("powtrace", clock, band, err)) << clock << " / " << band;
    EXPECT_EQ(err.str().rfind("powtrace: ", 0), 0u) << err.str();
    EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
  }
  std::ostringstream err;
  EXPECT_EQ(VideoDetector::from_arguments("t", "2147", "1", err)->samples_per_point, 2147000);
}

TEST(VideoDetection, PointsSpanningManyReadsSumInFileOrder) {
  // 100000 samples per point: each point spans several reads of the reader's chunk.
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(2 * 100000 * 3 + 7, 5);
  test::write_bytes(dir.path("cap"), bytes);
  auto capture = CaptureReader::open(dir.path("cap"), 4096);
  std::ostringstream err;
  const auto detector = *VideoDetector::from_arguments("t", "100", "1", err);
  VideoPointReader reader(*capture, detector);
  std::vector<double> values(4);
  reader.read(values);
  for (std::size_t p = 0; p < values.size(); ++p) {
    float sum = 0;
    for (std::size_t s = 0; s < 100000; ++s) {
      const std::size_t at = 2 * (p * 100000 + s);
      // Past the end of the capture every byte reads as 255.
      const auto component = [&](std::size_t k) { return k < bytes.size() ? bytes[k] : std::uint8_t{255}; };
      sum += kComponentPower[component(at)] + kComponentPower[component(at + 1)];
    }
    EXPECT_EQ(values[p], detector.point_value(sum)) << p;
  }
}

TEST(FixedFormat, EqualsSnprintf) {
  std::vector<double> values = {0.0, -0.0, 1.0, 1.97943718, 0.00003044, 1.0 / 512, 3.0 / 512, 5.0 / 1024,
                                0.000000005, 0.5e-8, 1e-300, 4.9e-324, 1.999999995, 9.999999995, 123456789.125,
                                1e29, 1e31, -1.5, std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 2.0);
  for (int k = 0; k < 200000; ++k) {
    values.push_back(unit(rng));
    values.push_back(static_cast<double>(rng() % (1u << 20)) / 512.0);  // many exact ties at 8, 6 and 0 decimals
    const double near_tie = (static_cast<double>(rng() % 200000000) + 0.5) / 1e8;
    values.push_back(std::nextafter(near_tie, 0.0));
    values.push_back(std::nextafter(near_tie, 3.0));
    std::uint64_t bits = rng();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    values.push_back(any);
  }
  for (const double v : values) {
    for (const int decimals : {8, 6, 0}) {
      std::string fast;
      append_fixed(fast, v, decimals);
      ASSERT_EQ(fast, cformat("%.*f", decimals, v)) << v;
    }
  }
  for (const std::int64_t n : {std::int64_t{0}, std::int64_t{9}, std::int64_t{10}, std::int64_t{-1},
                               std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
    std::string fast;
    append_integer(fast, n);
    EXPECT_EQ(fast, cformat("%lld", static_cast<long long>(n)));
  }
}

}  // namespace
}  // namespace iq
