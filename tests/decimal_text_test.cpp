// write_decimal gives the characters of "%lld" at every digit count and both range ends.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "decimal_text.hpp"
#include "text_format.hpp"

namespace iq {
namespace {

TEST(DecimalTextTest, MatchesPrintfAtEveryDigitBoundaryAndRangeEnd) {
  using limits = std::numeric_limits<std::int64_t>;
  std::vector<std::int64_t> values = {0, 9, limits::max(), limits::min(), limits::min() + 1};
  for (std::int64_t p = 10; p <= limits::max() / 10; p *= 10) {
    values.insert(values.end(), {p - 1, p, p + 1, -p, 1 - p});
  }
  std::mt19937_64 rng(6);
  for (int i = 0; i < 2000; ++i) values.push_back(static_cast<std::int64_t>(rng() >> (i % 64)));
  char text[kMaxDecimalChars];
  for (const std::int64_t v : values) {
    EXPECT_EQ(std::string(text, write_decimal(v, text)), cformat("%lld", static_cast<long long>(v)));
  }
  const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(std::string(text, write_decimal(largest, text)), "18446744073709551615");
}

}  // namespace
}  // namespace iq
