// SPDX-License-Identifier: MIT
// Coefficient sums of the cross-correlator, in extended precision or proven step by step in
// vectors (written once with Highway, compiled for every vector target; the proof holds lane by lane
// whatever the width, with or without a fused multiply-add).
//
// Why the vector step gives the extended step's bits. Write w for a weight and f for a factor
// (extended values), a for the single-precision sum so far. The extended step stores
//   a' = RN24(Y),  Y = RN64(a + T),  T = RN64(w * f)
// (RNk: round to nearest with a k-bit significand; RN24 also in the single-precision range).
// The vector step computes in double precision p = RN53(RN53(w) * RN53(f)) and
// s = RN53(a + p), or with a fused multiply-add where the target has one s = RN53(a + p) with
// p = RN53(w) * RN53(f) exact. Either way |p - T| <= 3.02 * 2^-53 |p| and
//   |s - Y| <= 2^-53 |s| + 2^-51 |p| + 2^-64 |a + T| <= 2^-50 (|s| + |p|).
// The step bounds |s| + |p| without looking at the lane: with F the largest |RN53(f)| the
// lag positions reach, |p| <= P_j = |RN53(w_j)| F and |s| <= R_j = P_0 + ... + P_j to within
// (1 + 2^-24)^1192 (each stored sum rounds once more), so B = 2^-49 (R_j + P_j) + 2^-120,
// one figure per step for every lane, is more than |s - Y| with room to spare, and Y lies
// strictly between RN53(s - B) and RN53(s + B).
//
// Cells. Read as a 64-bit integer, a double's sign and magnitude bits grow with its magnitude,
// and the single-precision values of the normal range sit on every 2^29-th pattern; the
// patterns from one midpoint between them (included) to the next (excluded) form a cell, and
// adding 2^28 then clearing the low 29 bits maps every pattern of a cell to its
// single-precision value. When both ends s - B and s + B land in one cell, Y lies in it,
// strictly inside, so it is no tie and RN24(Y) is the cell's value: the step stores that, taken
// from the cell of s, which lies between the ends (one addition fewer on the chain of steps). Ends
// of different signs or in different cells send the step to the extended evaluation (so does
// every sum below 2^-120, whose ends straddle zero, and with them the subnormal range, whose
// values are not on the cells). That happens about once in millions of steps.
#include "dsp/lag_sums.hpp"
#include "dsp/lag_step.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// Highway compiles this file once per target.
#define HWY_TARGET_INCLUDE "dsp/lag_sums.cpp"
#include "dsp/highway_kernel.hpp"  // IWYU pragma: keep

#ifndef IQ_LAG_SUMS_ONCE
#define IQ_LAG_SUMS_ONCE
namespace iq::lag_sums_detail {

// Coefficients of K neighbouring lag positions first..first+K-1, side by side; each keeps its
// own single-precision sum and adds its terms in ascending j.
template <int K>
void sum_group_extended(const LagTerms& terms, std::size_t first, float* out) {
  float sums[K] = {};
  const double* high = terms.factors.high.data() + first;
  const double* low = terms.factors.low.data() + first;
  const std::size_t window = terms.weights.size();
  for (std::size_t j = 0; j < window; ++j) {
    const extended weight = terms.weights[j];
    for (int m = 0; m < K; ++m) {
      // Where extended arithmetic is software, the proven double step first (lag_step.hpp).
      if constexpr (!kHardwareExtended) {
        if (lag_step_double(sums[m], terms.rounded_weights[j], high[j + m])) continue;
      }
      const extended factor = static_cast<extended>(high[j + m]) + low[j + m];
      sums[m] = static_cast<float>(sums[m] + weight * factor);
    }
  }
  std::copy(sums, sums + K, out + first);
}

// Step j of `count` lag positions from `first`, on sums held as doubles: each lane by the
// proven double step with its own, tighter bound (lag_step.hpp), else in extended precision.
inline void redo_step(const LagTerms& terms, std::size_t first, std::size_t j, std::size_t count, double* sums,
                      double margin) {
  const extended weight = terms.weights[j];
  const double rounded_weight = terms.rounded_weights[j];
  const double* high = terms.factors.high.data() + first + j;
  const double* low = terms.factors.low.data() + first + j;
  for (std::size_t m = 0; m < count; ++m) {
    auto sum = static_cast<float>(sums[m]);  // a single-precision value: exact
    if (!lag_step_double(sum, rounded_weight, high[m], margin)) {
      const extended factor = static_cast<extended>(high[m]) + low[m];
      sum = static_cast<float>(sum + weight * factor);
    }
    sums[m] = sum;
  }
}

// Vectors of lag positions summed side by side: enough independent chains to hide the
// latency of a step.
constexpr std::size_t kChains = 8;

// Steps taken between two looks at their proofs: a batch with a step not proven is taken again
// step by step from its start.
constexpr std::size_t kBatchSteps = 8;

// The cells of a double's bit pattern (see above): adding kHalfCell and keeping kCellIndex
// rounds the magnitude to 24 bits, halves away from zero.
constexpr std::uint64_t kHalfCell = std::uint64_t{1} << 28;
constexpr std::uint64_t kCellIndex = ~((std::uint64_t{1} << 29) - 1);

// The bound B of every step j for lag positions [begin, end): margin * (R_j + P_j) + 2^-120,
// where P_j = |RN53(w_j)| * F bounds the step's term (F: the largest |factor| these positions
// reach) and R_j = P_0 + ... + P_j the sum after it.
inline std::vector<double> reach_bounds(const LagTerms& terms, std::size_t begin, std::size_t end, double margin) {
  const std::size_t window = terms.weights.size();
  double largest = 0.0;
  for (std::size_t x = begin; x < end + window - 1; ++x)
    largest = std::max(largest, std::fabs(terms.factors.high[x]));
  std::vector<double> bounds(window);
  double reach = 0.0;
  for (std::size_t j = 0; j < window; ++j) {
    const double term = std::fabs(terms.rounded_weights[j]) * largest;
    reach += term;
    bounds[j] = margin * (reach + term) + 0x1p-120;
  }
  return bounds;
}

}  // namespace iq::lag_sums_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace {

using namespace lag_sums_detail;

// Double lanes and 64-bit integer lanes (the emulated target is left to the extended sums).
#if HWY_HAVE_FLOAT64 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128

using D = hn::CappedTag<double, 16>;
using V = hn::Vec<D>;
using DU = hn::RebindToUnsigned<D>;
using VU = hn::Vec<DU>;

// One vector step: the new sum rounded to single precision (held as a double, see the cells
// above) from the cell of the double sum itself, so that the next step need not wait for the
// ends; collects in `apart` the lanes whose two ends lie in different cells.
HWY_INLINE V step(D d, V sum, V weight, const double* factors, V bound, VU& apart) {
  const DU du;
  const VU half = hn::Set(du, kHalfCell);
  const V next = hn::MulAdd(weight, hn::LoadU(d, factors), sum);
  const VU below = hn::Add(hn::BitCast(du, hn::Sub(next, bound)), half);
  const VU above = hn::Add(hn::BitCast(du, hn::Add(next, bound)), half);
  apart = hn::Or(apart, hn::Xor(below, above));
  return hn::BitCast(d, hn::And(hn::Add(hn::BitCast(du, next), half), hn::Set(du, kCellIndex)));
}

std::size_t GroupLags() { return kChains * hn::Lanes(D()); }

// Whether no lane of the steps whose cell differences `apart` gathered has ends in two cells.
HWY_INLINE bool proven(VU apart) {
  const DU du;
  return hn::AllTrue(du, hn::Eq(hn::And(apart, hn::Set(du, kCellIndex)), hn::Zero(du)));
}

// Steps [j, stop) of the GroupLags() lag positions from `first`, from and back into `sums`,
// each step proven or else redone in extended precision.
HWY_NOINLINE void ProvenSteps(const LagTerms& terms, const double* bounds, double margin, std::size_t first,
                              std::size_t j, std::size_t stop, double* sums) {
  const D d;
  const DU du;
  const std::size_t lanes = hn::Lanes(d);
  const double* high = terms.factors.high.data() + first;
  double next[kChains * 16];
  for (; j < stop; ++j) {
    const V weight = hn::Set(d, terms.rounded_weights[j]);
    const V bound = hn::Set(d, bounds[j]);
    VU apart = hn::Zero(du);
    for (std::size_t c = 0; c < kChains; ++c) {
      const V sum = hn::LoadU(d, sums + c * lanes);
      hn::StoreU(step(d, sum, weight, high + j + c * lanes, bound, apart), d, next + c * lanes);
    }
    if (proven(apart)) {
      std::copy(next, next + kChains * lanes, sums);
    } else {
      redo_step(terms, first, j, kChains * lanes, sums, margin);
    }
  }
}

