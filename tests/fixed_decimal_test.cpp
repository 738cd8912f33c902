// append_fixed against printf on values that exercise rounding, ties and the range limits.
#include "fixed_decimal.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "text_format.hpp"

namespace iq {
namespace {

void expect_like_printf(double value, int decimals) {
  std::string text = "x";  // appends after what is there
  append_fixed(text, value, decimals);
  ASSERT_EQ(text, cformat("x%.*f", decimals, value)) << std::hexfloat << value << " " << decimals;
}

TEST(FixedDecimalTest, MatchesPrintf) {
  std::vector<double> values = {0.0, -0.0, 1e-300, -1e-300, 0.5, 1.5, 2.5, -2.5, 0x1p32 - 1, 0x1p32, -0x1p32,
                                4294967295.99999999, 1e20, std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(), std::nan(""),
                                std::numeric_limits<double>::denorm_min(), 0.00000005, 0.99999995};
  // Multiples of 1/256 (the normalised byte values) give exact ties at 7 decimals.
  for (int k = -600; k <= 600; ++k) values.push_back(k / 256.0);
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<int> exponent(-40, 33);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int n = 0; n < 20000; ++n) {
    const double value = std::ldexp(unit(rng), exponent(rng));
    values.push_back(value);
    values.push_back(static_cast<double>(static_cast<float>(value)));
  }
  for (const double value : values) {
    for (int decimals = 0; decimals <= 9; ++decimals) expect_like_printf(value, decimals);
  }
}

}  // namespace
}  // namespace iq
