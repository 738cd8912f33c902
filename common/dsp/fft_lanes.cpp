// FFT butterflies on eight frames side by side: the vector evaluation and its proof.
//
// The kernel is written once with Highway and compiled for every vector target; a vector holds
// as many of the eight lanes as the target's width allows (one to eight) and the proof below
// holds lane by lane, whatever the width.
//
// Why the vector butterfly stores the extended butterfly's bits. RNk rounds to nearest with a
// k-bit significand (RN53: double, RN64: extended; the extended exponent range never under- or
// overflows for products of doubles). With twiddle (wr, wi), p = (pr, pi), q = (qr, qi), the
// extended butterfly stores
//   t_re = RN53(X),  X = RN64(RN64(wr qr) - RN64(wi qi))      (t_im alike with a sum)
//   q' = RN53(RN64(p - t)),  p' = RN53(RN64(p + t))             (per component)
//
// Ranges. Every twiddle component is 0 or in [2^-100, 2] (checked once per plan). Before a
// transform, every input value is checked to be finite and at most 2^420 in magnitude (else the
// frames take the extended evaluation): a stage multiplies the largest magnitude by at most 5
// (|t| <= 4 max |q|, |p +- t| <= 5 max), so after at most 30 stages every value is below 2^490,
// no product or sum overflows and the split below cannot overflow. A single butterfly on
// arbitrary values (butterfly_lanes_vector) checks each lane for finite values up to 2^500
// instead. Products may fall in the subnormal range; the absolute part of E below covers
// that. A lane any step cannot prove is redone in extended precision.
//
// Twiddle product A - B, A = wr qr, B = wi qi. In double: m1 = RN53(A), e1 = A - m1 by a
// fused multiply-add, m2, e2 likewise. Targets without a fused multiply-add get e1 by Dekker's
// product instead (operands split in halves of at most 26 bits by Veltkamp's constant
// 2^27 + 1). Both are exact unless a partial result falls in the subnormal range, where each
// operation errs by at most 2^-1075 (and a sum of inexact parts by 2^-53 of itself): e1 and e2
// are within 2^-1069 + 2^-104 (|m1| + |m2|) of the true errors. s = RN53(m1 - m2) and
// r = m1 - m2 - s by TwoSum (exact); d = RN53(e1 - e2), c = RN53(r + d); hi = RN53(s + c),
// lo = c - (hi - s) (Fast2Sum). The lane takes hi if RN53(|lo| + E) < G, where
// E = RN53(RN53(RN53(|m1| + |m2|) (2^-63 + 2^-100)) + 2^-1000) and G is half the gap from hi to
// its neighbour towards zero (below); the kernel evaluates the test scaled by 2^53 (exact), with
// a multiply-add for each side, which rounds once where the test's sums round twice. Proof: with V = A - B, |A| <= (1 + 2^-53)|m1|, and RN64
// errors of at most 2^-64 of the value,
//   |X - V| <= 2^-64 (|A| + |B|) (2 + 2^-64) <= 2^-63 (1 + 2^-52) (|m1| + |m2|),
//   |V - (s + c)| <= |e1 - e2 - d| + |r + d - c| + 2^-1068 <= 2^-102 (|m1| + |m2|) + 2^-1066,
// so |X - (s + c)| < 2^-63 (1 + 2^-38) (|m1| + |m2|) + 2^-1066 < E (the roundings of E lose
// less than the 2^-37 and the 2^-1000 it adds, the first rounding at most 2^-1075 when
// subnormal). If |s| >= |c|, Fast2Sum is exact: hi + lo = s + c. Then RN53(|lo| + E) < G
// implies |lo| + E < G (G is a double), hence |X - hi| < G, X lies strictly inside hi's
// rounding interval and t = hi. If |s| < |c|, then |c| and |hi| are below
// 2^-51.9 (|m1| + |m2|) + 2^-1066, so G <= 2^-53 |hi| < E and the test fails whatever lo is.
// If hi = 0, G = 0 and the test fails.
//   G: M = RN53(|hi| (1 - 2^-53)) stays in hi's binade unless |hi| is a power of two, where it
// drops to the binade below, whose spacing is the gap below hi; with 2^k the value of M's
// exponent field, G = 2^(k-53). Where that is below the normal range the true half gap may
// be larger than G, but then G < 2^-1000 <= E and the test fails; for subnormal or zero hi the
// exponent field is 0 and the scaled test (against 2^k = 0) fails too.
// With the unit twiddle (1, +0) every product is exact and t = q -+ 0 q' in double is the
// extended t, zero signs included.
// Sum S = p +- t (exact). In double: s = RN53(S), e = S - s by TwoSum (exact).
//  - e = 0: S = s is a double, RN64(S) = S and the result is s, the sign of a zero included:
//    x87 and double addition follow the same IEEE rule for it.
//  - |s| < 2^-1010: S is a multiple of 2^-1074 below 2^-1010 in magnitude, so it fits in 64
//    bits, RN64(S) = S and again the result is s (whatever the test below says).
//  - e is half the gap (S is a midpoint, 54 bits, or a power of two plus a quarter gap, 55
//    bits): S fits in 64 bits and again the result is s.
//  - Otherwise the lane takes s if |e| < 2^k (2^-53 - 2^-64), with 2^k from M as above
//    (exact here, as |s| >= 2^-1010). Both half gaps of s are at least 2^(k-53) (below a
//    power of two exactly that), so S lies more than 2^(k-64) from the midpoint next to it.
//    RN64 moves S by at most half the extended spacing there, which is 2^(k-64) below s and
//    in s's binade, and 2^(k-63) above a power of two s (where the room is 2^(k-53) more);
//    the midpoint is an extended value and RN64 is monotonic, so RN64(S) stays strictly
//    inside s's rounding interval and RN53 of it is s.
// Capture-like data sends about one lane in seventy to the extended evaluation.
#include "dsp/fft_lanes.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "dsp/vector_target.hpp"