// Coefficients of GroupLags() lag positions from `first`; bounds[j] is the error bound of
// step j (reach_bounds), `margin` that of a step redone lane by lane. The sums live in
// registers for a batch of steps whose proofs are gathered and looked at once; a batch not
// proven is taken again by ProvenSteps.
void SumGroup(const LagTerms& terms, const double* bounds, double margin, std::size_t first, float* out) {
  const D d;
  const DU du;
  const std::size_t lanes = hn::Lanes(d);
  const double* high = terms.factors.high.data() + first;
  const double* rounded_weights = terms.rounded_weights.data();
  const std::size_t window = terms.weights.size();
  double sums[kChains * 16] = {};  // the sums at the start of the batch
  V s0 = hn::Zero(d), s1 = s0, s2 = s0, s3 = s0, s4 = s0, s5 = s0, s6 = s0, s7 = s0;
  for (std::size_t j = 0; j < window;) {
    const std::size_t stop = std::min(j + kBatchSteps, window);
    VU apart = hn::Zero(du);
    for (std::size_t k = j; k < stop; ++k) {
      const V weight = hn::Set(d, rounded_weights[k]);
      const V bound = hn::Set(d, bounds[k]);
      const double* f = high + k;
      s0 = step(d, s0, weight, f, bound, apart);
      s1 = step(d, s1, weight, f + lanes, bound, apart);
      s2 = step(d, s2, weight, f + 2 * lanes, bound, apart);
      s3 = step(d, s3, weight, f + 3 * lanes, bound, apart);
      s4 = step(d, s4, weight, f + 4 * lanes, bound, apart);
      s5 = step(d, s5, weight, f + 5 * lanes, bound, apart);
      s6 = step(d, s6, weight, f + 6 * lanes, bound, apart);
      s7 = step(d, s7, weight, f + 7 * lanes, bound, apart);
    }
    if (HWY_UNLIKELY(!proven(apart))) {
      ProvenSteps(terms, bounds, margin, first, j, stop, sums);
      s0 = hn::LoadU(d, sums);
      s1 = hn::LoadU(d, sums + lanes);
      s2 = hn::LoadU(d, sums + 2 * lanes);
      s3 = hn::LoadU(d, sums + 3 * lanes);
      s4 = hn::LoadU(d, sums + 4 * lanes);
      s5 = hn::LoadU(d, sums + 5 * lanes);
      s6 = hn::LoadU(d, sums + 6 * lanes);
      s7 = hn::LoadU(d, sums + 7 * lanes);
    }
    j = stop;
    hn::StoreU(s0, d, sums);
    hn::StoreU(s1, d, sums + lanes);
    hn::StoreU(s2, d, sums + 2 * lanes);
    hn::StoreU(s3, d, sums + 3 * lanes);
    hn::StoreU(s4, d, sums + 4 * lanes);
    hn::StoreU(s5, d, sums + 5 * lanes);
    hn::StoreU(s6, d, sums + 6 * lanes);
    hn::StoreU(s7, d, sums + 7 * lanes);
  }
  const hn::Rebind<float, D> df;
  for (std::size_t c = 0; c < kChains; ++c) {
    hn::StoreU(hn::DemoteTo(df, hn::LoadU(d, sums + c * lanes)), df, out + first + c * lanes);
  }
}

#else  // no kernel on this target: the callers take the extended evaluation

std::size_t GroupLags() { return 0; }
void SumGroup(const LagTerms&, const double*, double, std::size_t, float*) {}

#endif

}  // namespace
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace iq {

HWY_EXPORT(GroupLags);
HWY_EXPORT(SumGroup);

void sum_lags_extended(const LagTerms& terms, std::size_t begin, std::size_t end, float* out) {
  using lag_sums_detail::sum_group_extended;
  std::size_t i = begin;
  for (; i + 32 <= end; i += 32) sum_group_extended<32>(terms, i, out);
  for (; i + 8 <= end; i += 8) sum_group_extended<8>(terms, i, out);
  for (; i < end; ++i) sum_group_extended<1>(terms, i, out);
}

bool vector_sums_supported() { return vector_kernels_on() && HWY_DYNAMIC_DISPATCH(GroupLags)() > 0; }

void sum_lags_vector(const LagTerms& terms, std::size_t begin, std::size_t end, float* out, double margin) {
  const std::size_t group = HWY_DYNAMIC_DISPATCH(GroupLags)();
  std::size_t i = begin;
  if (group > 0 && begin + group <= end) {
    const std::vector<double> bounds = lag_sums_detail::reach_bounds(terms, begin, end, margin);
    for (; i + group <= end; i += group) HWY_DYNAMIC_DISPATCH(SumGroup)(terms, bounds.data(), margin, i, out);
  }
  sum_lags_extended(terms, i, end, out);
}

void sum_lags(const LagTerms& terms, std::size_t begin, std::size_t end, float* out) {
  if (vector_sums_supported()) {
    sum_lags_vector(terms, begin, end, out);
  } else {
    sum_lags_extended(terms, begin, end, out);
  }
}

}  // namespace iq
#endif  // HWY_ONCE
