// SPDX-License-Identifier: MIT
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
// instead. Products may fall in the subnormal range; the absolute part of E below covers that.
//
// Twiddle product A - B, A = wr qr, B = wi qi (t_im: A = wr qi, B = wi qr), so that
// |A| + |B| <= W Q with W = |wr| + |wi| and Q = max(|qr|, |qi|). In double: m1 = RN53(A),
// e1 = A - m1 by a fused multiply-add, m2, e2 likewise. Targets without a fused multiply-add get
// e1 by Dekker's product instead (operands split in halves of at most 26 bits by Veltkamp's
// constant 2^27 + 1). Both are exact unless a partial result falls in the subnormal range, where
// each operation errs by at most 2^-1075. s = RN53(m1 - m2) and r = m1 - m2 - s by TwoSum
// (exact), c = RN53(r + RN53(e1 - e2)). With RN64 errs of at most 2^-64 of the value,
//   |X - (A - B)| <= 2^-63 (1 + 2^-64) (|A| + |B|),
//   |(A - B) - (s + c)| <= 2^-104 (|A| + |B|) + 2^-1070,
// and |c| <= 2^-51.9 (|A| + |B|). Let E = RN53(K Q + 2^-1000) with K = RN53(RN53(W)
// (2^-63 + 2^-100)) per twiddle (one multiply-add, or a product and a sum). Then
// RN53(c - E) <= c - (E - 2^-53 |c - E|) and that margin still exceeds both bounds above
// (E's own roundings lose less than 2^-114 W Q), so
//   s + RN53(c - E) <= X <= s + RN53(c + E),
// and as RN53 is monotonic, t = RN53(X) lies between lo = RN53(s + RN53(c - E)) and
// hi = RN53(s + RN53(c + E)). The lane takes hi when lo = hi. A sum of two doubles rounds to
// zero only when it is zero, and the two sums differ (|c| < 2^12 E keeps RN53(c - E) below
// RN53(c + E)), so lo = hi holds only for a non-zero t: zero signs never need a proof.
// With the unit twiddle (1, +0) every product is exact and t = q -+ 0 q' in double is the
// extended t, zero signs included.
//
// Sums p +- t. When the larger of |p| and |t| is at most 1024 times the smaller, their binades
// are at most ten apart: p +- t is a multiple of the smaller one's last-place unit below 2^12
// times its binade, at most 64 bits, so RN64 keeps it and the double sum is RN53 of it, the
// sign of a zero included (x87 and double addition follow the same IEEE rule for it).
//
// A lane either test leaves unproven is redone in extended precision. The stages do not branch
// on that per butterfly (the outcome is random, and mispredictions would cost more than the
// butterflies): every butterfly writes its vector results in place and its inputs to the next
// entry of a RedoList, which keeps the entry only when a lane failed; the list is worked off
// before anything reads the butterflies' results. Capture-like data sends about one lane in
// fifty there (one butterfly in seven).
#include "dsp/fft_lanes.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "dsp/fft_scalar.hpp"

// Highway compiles this file once per target.
#define HWY_TARGET_INCLUDE "dsp/fft_lanes.cpp"
#include "dsp/highway_kernel.hpp"  // IWYU pragma: keep