// Highway compiles this file once per target.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dsp/fft_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#ifndef IQ_FFT_LANES_CONSTANTS
#define IQ_FFT_LANES_CONSTANTS
namespace iq::fft_lane_constants {

constexpr double kBelowOne = 1.0 - 0x1p-53;           // M = |x| kBelowOne finds the gap below x
constexpr double kProductBound = 0x1p-63 + 0x1p-100;  // E over |m1| + |m2|
constexpr double kHalfGap = 0x1p-53;                  // G over 2^k
constexpr double kScale = 0x1p53;                     // 2^k over G
constexpr double kSumMargin = 0x1p-53 - 0x1p-64;      // the sum's bound on |e| over 2^k
constexpr double kMostData = 0x1p500;
constexpr double kMostInput = 0x1p420;      // inputs this size keep every stage below kMostData
constexpr double kAbsoluteBound = 0x1p-1000;  // E's part for errors in the subnormal range
constexpr double kLeastTwiddle = 0x1p-100;
constexpr double kMostTwiddle = 2.0;
constexpr double kVeltkamp = 0x1p27 + 1.0;             // splits a double in two halves
constexpr std::uint64_t kExponentBits = 0x7ff0000000000000u;

// Stages with spans up to this many points are finished block by block while the block's
// lane data (128 bytes a point) stays in the level-2 cache.
constexpr std::size_t kBlockPoints = 2048;

}  // namespace iq::fft_lane_constants
#endif

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace fft_lane_constants;

#if HWY_HAVE_FLOAT64 && HWY_TARGET != HWY_SCALAR

// A vector of up to kFftLanes double lanes.
using D = hn::CappedTag<double, kFftLanes>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

// a x - RN53(a x), exact for the operands the range check lets through.
HWY_INLINE V product_error(D d, V a, V x, V product) {
#if HWY_NATIVE_FMA
  (void)d;
  return hn::MulSub(a, x, product);
#else
  const V split = hn::Set(d, kVeltkamp);
  const V a_scaled = hn::Mul(split, a);
  const V a_hi = hn::Sub(a_scaled, hn::Sub(a_scaled, a));
  const V a_lo = hn::Sub(a, a_hi);
  const V x_scaled = hn::Mul(split, x);
  const V x_hi = hn::Sub(x_scaled, hn::Sub(x_scaled, x));
  const V x_lo = hn::Sub(x, x_hi);
  const V high = hn::Add(hn::Add(hn::Sub(hn::Mul(a_hi, x_hi), product), hn::Mul(a_hi, x_lo)), hn::Mul(a_lo, x_hi));
  return hn::Add(high, hn::Mul(a_lo, x_lo));
#endif
}

