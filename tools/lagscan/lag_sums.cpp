// Coefficient sums of the cross-correlator, in extended precision or proven step by step in
// vectors (written once with Highway, compiled for every vector target; the proof holds lane by
// lane whatever the width, and needs no fused multiply-add).
//
// Why the vector step gives the extended step's bits. Write w for a weight and f for a factor
// (extended values), a for the single-precision sum so far. The extended step stores
//   a' = RN24(Y),  Y = RN64(a + T),  T = RN64(w * f)
// (RNk: round to nearest with a k-bit significand; RN24 also in the single-precision range).
// The vector step computes in double precision p = RN53(RN53(w) * RN53(f)) and
// s = RN53(a + p). Then |p - T| <= 3.02 * 2^-53 |p| and
//   |s - Y| <= 2^-53 |s| + 2^-51 |p| + 2^-64 |a + T| <= 2^-52 |s| + 2^-50 |p| < E,
// with E = 2^-49 (|s| + |p|). The double values s - E and s + E (rounded) still enclose Y and
// s. RN24 is monotonic, so when RN24(s - E) and RN24(s + E) are the same single-precision value
// (compared bit for bit, which also keeps the sign of a zero), RN24(Y) = RN24(s) is that value
// too. Otherwise the step is redone in extended precision. That happens about once in tens of
// millions of steps.
#include "lag_sums.hpp"
#include "lag_step.hpp"

#include <algorithm>

#include "dsp/vector_target.hpp"

// Highway compiles this file once per target.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "lag_sums.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

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

// The extended step of `count` lag positions from `first` at window entry j, on sums held as
// doubles.
inline void redo_step(const LagTerms& terms, std::size_t first, std::size_t j, std::size_t count, double* sums) {
  const extended weight = terms.weights[j];
  const double* high = terms.factors.high.data() + first + j;
  const double* low = terms.factors.low.data() + first + j;
  for (std::size_t m = 0; m < count; ++m) {
    const extended factor = static_cast<extended>(high[m]) + low[m];
    sums[m] = static_cast<float>(static_cast<extended>(sums[m]) + weight * factor);
  }
}

// Vectors of lag positions summed side by side: enough independent chains to hide the
// latency of an addition and two conversions.
constexpr std::size_t kChains = 4;

}  // namespace iq::lag_sums_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace lag_sums_detail;

// Double lanes with IEEE conversions to single precision (the emulated target clamps instead).
#if HWY_HAVE_FLOAT64 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128

using D = hn::CappedTag<double, 16>;
using V = hn::Vec<D>;
using DF = hn::Rebind<float, D>;
using DI = hn::Rebind<std::int32_t, D>;
using MI = hn::Mask<DI>;

// One vector step: the new sum rounded to single precision (held as a double); marks in
// `unproven` the lanes whose rounding the bound cannot decide.
HWY_INLINE V step(D d, V sum, V weight, const double* factors, V scale, MI& unproven) {
  const DF df;
  const DI di;
  const V term = hn::Mul(weight, hn::LoadU(d, factors));
  const V next = hn::Add(sum, term);
  const V bound = hn::Mul(hn::Add(hn::Abs(next), hn::Abs(term)), scale);
  const auto below = hn::BitCast(di, hn::DemoteTo(df, hn::Sub(next, bound)));
  const auto above = hn::BitCast(di, hn::DemoteTo(df, hn::Add(next, bound)));
  unproven = hn::Or(unproven, hn::Ne(below, above));
  return hn::PromoteTo(d, hn::DemoteTo(df, next));
}

std::size_t GroupLags() { return kChains * hn::Lanes(D()); }

// Coefficients of GroupLags() lag positions from `first`.
void SumGroup(const LagTerms& terms, std::size_t first, float* out, double margin) {
  const D d;
  const DI di;
  const std::size_t lanes = hn::Lanes(d);
  const double* high = terms.factors.high.data() + first;
  const V scale = hn::Set(d, margin);
  V s0 = hn::Zero(d), s1 = hn::Zero(d), s2 = hn::Zero(d), s3 = hn::Zero(d);
  const std::size_t window = terms.weights.size();
  for (std::size_t j = 0; j < window; ++j) {
    const V weight = hn::Set(d, terms.rounded_weights[j]);
    MI unproven = hn::MaskFromVec(hn::Zero(di));
    const V n0 = step(d, s0, weight, high + j, scale, unproven);
    const V n1 = step(d, s1, weight, high + j + lanes, scale, unproven);
    const V n2 = step(d, s2, weight, high + j + 2 * lanes, scale, unproven);
    const V n3 = step(d, s3, weight, high + j + 3 * lanes, scale, unproven);
    if (HWY_UNLIKELY(!hn::AllFalse(di, unproven))) {
      double sums[kChains * 16];
      hn::StoreU(s0, d, sums);
      hn::StoreU(s1, d, sums + lanes);
      hn::StoreU(s2, d, sums + 2 * lanes);
      hn::StoreU(s3, d, sums + 3 * lanes);
      redo_step(terms, first, j, kChains * lanes, sums);
      s0 = hn::LoadU(d, sums);
      s1 = hn::LoadU(d, sums + lanes);
      s2 = hn::LoadU(d, sums + 2 * lanes);
      s3 = hn::LoadU(d, sums + 3 * lanes);
    } else {
      s0 = n0;
      s1 = n1;
      s2 = n2;
      s3 = n3;
    }
  }
  const DF df;
  hn::StoreU(hn::DemoteTo(df, s0), df, out + first);
  hn::StoreU(hn::DemoteTo(df, s1), df, out + first + lanes);
  hn::StoreU(hn::DemoteTo(df, s2), df, out + first + 2 * lanes);
  hn::StoreU(hn::DemoteTo(df, s3), df, out + first + 3 * lanes);
}

#else  // no kernel on this target: the callers take the extended evaluation

std::size_t GroupLags() { return 0; }
void SumGroup(const LagTerms&, std::size_t, float*, double) {}

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
  if (group > 0) {
    for (; i + group <= end; i += group) HWY_DYNAMIC_DISPATCH(SumGroup)(terms, i, out, margin);
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