#ifndef IQ_FFT_LANES_CONSTANTS
#define IQ_FFT_LANES_CONSTANTS
namespace iq::fft_lane_constants {

constexpr double kProductBound = 0x1p-63 + 0x1p-100;  // K over |wr| + |wi|
constexpr double kAbsoluteBound = 0x1p-1000;          // E's part for errors in the subnormal range
constexpr double kSumRatio = 1024.0;                  // sums of values this close are exact in 64 bits
constexpr double kMostData = 0x1p500;
constexpr double kMostInput = 0x1p420;  // inputs this size keep every stage below kMostData
constexpr double kLeastTwiddle = 0x1p-100;
constexpr double kMostTwiddle = 2.0;
constexpr double kVeltkamp = 0x1p27 + 1.0;  // splits a double in two halves

// Stages with spans up to this many points are finished block by block while the block's
// lane data (128 bytes a point) stays in the level-2 cache.
constexpr std::size_t kBlockPoints = 2048;
// Butterflies whose lanes failed a proof, kept until their results are needed.
constexpr std::size_t kRedoCapacity = 64;
// Two stages taken in one pass go in runs of this many twiddles: the first stage's butterflies
// of a run, its redo list, then the second stage's, whose inputs are still in the level-1 cache.
constexpr std::size_t kRun = 32;

}  // namespace iq::fft_lane_constants
#endif

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace {

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

// Lanes whose data keeps every step of the proof within range (infinities and NaN fail).
HWY_INLINE M lanes_in_range(D d, V p_re, V p_im, V q_re, V q_im) {
  const V most = hn::Set(d, kMostData);
  const V largest = hn::Max(hn::Max(hn::Abs(p_re), hn::Abs(p_im)), hn::Max(hn::Abs(q_re), hn::Abs(q_im)));
  // Max may drop a NaN operand: NaN lanes are refused by the comparisons of each value.
  const M finite =
      hn::And(hn::And(hn::Eq(p_re, p_re), hn::Eq(p_im, p_im)), hn::And(hn::Eq(q_re, q_re), hn::Eq(q_im, q_im)));
  return hn::And(finite, hn::Le(largest, most));
}

// K of the twiddle: E = K max(|qr|, |qi|) + 2^-1000 bounds the error of both products.
HWY_INLINE double product_bound(FftTwiddle w) { return (std::fabs(w.re) + std::fabs(w.im)) * kProductBound; }

// RN53(RN64(RN64(a x) -+ RN64(b y))) given the error bound E; clears the lanes of `proven` it
// cannot prove.
template <bool kMinus>
HWY_INLINE V twiddle_product(D d, V a, V x, V b, V y, V bound, M& proven) {
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
  const V low = hn::Add(s, hn::Sub(c, bound));
  const V high = hn::Add(s, hn::Add(c, bound));
  proven = hn::And(proven, hn::Eq(low, high));
  return high;
}

// Lanes where a -+ t is exact in 64 bits: the larger magnitude at most kSumRatio times the
// smaller (a zero fails unless both are zero: rare enough to redo).
HWY_INLINE M sums_exact(D d, V a, V t) {
  const V a_size = hn::Abs(a);
  const V t_size = hn::Abs(t);
  return hn::Le(hn::Max(a_size, t_size), hn::Mul(hn::Min(a_size, t_size), hn::Set(d, kSumRatio)));
}

// The butterfly of the lanes [lane, lane + Lanes(d)): stores the vector results to p and q
// (lane layout) and returns the lanes it proved. With kUnit the twiddle is (1, +0) and only
// the sums need proof; with kChecked each lane's range is checked (values not checked before
// the stages).
template <bool kUnit, bool kChecked>
HWY_INLINE M butterfly_part(D d, V p_re, V p_im, V q_re, V q_im, V w_re, V w_im, V k, double* p, double* q) {
  M proven = kChecked ? lanes_in_range(d, p_re, p_im, q_re, q_im) : hn::FirstN(d, hn::Lanes(d));
  V t_re, t_im;
  if constexpr (kUnit) {
    (void)k;
    t_re = hn::Sub(q_re, hn::Mul(w_im, q_im));
    t_im = hn::Add(q_im, hn::Mul(w_im, q_re));
  } else {
    const V bound = hn::MulAdd(hn::Max(hn::Abs(q_re), hn::Abs(q_im)), k, hn::Set(d, kAbsoluteBound));
    t_re = twiddle_product<true>(d, w_re, q_re, w_im, q_im, bound, proven);
    t_im = twiddle_product<false>(d, w_re, q_im, w_im, q_re, bound, proven);
  }
  proven = hn::And(proven, hn::And(sums_exact(d, p_re, t_re), sums_exact(d, p_im, t_im)));
  hn::StoreU(hn::Sub(p_re, t_re), d, q);
  hn::StoreU(hn::Sub(p_im, t_im), d, q + kFftLanes);
  hn::StoreU(hn::Add(p_re, t_re), d, p);
  hn::StoreU(hn::Add(p_im, t_im), d, p + kFftLanes);
  return proven;
}

constexpr unsigned kAllLanes = (1u << kFftLanes) - 1u;

// The extended butterfly for a lane the vector evaluation left unproven: on the x87 unit, or,
// where extended arithmetic is software, the proven double evaluation first.
HWY_INLINE void butterfly_redo(double& p_re, double& p_im, double& q_re, double& q_im, FftTwiddle w) {
  if constexpr (kHardwareExtended) {
    butterfly_extended(p_re, p_im, q_re, q_im, w.re, w.im);
  } else {
    butterfly_fast(p_re, p_im, q_re, q_im, w.re, w.im);
  }
}

// The extended butterfly of lane l from the inputs p and q (lane layout) into p_out and q_out.
HWY_INLINE void redo_lane(const double* p, const double* q, std::size_t l, FftTwiddle w, double* p_out,
                          double* q_out) {
  double p_re = p[l], p_im = p[kFftLanes + l], q_re = q[l], q_im = q[kFftLanes + l];
  butterfly_redo(p_re, p_im, q_re, q_im, w);
  p_out[l] = p_re;
  p_out[kFftLanes + l] = p_im;
  q_out[l] = q_re;
  q_out[kFftLanes + l] = q_im;
}

// Butterflies with a lane to redo: where their results go, their inputs and proven lanes.
struct RedoEntry {
  double* p;
  double* q;
  FftTwiddle w;
  std::uint8_t proven[kFftLanes];            // the mask bits of each vector of lanes
  alignas(64) double inputs[4 * kFftLanes];  // p's then q's values in lane layout
};

// The lanes of a butterfly that failed its proof, one bit each.
HWY_INLINE unsigned failed_lanes(const RedoEntry& entry) {
  const D d;
  const std::size_t count = hn::Lanes(d);
  unsigned proven = 0;
  for (std::size_t part = 0, lane = 0; lane < kFftLanes; ++part, lane += count)
    proven |= unsigned{entry.proven[part]} << lane;
  return ~proven & kAllLanes;
}

// The butterflies of a stage whose proof failed in some lane. Every butterfly fills the next
// entry; `keep` advances past it only when a lane failed, so no butterfly branches on its proof.
class RedoList {
 public:
  RedoEntry& next() { return entries_[count_]; }
  void keep(bool failed) {
    count_ += failed ? 1 : 0;
    if (HWY_UNLIKELY(count_ == kRedoCapacity)) redo();
  }
  // Writes the extended results of the failed lanes of every kept butterfly over the vector
  // ones; needed before anything reads them.
  void redo() {
    for (std::size_t i = 0; i < count_; ++i) redo_entry(entries_[i]);
    count_ = 0;
  }

 private:
  HWY_NOINLINE static void redo_entry(const RedoEntry& entry) {
    const double* p = entry.inputs;
    const double* q = entry.inputs + 2 * kFftLanes;
    for (unsigned failed = failed_lanes(entry); failed != 0; failed &= failed - 1) {
      redo_lane(p, q, static_cast<std::size_t>(std::countr_zero(failed)), entry.w, entry.p, entry.q);
    }
  }

  RedoEntry entries_[kRedoCapacity];
  std::size_t count_ = 0;
};

// The butterfly on points p and q in place; a butterfly with an unproven lane goes on `redo`.
// With kChecked each lane's range is checked (values not checked before the stages).
template <bool kUnit = false, bool kChecked = false>
HWY_INLINE void butterfly(double* p, double* q, FftTwiddle w, RedoList& redo) {
  const D d;
  const std::size_t count = hn::Lanes(d);
  const V w_re = hn::Set(d, w.re);
  const V w_im = hn::Set(d, w.im);
  const V k = hn::Set(d, product_bound(w));
  RedoEntry& entry = redo.next();
  double* inputs = entry.inputs;
  M proven = hn::FirstN(d, count);
  for (std::size_t part = 0, lane = 0; lane < kFftLanes; ++part, lane += count) {
    const V p_re = hn::LoadU(d, p + lane);
    const V p_im = hn::LoadU(d, p + kFftLanes + lane);
    const V q_re = hn::LoadU(d, q + lane);
    const V q_im = hn::LoadU(d, q + kFftLanes + lane);
    hn::StoreU(p_re, d, inputs + lane);
    hn::StoreU(p_im, d, inputs + kFftLanes + lane);
    hn::StoreU(q_re, d, inputs + 2 * kFftLanes + lane);
    hn::StoreU(q_im, d, inputs + 3 * kFftLanes + lane);
    const M part_proven =
        butterfly_part<kUnit, kChecked>(d, p_re, p_im, q_re, q_im, w_re, w_im, k, p + lane, q + lane);
    hn::StoreMaskBits(d, part_proven, entry.proven + part);
    proven = hn::And(proven, part_proven);
  }
  entry.p = p;
  entry.q = q;
  entry.w = w;
  redo.keep(!hn::AllTrue(d, proven));
}

constexpr std::size_t kPoint = 2 * kFftLanes;  // doubles per point in lane layout

// The plain butterfly (below) on values in registers.
HWY_INLINE void butterfly_registers(V& p_re, V& p_im, V& q_re, V& q_im, V w_re, V w_im) {
  const V t_re = hn::MulSub(w_re, q_re, hn::Mul(w_im, q_im));
  const V t_im = hn::MulAdd(w_re, q_im, hn::Mul(w_im, q_re));
  q_re = hn::Sub(p_re, t_re);
  q_im = hn::Sub(p_im, t_im);
  p_re = hn::Add(p_re, t_re);
  p_im = hn::Add(p_im, t_im);
}

// The butterfly on points p and q in plain double arithmetic with fused products where the
// target has them: no proof; the caller bounds the transform's distance from the extended
// evaluation as a whole (dsp/fft_bound.hpp).
HWY_INLINE void butterfly_plain(double* p, double* q, FftTwiddle w) {
  const D d;
  const V w_re = hn::Set(d, w.re);
  const V w_im = hn::Set(d, w.im);
  for (std::size_t lane = 0; lane < kFftLanes; lane += hn::Lanes(d)) {
    V p_re = hn::LoadU(d, p + lane);
    V p_im = hn::LoadU(d, p + kFftLanes + lane);
    V q_re = hn::LoadU(d, q + lane);
    V q_im = hn::LoadU(d, q + kFftLanes + lane);
    butterfly_registers(p_re, p_im, q_re, q_im, w_re, w_im);
    hn::StoreU(q_re, d, q + lane);
    hn::StoreU(q_im, d, q + kFftLanes + lane);
    hn::StoreU(p_re, d, p + lane);
    hn::StoreU(p_im, d, p + kFftLanes + lane);
  }
}

// One stage of plain butterflies with half-span `half` over points [begin, end). Stages whose
// every step the caller has proven exact take it too: then each butterfly is the extended
// one's value, zero signs included (a fused product of exact products is exact as well, and
// exact results round alike).
void stage_plain(double* data, std::size_t begin, std::size_t end, std::size_t half, const FftTwiddle* w) {
  for (std::size_t group = begin; group < end; group += 2 * half) {
    double* p = data + kPoint * group;
    for (std::size_t k = 0; k < half; ++k) butterfly_plain(p + kPoint * k, p + kPoint * (k + half), w[k]);
  }
}

// One stage with half-span `half` over points [begin, end), its redo list worked off.
void stage(double* data, std::size_t begin, std::size_t end, std::size_t half, const FftTwiddle* w,
           RedoList& redo) {
  for (std::size_t group = begin; group < end; group += 2 * half) {
    double* p = data + kPoint * group;
    double* q = p + kPoint * half;
    butterfly<true>(p, q, w[0], redo);
    for (std::size_t k = 1; k < half; ++k) butterfly(p + kPoint * k, q + kPoint * k, w[k], redo);
  }
  redo.redo();
}

// The butterfly with the k-th twiddle of a stage: the first one is (1, +0).
HWY_INLINE void butterfly_at(double* p, double* q, const FftTwiddle* w, std::size_t k, RedoList& redo) {
  if (k == 0) {
    butterfly<true>(p, q, w[0], redo);
  } else {
    butterfly(p, q, w[k], redo);
  }
}

// The stages with half-spans `half` and 2 `half` in one pass: within each group of 4 `half`
// points, the second stage's butterflies with twiddles k and half + k read only what the
// first stage's with twiddle k wrote, so the stages go run by run of kRun twiddles.
void stage_pair(double* data, std::size_t n, std::size_t half, const FftTwiddle* w1, const FftTwiddle* w2,
                RedoList& redo) {
  for (std::size_t group = 0; group < n; group += 4 * half) {
    double* a = data + kPoint * group;
    double* b = a + kPoint * half;
    double* c = b + kPoint * half;
    double* e = c + kPoint * half;
    for (std::size_t run = 0; run < half; run += kRun) {
      const std::size_t end = std::min(half, run + kRun);
      for (std::size_t k = run; k < end; ++k) {
        butterfly_at(a + kPoint * k, b + kPoint * k, w1, k, redo);
        butterfly_at(c + kPoint * k, e + kPoint * k, w1, k, redo);
      }
      redo.redo();
      for (std::size_t k = run; k < end; ++k) {
        butterfly_at(a + kPoint * k, c + kPoint * k, w2, k, redo);
        butterfly(b + kPoint * k, e + kPoint * k, w2[half + k], redo);
      }
      redo.redo();
    }
  }
}

// The stages with half-spans `half` and 2 `half` over points [begin, end) in one pass of plain
// butterflies (as stage_pair): the data is read once for two stages.
void stage_pair_plain(double* data, std::size_t begin, std::size_t end, std::size_t half, const FftTwiddle* w1,
                      const FftTwiddle* w2) {
  for (std::size_t group = begin; group < end; group += 4 * half) {
    double* a = data + kPoint * group;
    double* b = a + kPoint * half;
    double* c = b + kPoint * half;
    double* e = c + kPoint * half;
    for (std::size_t k = 0; k < half; ++k) {
      butterfly_plain(a + kPoint * k, b + kPoint * k, w1[k]);
      butterfly_plain(c + kPoint * k, e + kPoint * k, w1[k]);
      butterfly_plain(a + kPoint * k, c + kPoint * k, w2[k]);
      butterfly_plain(b + kPoint * k, e + kPoint * k, w2[half + k]);
    }
  }
}

bool HasKernel() { return true; }
bool HasFusedKernel() { return HWY_NATIVE_FMA != 0; }

// Whether every value is finite and at most kMostInput in magnitude.
bool inputs_in_range(const double* data, std::size_t count) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V most = hn::Set(d, kMostInput);
  M fits = hn::FirstN(d, lanes);
  for (std::size_t i = 0; i < count; i += lanes)
    fits = hn::And(fits, hn::Le(hn::Abs(hn::LoadU(d, data + i)), most));
  return hn::AllTrue(d, fits);
}