// 2^k, the value of the exponent field of RN53(x (1 - 2^-53)).
HWY_INLINE V binade_below(D d, V x) {
  const hn::RebindToUnsigned<D> du;
  const auto bits = hn::BitCast(du, hn::Mul(x, hn::Set(d, kBelowOne)));
  return hn::BitCast(d, hn::And(bits, hn::Set(du, kExponentBits)));
}

// Lanes whose data keeps every step of the proof within range (infinities and NaN fail).
HWY_INLINE M lanes_in_range(D d, V p_re, V p_im, V q_re, V q_im) {
  const V most = hn::Set(d, kMostData);
  const V largest = hn::Max(hn::Max(hn::Abs(p_re), hn::Abs(p_im)), hn::Max(hn::Abs(q_re), hn::Abs(q_im)));
  // Max may drop a NaN operand: NaN lanes are refused by the comparisons of each value.
  const M finite = hn::And(hn::And(hn::Eq(p_re, p_re), hn::Eq(p_im, p_im)), hn::And(hn::Eq(q_re, q_re), hn::Eq(q_im, q_im)));
  return hn::And(finite, hn::Le(largest, most));
}

// RN53(RN64(RN64(a x) -+ RN64(b y))); clears the lanes of `proven` it cannot prove.
template <bool kMinus>
HWY_INLINE V twiddle_product(D d, V a, V x, V b, V y, M& proven) {
  const V m1 = hn::Mul(a, x);
  const V e1 = product_error(d, a, x, m1);
  const V m2 = hn::Mul(b, y);
  const V e2 = product_error(d, b, y, m2);
  V s, r, diff;
  if constexpr (kMinus) {
    s = hn::Sub(m1, m2);
    const V part = hn::Sub(s, m1);
    r = hn::Sub(hn::Sub(m1, hn::Sub(s, part)), hn::Add(m2, part));
    diff = hn::Sub(e1, e2);
  } else {
    s = hn::Add(m1, m2);
    const V part = hn::Sub(s, m1);
    r = hn::Add(hn::Sub(m1, hn::Sub(s, part)), hn::Sub(m2, part));
    diff = hn::Add(e1, e2);
  }
  const V c = hn::Add(r, diff);
  const V hi = hn::Add(s, c);
  const V lo = hn::Sub(c, hn::Sub(hi, s));
  // RN53(|lo| + E) < G as RN53(|lo| 2^53 + E 2^53) < 2^k: the same test scaled by the exact
  // 2^53, each side formed by one multiply-add (two roundings up without a fused one).
  const V scaled_bound = hn::MulAdd(hn::Add(hn::Abs(m1), hn::Abs(m2)), hn::Set(d, kProductBound * kScale), hn::Set(d, kAbsoluteBound * kScale));
  const M inside = hn::Lt(hn::MulAdd(hn::Abs(lo), hn::Set(d, kScale), scaled_bound), binade_below(d, hi));
  proven = hn::And(proven, inside);
  return hi;
}

// RN53(RN64(a -+ t)); clears the lanes of `proven` it cannot prove.
template <bool kMinus>
HWY_INLINE V extended_sum(D d, V a, V t, M& proven) {
  V s, e;
  if constexpr (kMinus) {
    s = hn::Sub(a, t);
    const V part = hn::Sub(s, a);
    e = hn::Sub(hn::Sub(a, hn::Sub(s, part)), hn::Add(t, part));
  } else {
    s = hn::Add(a, t);
    const V part = hn::Sub(s, a);
    e = hn::Add(hn::Sub(a, hn::Sub(s, part)), hn::Sub(t, part));
  }
  const V binade = binade_below(d, s);
  const V error = hn::Abs(e);
  const M inside = hn::Lt(error, hn::Mul(binade, hn::Set(d, kSumMargin)));
  const M tie = hn::Eq(error, hn::Mul(binade, hn::Set(d, kHalfGap)));
  proven = hn::And(proven, hn::Or(inside, tie));
  return s;
}

