// SPDX-License-Identifier: MIT
// Running sums of doubles whose every addition is done in extended precision and rounded to
// double, as the toolkit's folds and averages add their values.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "arith/precision.hpp"

namespace iq {

// sum + value evaluated in extended precision and rounded to double, always by the extended
// addition itself.
inline double add_extended_exactly(double sum, double value) {
  return static_cast<double>(static_cast<extended>(sum) + static_cast<extended>(value));
}

// The same sum, from double arithmetic where that is proven to give it. The double sum s and
// its exact error e (s + e is the exact sum): rounding the exact sum to extended and then to
// double gives s, unless the extended rounding lands exactly on the midpoint between two
// doubles; that needs |e| within an extended ulp (u / 2^11) of u / 2, or s at a power of two
// where the spacing of doubles changes. Those rare cases (about once in 2^10 additions of
// random values), and infinities and subnormals, take the extended addition. Inline: the folds
// call it once a sample.
inline double add_extended(double sum, double value) {
  constexpr std::uint64_t kExponentBits = 0x7ff0000000000000u;
  constexpr std::uint64_t kMantissaBits = 0x000fffffffffffffu;
  const double s = sum + value;
  const double value_part = s - sum;
  const double e = (sum - (s - value_part)) + (value - value_part);
  if (e == 0.0) return s;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(s);
  const bool power_of_two = (bits & kMantissaBits) == 0;
  const double u = std::bit_cast<double>(bits & kExponentBits) * 0x1p-52;
  if (!power_of_two && std::fabs(e) < u * (0.5 - 0x1p-11)) return s;
  return add_extended_exactly(sum, value);
}

}  // namespace iq