bool StagesKernel(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t exact_below,
                  bool check_range) {
  if (check_range && !inputs_in_range(data, kPoint * n)) return false;
  RedoList redo;
  const std::size_t block = std::min(n, kBlockPoints);
  for (std::size_t begin = 0; begin < n; begin += block) {
    for (std::size_t half = 1; half < block; half *= 2) {
      if (half < exact_below) {
        stage_plain(data, begin, begin + block, half, twiddles + (half - 1));
      } else {
        stage(data, begin, begin + block, half, twiddles + (half - 1), redo);
      }
    }
  }
  std::size_t half = block;
  while (half < n) {
    if (4 * half <= n) {
      stage_pair(data, n, half, twiddles + (half - 1), twiddles + (2 * half - 1), redo);
      half *= 4;
    } else {
      stage(data, 0, n, half, twiddles + (half - 1), redo);
      half *= 2;
    }
  }
  return true;
}

// Plain stages from half-span `half` up to (not including) `end_half` over points [begin, end),
// two at a time where they fit.
void stages_plain(double* data, std::size_t begin, std::size_t end, std::size_t half, std::size_t end_half,
                  const FftTwiddle* twiddles) {
  while (half < end_half) {
    if (4 * half <= end_half) {
      stage_pair_plain(data, begin, end, half, twiddles + (half - 1), twiddles + (2 * half - 1));
      half *= 4;
    } else {
      stage_plain(data, begin, end, half, twiddles + (half - 1));
      half *= 2;
    }
  }
}