// Redoes in extended precision the lanes of the butterfly on points p and q that `proven`
// (one bit per lane) leaves out, from the inputs still in p and q, into `out` (p's then q's
// values in lane layout).
HWY_NOINLINE void redo_lanes(const double* p, const double* q, unsigned proven, FftTwiddle w, double* out) {
  for (std::size_t l = 0; l < kFftLanes; ++l) {
    if ((proven >> l & 1u) != 0) continue;
    double p_re = p[l], p_im = p[kFftLanes + l], q_re = q[l], q_im = q[kFftLanes + l];
    butterfly_extended(p_re, p_im, q_re, q_im, w.re, w.im);
    out[l] = p_re;
    out[kFftLanes + l] = p_im;
    out[2 * kFftLanes + l] = q_re;
    out[3 * kFftLanes + l] = q_im;
  }
}

// The proven lanes of a mask, as bits shifted to the lanes' place.
HWY_INLINE unsigned mask_bits(D d, M proven, std::size_t lane) {
  std::uint8_t bits[8] = {};
  hn::StoreMaskBits(d, proven, bits);
  return static_cast<unsigned>(bits[0]) << lane;
}

// The butterfly of the lanes [lane, lane + Lanes(d)): stores the vector results to p and q
// and returns the lanes it proved. With kUnit the twiddle is (1, +0) and only the sums need
// proof; with kChecked each lane's range is checked (values not checked before the stages).
template <bool kUnit, bool kChecked>
HWY_INLINE M butterfly_part(D d, V p_re, V p_im, V q_re, V q_im, V w_re, V w_im, double* p, double* q) {
  M proven = kChecked ? lanes_in_range(d, p_re, p_im, q_re, q_im) : hn::FirstN(d, hn::Lanes(d));
  V t_re, t_im;
  if constexpr (kUnit) {
    t_re = hn::Sub(q_re, hn::Mul(w_im, q_im));
    t_im = hn::Add(q_im, hn::Mul(w_im, q_re));
  } else {
    t_re = twiddle_product<true>(d, w_re, q_re, w_im, q_im, proven);
    t_im = twiddle_product<false>(d, w_re, q_im, w_im, q_re, proven);
  }
  hn::StoreU(extended_sum<true>(d, p_re, t_re, proven), d, q);
  hn::StoreU(extended_sum<true>(d, p_im, t_im, proven), d, q + kFftLanes);
  hn::StoreU(extended_sum<false>(d, p_re, t_re, proven), d, p);
  hn::StoreU(extended_sum<false>(d, p_im, t_im, proven), d, p + kFftLanes);
  return proven;
}

// The butterfly of all eight lanes on points p and q (lane layout), written to `out` (p's
// then q's values); returns the proven lanes as bits. The lanes are computed without a branch
// between the vectors, so the processor overlaps their long dependency chains.
template <bool kUnit, bool kChecked = false>
HWY_INLINE unsigned butterfly_lanes(const double* p, const double* q, FftTwiddle w, double* out) {
  const D d;
  const std::size_t count = hn::Lanes(d);
  const V w_re = hn::Set(d, w.re);
  const V w_im = hn::Set(d, w.im);
  unsigned proven = 0;
  for (std::size_t lane = 0; lane < kFftLanes; lane += count) {
    const V p_re = hn::LoadU(d, p + lane);
    const V p_im = hn::LoadU(d, p + kFftLanes + lane);
    const V q_re = hn::LoadU(d, q + lane);
    const V q_im = hn::LoadU(d, q + kFftLanes + lane);
    const M part = butterfly_part<kUnit, kChecked>(d, p_re, p_im, q_re, q_im, w_re, w_im, out + lane, out + 2 * kFftLanes + lane);
    proven |= hn::AllTrue(d, part) ? ((1u << count) - 1u) << lane : mask_bits(d, part, lane);
  }
  return proven;
}

constexpr unsigned kAllLanes = (1u << kFftLanes) - 1u;

