// The fast number formatting gives printf's text: exact ties, values next to ties, random bit
// patterns, infinities and not-a-number.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "io/fixed_format.hpp"
#include "io/text_format.hpp"

namespace iq {
namespace {

TEST(FixedFormat, EqualsSnprintf) {
  std::vector<double> values = {0.0, -0.0, 1.97943718, 3.0 / 512, 0.5e-8, 4.9e-324, 1.999999995, 123456789.125,
                                1e29, 1e31, -1.5, std::numeric_limits<double>::infinity(), -std::nan("")};
  // Multiples of 1/256 (the normalised byte values) give exact ties at 7 decimals.
  for (int k = -600; k <= 600; ++k) values.push_back(k / 256.0);
  std::mt19937_64 rng(11);
  for (int k = 0; k < 200000; ++k) {
    values.push_back(std::uniform_real_distribution<double>(0.0, 2.0)(rng));
    values.push_back(static_cast<double>(rng() % (1u << 20)) / 512.0);  // exact ties at 8, 6 and 0 decimals
    const double near_tie = (static_cast<double>(rng() % 200000000) + 0.5) / 1e8;
    values.push_back(std::nextafter(near_tie, 0.0));
    values.push_back(std::nextafter(near_tie, 3.0));
    const std::uint64_t bits = rng();
    values.push_back(std::bit_cast<double>(bits));
  }
  for (const double v : values) {
    for (const int decimals : {8, 7, 6, 3, 0}) {
      std::string fast;
      append_fixed(fast, v, decimals);
      ASSERT_EQ(fast, cformat("%.*f", decimals, v)) << v;
    }
  }
  for (const std::int64_t n : {std::int64_t{0}, std::int64_t{10}, std::numeric_limits<std::int64_t>::min()}) {
    std::string fast;
    append_integer(fast, n);
    EXPECT_EQ(fast, cformat("%lld", static_cast<long long>(n)));
  }
}

}  // namespace
}  // namespace iq