bool PlainStagesKernel(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t first_half) {
  const std::size_t block = std::min(n, kBlockPoints);
  for (std::size_t begin = 0; begin < n; begin += block)
    stages_plain(data, begin, begin + block, std::min(first_half, block), block, twiddles);
  stages_plain(data, 0, n, std::max(first_half, block), n, twiddles);
  return true;
}

// The normalised value (b - 127.5) / 128 = b 2^-7 - 255/256 of the bytes in the low eight bits
// of each lane of v: b 2^-7 and the difference are exact (multiples of 2^-8 below 2), fused or not.
template <class DI, class D>
HWY_INLINE hn::Vec<D> normalised_bytes(DI di, D d, hn::Vec<DI> v) {
  const auto byte = hn::PromoteTo(d, hn::And(v, hn::Set(di, 0xff)));
  return hn::MulAdd(byte, hn::Set(d, 0x1p-7), hn::Set(d, -255.0 / 256.0));
}

bool FillKernel(const std::uint8_t* first, std::size_t stride, std::size_t lanes, const std::uint32_t* reversed,
                std::size_t n, const FftTwiddle* twiddles, double* data, double* squares) {
  const D d;
  const hn::Rebind<std::int32_t, D> di;
  const std::size_t count = hn::Lanes(d);
  // Each lane's frame offset, and 1 for a used lane, 0 for one past `lanes` (which reads the
  // first frame and is zeroed: the products are exact).
  std::int32_t offsets[kFftLanes];
  double keep[kFftLanes];
  for (std::size_t l = 0; l < kFftLanes; ++l) {
    offsets[l] = l < lanes ? static_cast<std::int32_t>(l * stride) : 0;
    keep[l] = l < lanes ? 1.0 : 0.0;
    squares[l] = 0.0;
  }
  const bool masked = lanes < kFftLanes;
  const auto* base = reinterpret_cast<const std::int32_t*>(first);
  // Points i and i + n/2 take the neighbouring samples r and r + 1 (r = reversed(i), even): one
  // four-byte read serves both.
  const std::size_t half = n / 2;
  for (std::size_t i = 0; i < half; i += 4) {
    for (std::size_t lane = 0; lane < kFftLanes; lane += count) {
      const auto frame = hn::LoadU(di, offsets + lane);
      const V factor = hn::LoadU(d, keep + lane);
      const auto value = [&](hn::Vec<decltype(di)> v) {
        const V x = normalised_bytes(di, d, v);
        return masked ? hn::Mul(x, factor) : x;
      };
      V sum = hn::LoadU(d, squares + lane);
      for (std::size_t j = 0; j < 4; ++j) {
        const auto offset = hn::Add(frame, hn::Set(di, static_cast<std::int32_t>(2 * reversed[i + j])));
        const auto samples = hn::GatherOffset(di, base, offset);
        double* x = data + kPoint * (i + j) + lane;
        double* y = data + kPoint * (i + j + half) + lane;
        const V x_re = value(samples);
        const V x_im = value(hn::ShiftRight<8>(samples));
        const V y_re = value(hn::ShiftRight<16>(samples));
        const V y_im = value(hn::ShiftRight<24>(samples));
        hn::StoreU(x_re, d, x);
        hn::StoreU(x_im, d, x + kFftLanes);
        hn::StoreU(y_re, d, y);
        hn::StoreU(y_im, d, y + kFftLanes);
        sum = hn::MulAdd(x_re, x_re, hn::MulAdd(x_im, x_im, sum));
        sum = hn::MulAdd(y_re, y_re, hn::MulAdd(y_im, y_im, sum));
      }
      hn::StoreU(sum, d, squares + lane);
    }
    // The first two stages on the four points just filled (still in the first-level cache),
    // in each half.
    for (const std::size_t at : {i, i + half}) {
      double* p = data + kPoint * at;
      butterfly_plain(p, p + kPoint, twiddles[0]);
      butterfly_plain(p + 2 * kPoint, p + 3 * kPoint, twiddles[0]);
      butterfly_plain(p, p + 2 * kPoint, twiddles[1]);
      butterfly_plain(p + kPoint, p + 3 * kPoint, twiddles[2]);
    }
  }
  return true;
}