// The butterfly on points p and q in place, redoing what is unproven.
template <bool kUnit = false>
HWY_INLINE void butterfly(double* p, double* q, FftTwiddle w) {
  alignas(64) double out[4 * kFftLanes];
  const unsigned proven = butterfly_lanes<kUnit>(p, q, w, out);
  if (HWY_UNLIKELY(proven != kAllLanes)) redo_lanes(p, q, proven, w, out);
  const D d;
  const std::size_t count = hn::Lanes(d);
  for (std::size_t lane = 0; lane < 2 * kFftLanes; lane += count) {
    hn::StoreU(hn::LoadU(d, out + lane), d, p + lane);
    hn::StoreU(hn::LoadU(d, out + 2 * kFftLanes + lane), d, q + lane);
  }
}

// The butterfly on points p and q in plain double arithmetic, for stages whose every step the
// caller has proven exact (then each is the extended butterfly's value, zero signs included:
// the operations are the extended butterfly's, and exact results round alike).
HWY_INLINE void butterfly_exact(double* p, double* q, FftTwiddle w) {
  const D d;
  const V w_re = hn::Set(d, w.re);
  const V w_im = hn::Set(d, w.im);
  for (std::size_t lane = 0; lane < kFftLanes; lane += hn::Lanes(d)) {
    const V p_re = hn::LoadU(d, p + lane);
    const V p_im = hn::LoadU(d, p + kFftLanes + lane);
    const V q_re = hn::LoadU(d, q + lane);
    const V q_im = hn::LoadU(d, q + kFftLanes + lane);
    const V t_re = hn::Sub(hn::Mul(w_re, q_re), hn::Mul(w_im, q_im));
    const V t_im = hn::Add(hn::Mul(w_re, q_im), hn::Mul(w_im, q_re));
    hn::StoreU(hn::Sub(p_re, t_re), d, q + lane);
    hn::StoreU(hn::Sub(p_im, t_im), d, q + kFftLanes + lane);
    hn::StoreU(hn::Add(p_re, t_re), d, p + lane);
    hn::StoreU(hn::Add(p_im, t_im), d, p + kFftLanes + lane);
  }
}

// One stage of exact butterflies with half-span `half` over points [begin, end).
void stage_exact(double* data, std::size_t begin, std::size_t end, std::size_t half, const FftTwiddle* w) {
  for (std::size_t group = begin; group < end; group += 2 * half) {
    double* p = data + 2 * kFftLanes * group;
    for (std::size_t k = 0; k < half; ++k) butterfly_exact(p + 2 * kFftLanes * k, p + 2 * kFftLanes * (k + half), w[k]);
  }
}

// One stage with half-span `half` over points [begin, end).
void stage(double* data, std::size_t begin, std::size_t end, std::size_t half, const FftTwiddle* w) {
  for (std::size_t group = begin; group < end; group += 2 * half) {
    double* p = data + 2 * kFftLanes * group;
    double* q = p + 2 * kFftLanes * half;
    butterfly<true>(p, q, w[0]);
    for (std::size_t k = 1; k < half; ++k) butterfly(p + 2 * kFftLanes * k, q + 2 * kFftLanes * k, w[k]);
  }
}

// The stages with half-spans `half` and 2 `half` in one pass: within each group of 4 `half`
// points, the second stage's butterflies read only what the first stage's wrote there.
void stage_pair(double* data, std::size_t n, std::size_t half, const FftTwiddle* w1, const FftTwiddle* w2) {
  constexpr std::size_t kPoint = 2 * kFftLanes;
  for (std::size_t group = 0; group < n; group += 4 * half) {
    double* a = data + kPoint * group;
    double* b = a + kPoint * half;
    double* c = b + kPoint * half;
    double* e = c + kPoint * half;
    butterfly<true>(a, b, w1[0]);
    butterfly<true>(c, e, w1[0]);
    butterfly<true>(a, c, w2[0]);
    butterfly(b, e, w2[half]);
    for (std::size_t k = 1; k < half; ++k) {
      butterfly(a + kPoint * k, b + kPoint * k, w1[k]);
      butterfly(c + kPoint * k, e + kPoint * k, w1[k]);
      butterfly(a + kPoint * k, c + kPoint * k, w2[k]);
      butterfly(b + kPoint * k, e + kPoint * k, w2[half + k]);
    }
  }
}

bool HasKernel() { return true; }

// Whether every value is finite and at most kMostInput in magnitude.
bool inputs_in_range(const double* data, std::size_t count) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V most = hn::Set(d, kMostInput);
  M fits = hn::FirstN(d, lanes);
  for (std::size_t i = 0; i < count; i += lanes) fits = hn::And(fits, hn::Le(hn::Abs(hn::LoadU(d, data + i)), most));
  return hn::AllTrue(d, fits);
}

