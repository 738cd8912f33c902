// SPDX-License-Identifier: MIT
// One step of a coefficient sum in double precision where it is proven to give the extended
// step's bits: the scalar twin of the vector step, for processors whose extended arithmetic is
// software.
//
// The extended step stores a' = RN24(RN64(a + RN64(w f))) for the single-precision sum a, the
// weight w and the factor f (extended values; RNk rounds to a k-bit significand). The double
// step computes p = RN53(RN53(w) RN53(f)) and s = RN53(a + p); lag_sums.cpp proves
// |s - RN64(a + RN64(w f))| < 2^-49 (|s| + |p|) = E. When the double values s - E and s + E
// round to the same single-precision value (bit for bit, zero signs included), so does every
// value between them (RN24 is monotonic), the extended sum among them: a' is that value.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "dsp/lag_sums.hpp"

namespace iq {

// Adds RN53(w) RN53(f) to `sum` as the extended step would; false (sum untouched) where the
// double evaluation cannot prove the result.
inline bool lag_step_double(float& sum, double rounded_weight, double factor_high,
                            double margin = kVectorSumMargin) {
  const double term = rounded_weight * factor_high;
  const double s = static_cast<double>(sum) + term;
  const double bound = (std::fabs(s) + std::fabs(term)) * margin;
  const auto below = std::bit_cast<std::uint32_t>(static_cast<float>(s - bound));
  const auto above = std::bit_cast<std::uint32_t>(static_cast<float>(s + bound));
  if (below != above) return false;
  sum = std::bit_cast<float>(below);
  return true;
}

}  // namespace iq