bool ButterflyKernel(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked, unsigned* redone) {
  // Into lane layout: p's real and imaginary parts, then q's; the stages' butterfly in place.
  double p[2 * kFftLanes];
  double q[2 * kFftLanes];
  std::copy(lanes.p_re, lanes.p_re + kFftLanes, p);
  std::copy(lanes.p_im, lanes.p_im + kFftLanes, p + kFftLanes);
  std::copy(lanes.q_re, lanes.q_re + kFftLanes, q);
  std::copy(lanes.q_im, lanes.q_im + kFftLanes, q + kFftLanes);
  const auto take = [&](ButterflyLanes& to) {
    std::copy(p, p + kFftLanes, to.p_re);
    std::copy(p + kFftLanes, p + 2 * kFftLanes, to.p_im);
    std::copy(q, q + kFftLanes, to.q_re);
    std::copy(q + kFftLanes, q + 2 * kFftLanes, to.q_im);
  };
  RedoList redo;
  const RedoEntry& entry = redo.next();
  butterfly<false, true>(p, q, w, redo);
  if (unchecked != nullptr) take(*unchecked);
  *redone = failed_lanes(entry);
  redo.redo();
  take(lanes);
  return true;
}

#else  // no double lanes on this target: the callers take the extended evaluation

bool HasKernel() { return false; }
bool HasFusedKernel() { return false; }
bool StagesKernel(double*, std::size_t, const FftTwiddle*, std::size_t, bool) { return false; }
bool PlainStagesKernel(double*, std::size_t, const FftTwiddle*, std::size_t) { return false; }
bool FillKernel(const std::uint8_t*, std::size_t, std::size_t, const std::uint32_t*, std::size_t,
                const FftTwiddle*, double*, double*) {
  return false;
}
bool ButterflyKernel(ButterflyLanes&, FftTwiddle, ButterflyLanes*, unsigned*) { return false; }

