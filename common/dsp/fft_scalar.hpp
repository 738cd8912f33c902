// SPDX-License-Identifier: MIT
// The FFT butterfly in double precision, one at a time, proven to store the extended butterfly's
// bits: the fast path where extended precision is computed in software.
//
// RNk rounds to nearest with a k-bit significand (RN53: double, RN64: extended). With twiddle
// (wr, wi), p = (pr, pi), q = (qr, qi), the extended butterfly stores
//   t_re = RN53(X),  X = RN64(RN64(wr qr) - RN64(wi qi))      (t_im alike with a sum)
//   q' = RN53(RN64(p - t)),  p' = RN53(RN64(p + t))             (per component)
// Taken one butterfly at a time, where a branch on the outcome is cheap, this evaluation uses
// finer tests than the vector one (which trades a few more redone lanes for fewer operations):
// - Range: twiddle components 0 or in [2^-100, 2] (checked once per plan), qr and qi 0 or in
//   [2^-800, 2^500], |pr| and |pi| at most 2^500 (checked here; infinities and NaN fail). Then
//   no product under- or overflows and every error-free transform below is exact.
// - Twiddle product A - B, A = wr qr, B = wi qi: m1 = RN53(A), e1 = A - m1 (exact: a fused
//   multiply-add where the processor has one, else Dekker's product of Veltkamp halves, whose
//   partial products stay above 2^-1006 and so are exact), m2, e2 alike; s = RN53(m1 - m2) and
//   r by TwoSum; d = RN53(e1 - e2), c = RN53(r + d), hi = RN53(s + c), lo = c - (hi - s).
//   * e1 = e2 = r = 0: A, B and A - B are doubles, X = s and t = s (zero signs follow the same
//     IEEE rule in both).
//   * e1 = e2 = 0 and |lo| = G: hi + lo = m1 - m2 exactly, hi plus half a gap, 54 or 55 bits,
//     so X = m1 - m2 and t = RN53(X) = hi.
//   * RN53(|lo| + E) < G with E = RN53(RN53(|m1| + |m2|) (2^-63 + 2^-100)): the RN64 errors
//     and the transforms' losses put X within E of s + c = hi + lo (exact when |s| >= |c|;
//     when |s| < |c| the test fails, G being below E), so X lies strictly inside hi's rounding
//     interval and t = hi. G is half the gap from hi towards zero: with 2^k the exponent
//     field's value of RN53(|hi| (1 - 2^-53)), G = 2^(k-53).
// - Sum S = p +- t: s = RN53(S), e = S - s by TwoSum (exact). With 2^k from s as above, s is
//   the result when |e| < 2^k (2^-53 - 2^-64) (S lies more than an extended half-spacing
//   inside s's rounding interval, and RN64 is monotonic) or when |e| = 2^(k-53) (S is a
//   midpoint of 54 or 55 bits, an extended value, and RN53 rounds it as the double sum did);
//   e = 0 is the second case when s is zero or subnormal and the first otherwise.
// Anything unproven takes the extended butterfly; random data sends about one butterfly
// in sixty there.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "dsp/fft_lanes.hpp"

namespace iq {

namespace fft_scalar {

inline constexpr std::uint64_t kMagnitudeBits = 0x7fffffffffffffffu;
inline constexpr std::uint64_t kExponentBits = 0x7ff0000000000000u;
inline constexpr double kBelowOne = 1.0 - 0x1p-53;
inline constexpr double kProductBound = 0x1p-63 + 0x1p-100;
inline constexpr double kHalfGap = 0x1p-53;
inline constexpr double kSumMargin = 0x1p-53 - 0x1p-64;
inline constexpr double kVeltkamp = 0x1p27 + 1.0;
inline constexpr std::uint64_t kLeastQ = std::bit_cast<std::uint64_t>(0x1p-800);
inline constexpr std::uint64_t kMostData = std::bit_cast<std::uint64_t>(0x1p500);

inline std::uint64_t magnitude_bits(double x) { return std::bit_cast<std::uint64_t>(x) & kMagnitudeBits; }

// a x - RN53(a x), exact in the proof's range.
inline double product_error(double a, double x, double product) {
#if defined(__FP_FAST_FMA)
  return std::fma(a, x, -product);
#else
  const double a_scaled = kVeltkamp * a;
  const double a_hi = a_scaled - (a_scaled - a);
  const double a_lo = a - a_hi;
  const double x_scaled = kVeltkamp * x;
  const double x_hi = x_scaled - (x_scaled - x);
  const double x_lo = x - x_hi;
  return (((a_hi * x_hi - product) + a_hi * x_lo) + a_lo * x_hi) + a_lo * x_lo;
#endif
}

// 2^k, the value of the exponent field of RN53(|x| (1 - 2^-53)).
inline double binade_below(double x) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x * kBelowOne) & kExponentBits);
}

