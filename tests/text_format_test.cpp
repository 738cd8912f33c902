// SPDX-License-Identifier: MIT
// Text formatting: format_fixed3 writes exactly what printf's "%.3f" writes, and
// format_all_digits what "%.17g" writes, which reads back as the same double.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "io/text_format.hpp"

namespace iq {
namespace {

std::string fixed3(double value) {
  char text[400];
  return std::string(text, format_fixed3(text, value));
}

TEST(TextFormat, Fixed3IsPrintfsFixed3) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.0005,
                                0.0015,
                                0.0625,
                                0.1875,
                                2.5e-4,
                                9.9995,
                                999.9995,
                                1e-320,
                                -1e-320,
                                std::numeric_limits<double>::min(),
                                1.0,
                                -1.0,
                                9007199254740.991,
                                9007199254740.992,
                                9007199254740.993,
                                1e15,
                                1.7e308,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::nan(""),
                                -std::nan("")};
  // Ties at the third decimal: every odd sixteenth, small and near the integer limit.
  for (std::int64_t k = -4001; k <= 4001; k += 2) values.push_back(static_cast<double>(k) / 16.0);
  for (std::int64_t k = 1; k < 2000; k += 2)
    values.push_back(static_cast<double>((std::int64_t{1} << 39) + k) / 16.0);
  // Random bit patterns, and random values at every scale from 1e-6 to 1e16.
  std::mt19937_64 random(17);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = random();
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    values.push_back(std::ldexp(static_cast<double>(bits >> 11), static_cast<int>(bits % 74) - 73));
  }
  for (const double value : values) {
    ASSERT_EQ(fixed3(value), cformat("%.3f", value)) << cformat("%a", value);
  }
}

TEST(TextFormat, AllDigitsIsPrintfs17gAndReadsBack) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.1,
                                1.0 / 3.0,
                                0.017,
                                1e-5,
                                123456789.0,
                                1e17,
                                1e-320,
                                -2.5e300,
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::max()};
  std::mt19937_64 random(5);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random();
    values.push_back(std::ldexp(static_cast<double>(bits >> 11), static_cast<int>(bits % 120) - 100));
  }
  for (const double value : values) {
    char text[32];
    const std::string written(text, format_all_digits(text, value));
    ASSERT_EQ(written, cformat("%.17g", value)) << cformat("%a", value);
    ASSERT_EQ(all_digits_text(value), written);
    const double back = std::strtod(written.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << written;
  }
}

}  // namespace
}  // namespace iq
