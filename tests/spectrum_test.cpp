// SPDX-License-Identifier: MIT
// The spectrum's bin powers and table lines against their extended and printf twins (the sums
// on workers against the exact loop: fft_bound_test.cpp).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <limits>
#include <vector>

#include "arith/precision.hpp"
#include "dsp/spectrum.hpp"
#include "flow/spectrum_run.hpp"
#include "io/text_format.hpp"
#include "dsp/spectrum_power.hpp"
#include "dsp/vector_target.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// Bin powers against the extended evaluation: values near the midpoints between singles (few
// significant bits, and re^2 + im^2 slightly off a midpoint), the ends of the single and double
// ranges, subnormals, zeros, infinities and NaN, and a length that leaves a tail past the
// vectors. The double evaluation (the software type's fast path) proves or declines, leaving
// the power; the frame and lane kernels give the extended bits on every target.
TEST(Spectrum, BinPowersAreTheExtendedPowers) {
  std::mt19937_64 rng(12);
  const double special[] = {0.0,
                            -0.0,
                            0x1p-1074,
                            -0x1p-1060,
                            0x1p-520,
                            0x1p-75,
                            0x1p-63,
                            0x1p64,
                            0x1p511,
                            0x1p600,
                            1.8446744e19,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
  const std::size_t bins = 8 * 25013;
  std::vector<double> frame(2 * bins);
  for (std::size_t k = 0; k < frame.size(); ++k) {
    double& v = frame[k];
    switch (rng() % 7) {
      case 0:
        v = special[rng() % std::size(special)];
        break;
      case 1:
        v = std::ldexp(static_cast<double>((rng() % (1u << 13)) | 1u), -static_cast<int>(rng() % 40));
        break;
      case 2:
        v = std::sqrt(std::ldexp(static_cast<double>((rng() % (1u << 25)) | 1u), -24));
        break;
      case 3:
        v = k % 2 == 0 ? std::sqrt(std::ldexp(static_cast<double>((rng() % (1u << 24)) * 2 + 1), -25) +
                                   std::ldexp(static_cast<double>(static_cast<int>(rng() % 5) - 2), -60))
                       : std::ldexp(1.0, -static_cast<int>(rng() % 40));
        break;
      default:
        v = (static_cast<int>(rng() % 256) - 127.5) / 128.0 * std::ldexp(1.0, static_cast<int>(rng() % 9) - 4);
    }
    if (rng() % 2) v = -v;
  }
  std::vector<float> expected(bins);
  frame_power_extended(frame.data(), expected.data(), bins);
  long proven = 0;
  for (std::size_t k = 0; k < bins; ++k) {
    float power = -1.0f;
    const bool fast = bin_power_double(frame[2 * k], frame[2 * k + 1], power);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(power), std::bit_cast<std::uint32_t>(fast ? expected[k] : -1.0f)) << k;
    proven += fast;
  }
  EXPECT_GT(proven, static_cast<long>(bins) / 2);
  // The same bins in lane layout: bin k of frame 8 m + l is point m of lane l.
  std::vector<double> lanes(2 * bins);
  for (std::size_t k = 0; k < bins; ++k) {
    lanes[16 * (k / 8) + k % 8] = frame[2 * k];
    lanes[16 * (k / 8) + 8 + k % 8] = frame[2 * k + 1];
  }
  test::for_each_vector_target([&](const std::string& target) {
    std::vector<float> power(bins, -1.0f);
    std::vector<float> lane_power(bins, -1.0f);
    frame_power_fastest(frame.data(), power.data(), bins - 3);
    lane_power_fastest(lanes.data(), bins / 8, lane_power.data());
    for (std::size_t k = 0; k < bins; ++k) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(power[k]),
                std::bit_cast<std::uint32_t>(k < bins - 3 ? expected[k] : -1.0f))
          << target << " bin " << k << ": " << frame[2 * k] << ", " << frame[2 * k + 1];
      ASSERT_EQ(std::bit_cast<std::uint32_t>(lane_power[k]), std::bit_cast<std::uint32_t>(expected[k]))
          << target << " lane bin " << k;
    }
  });
}

// The table's lines against printf's "%ld    %3.3f" of the sum rounded to single over the
// frame count rounded to single (2^24 + 1 frames count as 2^24; none gives not-a-number lines),
// negative frequencies first; sums from 1e-7 to 1e33.
TEST(Spectrum, TableLinesArePrintfsLines) {
  const std::int32_t n = 4096;
  SpectrumAccumulator spectrum(n);
  std::vector<float> power(n);
  std::mt19937_64 rng(5);
  for (std::int32_t k = 0; k < n; ++k)
    power[k] = k % 7 == 0 ? static_cast<float>(k) / 16.0f
                          : std::ldexp(static_cast<float>(rng() >> 40), static_cast<int>(rng() % 32) * 2 - 48);
  spectrum.add_power(power, 0, n);
  for (const std::int64_t frames : {std::int64_t{0}, std::int64_t{3}, std::int64_t{16777217}}) {
    std::string expected;
    for (std::int32_t i = 0; i < n; ++i) {
      const auto sum_single = static_cast<float>(spectrum.sums()[static_cast<std::size_t>((i + n / 2) % n)]);
      expected += cformat("%ld    %3.3f\n", static_cast<long>(i - n / 2),
                          static_cast<double>(static_cast<extended>(sum_single) / static_cast<float>(frames)));
    }
    std::string lines;
    append_spectrum_lines(lines, spectrum, frames, 0, n);
    EXPECT_EQ(lines, expected) << frames << " frames";
  }
}

}  // namespace
}  // namespace iq