// RN53(RN64(RN64(a x) -+ RN64(b y))); clears `proven` when it cannot prove it.
template <bool kMinus>
inline double twiddle_product(double a, double x, double b, double y, bool& proven) {
  const double m1 = a * x;
  const double e1 = product_error(a, x, m1);
  const double m2 = b * y;
  const double e2 = product_error(b, y, m2);
  double s = 0.0;
  double r = 0.0;
  double d = 0.0;
  if constexpr (kMinus) {
    s = m1 - m2;
    const double part = s - m1;
    r = (m1 - (s - part)) - (m2 + part);
    d = e1 - e2;
  } else {
    s = m1 + m2;
    const double part = s - m1;
    r = (m1 - (s - part)) + (m2 - part);
    d = e1 + e2;
  }
  const double c = r + d;
  const double hi = s + c;
  const double lo = c - (hi - s);
  // The tests combine without branches (& and |, not && and ||): their outcomes are random.
  const bool exact_products =
      ((std::bit_cast<std::uint64_t>(e1) | std::bit_cast<std::uint64_t>(e2)) & kMagnitudeBits) == 0;
  const bool exact = exact_products & (magnitude_bits(r) == 0);
  const double bound = (std::fabs(m1) + std::fabs(m2)) * kProductBound;
  const double half_gap = binade_below(hi) * kHalfGap;
  const double error = std::fabs(lo);
  proven = proven & (exact | (error + bound < half_gap) | (exact_products & (error == half_gap)));
  return exact ? s : hi;
}

// RN53(RN64(a -+ t)); clears `proven` when it cannot prove it.
template <bool kMinus>
inline double extended_sum(double a, double t, bool& proven) {
  double s = 0.0;
  double e = 0.0;
  if constexpr (kMinus) {
    s = a - t;
    const double part = s - a;
    e = (a - (s - part)) - (t + part);
  } else {
    s = a + t;
    const double part = s - a;
    e = (a - (s - part)) + (t - part);
  }
  const double binade = binade_below(s);
  const double error = std::fabs(e);
  proven = proven & ((error < binade * kSumMargin) | (error == binade * kHalfGap));
  return s;
}

}  // namespace fft_scalar

// The butterfly in double precision when proven (see above); returns false, leaving p and q
// as they were, otherwise. The twiddle must fit fft_twiddles_fit_vector's range.
inline bool butterfly_double(double& p_re, double& p_im, double& q_re, double& q_im, double w_re, double w_im) {
  using namespace fft_scalar;
  const std::uint64_t qr = magnitude_bits(q_re);
  const std::uint64_t qi = magnitude_bits(q_im);
  // Magnitude bits minus one: zero wraps to the top, so only non-zero tiny values fall below.
  bool proven = (qr - 1 >= kLeastQ - 1) & (qi - 1 >= kLeastQ - 1) & (qr <= kMostData) & (qi <= kMostData) &
                (magnitude_bits(p_re) <= kMostData) & (magnitude_bits(p_im) <= kMostData);
  const double t_re = twiddle_product<true>(w_re, q_re, w_im, q_im, proven);
  const double t_im = twiddle_product<false>(w_re, q_im, w_im, q_re, proven);
  const double new_q_re = extended_sum<true>(p_re, t_re, proven);
  const double new_q_im = extended_sum<true>(p_im, t_im, proven);
  const double new_p_re = extended_sum<false>(p_re, t_re, proven);
  const double new_p_im = extended_sum<false>(p_im, t_im, proven);
  if (!proven) return false;
  q_re = new_q_re;
  q_im = new_q_im;
  p_re = new_p_re;
  p_im = new_p_im;
  return true;
}

// The extended butterfly's result, by the double evaluation where it is proven.
inline void butterfly_fast(double& p_re, double& p_im, double& q_re, double& q_im, double w_re, double w_im) {
  if (__builtin_expect(!butterfly_double(p_re, p_im, q_re, q_im, w_re, w_im), 0)) {
    butterfly_extended(p_re, p_im, q_re, q_im, w_re, w_im);
  }
}

}  // namespace iq