#endif

}  // namespace
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace iq {

HWY_EXPORT(HasKernel);
HWY_EXPORT(HasFusedKernel);
HWY_EXPORT(StagesKernel);
HWY_EXPORT(PlainStagesKernel);
HWY_EXPORT(FillKernel);
HWY_EXPORT(ButterflyKernel);

using namespace fft_lane_constants;

bool fft_vector_supported() { return vector_kernels_on() && HWY_DYNAMIC_DISPATCH(HasKernel)(); }

bool fft_vector_fused() { return fft_vector_supported() && HWY_DYNAMIC_DISPATCH(HasFusedKernel)(); }

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

bool fft_stages_vector(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t exact_below,
                       bool check_range) {
  return HWY_DYNAMIC_DISPATCH(StagesKernel)(data, n, twiddles, exact_below, check_range);
}

bool fft_stages_plain(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t first_half) {
  return HWY_DYNAMIC_DISPATCH(PlainStagesKernel)(data, n, twiddles, first_half);
}

bool fft_fill_two_stages(const std::uint8_t* first, std::size_t stride, std::size_t lanes,
                         const std::uint32_t* reversed, std::size_t n, const FftTwiddle* twiddles, double* data,
                         double* squares) {
  return HWY_DYNAMIC_DISPATCH(FillKernel)(first, stride, lanes, reversed, n, twiddles, data, squares);
}

unsigned butterfly_lanes_vector(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked) {
  unsigned redone = 0;
  HWY_DYNAMIC_DISPATCH(ButterflyKernel)(lanes, w, unchecked, &redone);
  return redone;
}

}  // namespace iq
#endif  // HWY_ONCE