bool StagesKernel(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t exact_below, bool check_range) {
  if (check_range && !inputs_in_range(data, 2 * kFftLanes * n)) return false;
  const std::size_t block = std::min(n, kBlockPoints);
  for (std::size_t begin = 0; begin < n; begin += block) {
    for (std::size_t half = 1; half < block; half *= 2) {
      if (half < exact_below) {
        stage_exact(data, begin, begin + block, half, twiddles + (half - 1));
      } else {
        stage(data, begin, begin + block, half, twiddles + (half - 1));
      }
    }
  }
  std::size_t half = block;
  while (half < n) {
    if (4 * half <= n) {
      stage_pair(data, n, half, twiddles + (half - 1), twiddles + (2 * half - 1));
      half *= 4;
    } else {
      stage(data, 0, n, half, twiddles + (half - 1));
      half *= 2;
    }
  }
  return true;
}

bool ButterflyKernel(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked, unsigned* redone) {
  // Into lane layout: p's real and imaginary parts, then q's.
  double p[2 * kFftLanes];
  double q[2 * kFftLanes];
  std::copy(lanes.p_re, lanes.p_re + kFftLanes, p);
  std::copy(lanes.p_im, lanes.p_im + kFftLanes, p + kFftLanes);
  std::copy(lanes.q_re, lanes.q_re + kFftLanes, q);
  std::copy(lanes.q_im, lanes.q_im + kFftLanes, q + kFftLanes);
  double out[4 * kFftLanes];
  const unsigned proven = butterfly_lanes<false, true>(p, q, w, out);
  const auto take = [&](ButterflyLanes& to) {
    std::copy(out, out + kFftLanes, to.p_re);
    std::copy(out + kFftLanes, out + 2 * kFftLanes, to.p_im);
    std::copy(out + 2 * kFftLanes, out + 3 * kFftLanes, to.q_re);
    std::copy(out + 3 * kFftLanes, out + 4 * kFftLanes, to.q_im);
  };
  if (unchecked != nullptr) take(*unchecked);
  redo_lanes(p, q, proven, w, out);
  take(lanes);
  *redone = ~proven & kAllLanes;
  return true;
}

#else  // no double lanes on this target: the callers take the extended evaluation

bool HasKernel() { return false; }
bool StagesKernel(double*, std::size_t, const FftTwiddle*, std::size_t, bool) { return false; }
bool ButterflyKernel(ButterflyLanes&, FftTwiddle, ButterflyLanes*, unsigned*) { return false; }

#endif

}  // namespace
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace iq {

HWY_EXPORT(HasKernel);
HWY_EXPORT(StagesKernel);
HWY_EXPORT(ButterflyKernel);

using namespace fft_lane_constants;

bool fft_vector_supported() { return vector_kernels_on() && HWY_DYNAMIC_DISPATCH(HasKernel)(); }

bool fft_twiddles_fit_vector(const FftTwiddle* twiddles, std::size_t count) {
  const auto fits = [](double v) {
    const double magnitude = std::fabs(v);
    return v == 0.0 || (magnitude >= kLeastTwiddle && magnitude <= kMostTwiddle);
  };
  // The first factor of every stage is (1, +0), which the stages take without products.
  for (std::size_t first = 0; first < count; first = 2 * first + 1) {
    if (twiddles[first].re != 1.0 || std::bit_cast<std::uint64_t>(twiddles[first].im) != 0) return false;
  }
  return std::all_of(twiddles, twiddles + count, [&](const FftTwiddle& w) { return fits(w.re) && fits(w.im); });
}

bool fft_stages_vector(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t exact_below, bool check_range) {
  return HWY_DYNAMIC_DISPATCH(StagesKernel)(data, n, twiddles, exact_below, check_range);
}

unsigned butterfly_lanes_vector(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked) {
  unsigned redone = 0;
  HWY_DYNAMIC_DISPATCH(ButterflyKernel)(lanes, w, unchecked, &redone);
  return redone;
}

}  // namespace iq
#endif  // HWY_ONCE
