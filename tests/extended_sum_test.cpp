// SPDX-License-Identifier: MIT
// The extended addition proven in double against the extended addition itself, on running
// sums and on the midpoints between doubles where rounding to extended first changes the sum.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "arith/extended_sum.hpp"
#include "arith/precision.hpp"

namespace iq {
namespace {

double slow_sum(double sum, double value) {
  return static_cast<double>(static_cast<extended>(sum) + static_cast<extended>(value));
}

TEST(ExtendedSum, EqualsTheExtendedAdditionRoundedToDouble) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> amplitude(0.0, 1.41);
  // Random amplitudes onto growing sums, then sums built to sit on or next to the midpoints
  // between doubles, where rounding to extended first changes the result.
  double sum = 0.0;
  for (int k = 0; k < 3000000; ++k) {
    const double value = amplitude(rng);
    const double fast = add_extended(sum, value);
    ASSERT_EQ(fast, slow_sum(sum, value)) << sum << " + " << value;
    sum = (k % 1000000 == 999999) ? std::ldexp(1.0, k / 1000000 * 20) : fast;
  }
  int differing = 0;
  for (int k = 0; k < 2000000; ++k) {
    const double base = std::ldexp(1.0 + static_cast<double>(rng() >> 12) * 0x1p-52, static_cast<int>(rng() % 60));
    const double half_ulp = std::ldexp(std::nextafter(base, 2 * base) - base, -1);
    const int shift = static_cast<int>(rng() % 12) + 1;  // near the midpoint, within a few extended ulps
    const double offset = std::ldexp(half_ulp, -11 - shift) * static_cast<double>(static_cast<int>(rng() % 9) - 4);
    const double value = half_ulp + offset + ((rng() & 1) ? std::ldexp(half_ulp, -60) : 0.0);
    for (const double v : {value, -value, std::ldexp(half_ulp, -1) + offset}) {
      const double slow = slow_sum(base, v);
      ASSERT_EQ(add_extended(base, v), slow) << base << " + " << v;
      differing += slow != base + v;
    }
  }
  EXPECT_GT(differing, 1000);  // the cases where the two roundings differ were reached
}

}  // namespace
}  // namespace iq
