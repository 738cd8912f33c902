// Coefficient sums of the cross-correlator, on the x87 unit or proven step by step in vectors.
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

// The vector evaluation is written for x86's AVX-512; elsewhere every step takes the extended
// evaluation.
#if defined(__x86_64__) || defined(__i386__)
#define IQ_LAG_SUMS_X86 1
#include <immintrin.h>
#endif

#include <algorithm>

namespace iq {

namespace {

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
      const extended factor = static_cast<extended>(high[j + m]) + low[j + m];
      sums[m] = static_cast<float>(sums[m] + weight * factor);
    }
  }
  std::copy(sums, sums + K, out + first);
}

#if defined(IQ_LAG_SUMS_X86)

// 64 lag positions in 8 vectors of 8 double lanes, each lane holding a single-precision value.
constexpr int kVectors = 8;
constexpr std::size_t kVectorGroup = 8 * kVectors;
// The zero-masked conversions with every lane selected are the plain conversions.
constexpr __mmask8 kAllLanes = 0xFF;

__attribute__((target("avx512f,avx512vl"))) void sum_group_vector(const LagTerms& terms, std::size_t first,
                                                                  float* out, double margin) {
  const double* high = terms.factors.high.data() + first;
  const double* low = terms.factors.low.data() + first;
  const __m512d scale = _mm512_set1_pd(margin);
  __m512d sums[kVectors];
  for (auto& sum : sums) sum = _mm512_setzero_pd();
  const std::size_t window = terms.weights.size();
  for (std::size_t j = 0; j < window; ++j) {
    const __m512d weight = _mm512_set1_pd(terms.rounded_weights[j]);
    __m512d before[kVectors];
    __mmask8 unproven = 0;
    for (int v = 0; v < kVectors; ++v) {
      before[v] = sums[v];
      const __m512d term = _mm512_mul_pd(weight, _mm512_loadu_pd(high + j + 8 * v));
      const __m512d sum = _mm512_add_pd(sums[v], term);
      const __m512d bound = _mm512_mul_pd(_mm512_add_pd(_mm512_abs_pd(sum), _mm512_abs_pd(term)), scale);
      const __m256i below = _mm256_castps_si256(_mm512_maskz_cvtpd_ps(kAllLanes, _mm512_sub_pd(sum, bound)));
      const __m256i above = _mm256_castps_si256(_mm512_maskz_cvtpd_ps(kAllLanes, _mm512_add_pd(sum, bound)));
      unproven = static_cast<__mmask8>(unproven | _mm256_cmpneq_epi32_mask(below, above));
      sums[v] = _mm512_maskz_cvtps_pd(kAllLanes, _mm512_maskz_cvtpd_ps(kAllLanes, sum));
    }
    if (__builtin_expect(unproven != 0, 0)) {
      const extended exact_weight = terms.weights[j];
      for (int v = 0; v < kVectors; ++v) {
        alignas(64) double lanes[8];
        _mm512_store_pd(lanes, before[v]);
        for (std::size_t m = 0; m < 8; ++m) {
          const std::size_t x = j + 8 * static_cast<std::size_t>(v) + m;
          const extended factor = static_cast<extended>(high[x]) + low[x];
          lanes[m] = static_cast<float>(static_cast<extended>(lanes[m]) + exact_weight * factor);
        }
        sums[v] = _mm512_load_pd(lanes);
      }
    }
  }
  for (int v = 0; v < kVectors; ++v) _mm256_storeu_ps(out + first + 8 * v, _mm512_maskz_cvtpd_ps(kAllLanes, sums[v]));
}

#endif  // IQ_LAG_SUMS_X86

}  // namespace

void sum_lags_extended(const LagTerms& terms, std::size_t begin, std::size_t end, float* out) {
  std::size_t i = begin;
  for (; i + 32 <= end; i += 32) sum_group_extended<32>(terms, i, out);
  for (; i + 8 <= end; i += 8) sum_group_extended<8>(terms, i, out);
  for (; i < end; ++i) sum_group_extended<1>(terms, i, out);
}

#if defined(IQ_LAG_SUMS_X86)

bool vector_sums_supported() {
  static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  return supported;
}

void sum_lags_vector(const LagTerms& terms, std::size_t begin, std::size_t end, float* out, double margin) {
  std::size_t i = begin;
  for (; i + kVectorGroup <= end; i += kVectorGroup) sum_group_vector(terms, i, out, margin);
  sum_lags_extended(terms, i, end, out);
}

#else

bool vector_sums_supported() { return false; }

void sum_lags_vector(const LagTerms& terms, std::size_t begin, std::size_t end, float* out, double /*margin*/) {
  sum_lags_extended(terms, begin, end, out);
}

#endif

void sum_lags(const LagTerms& terms, std::size_t begin, std::size_t end, float* out) {
  if (vector_sums_supported()) {
    sum_lags_vector(terms, begin, end, out);
  } else {
    sum_lags_extended(terms, begin, end, out);
  }
}

}  // namespace iq
