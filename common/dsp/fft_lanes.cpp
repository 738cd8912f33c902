// FFT butterflies on eight frames side by side: the vector evaluation and its proof.
//
// Why the vector butterfly stores the extended butterfly's bits. RNk rounds to nearest with a
// k-bit significand (RN53: double, RN64: extended; the extended exponent range never under- or
// overflows for products of doubles). With twiddle (wr, wi), p = (pr, pi), q = (qr, qi), the
// extended butterfly stores
//   t_re = RN53(X),  X = RN64(RN64(wr qr) - RN64(wi qi))      (t_im alike with a sum)
//   q' = RN53(RN64(p - t)),  p' = RN53(RN64(p + t))             (per component)
//
// Lanes are first checked: every twiddle component is 0 or in [2^-100, 2] (checked once per
// plan), qr and qi are 0 or in [2^-800, 2^500], pr and pi at most 2^500 in magnitude. So no
// product underflows or overflows, the FMA errors below are exact and no step overflows.
// Infinities and NaN fail the check (their bit patterns lie above 2^500's); the lane is
// redone in extended precision, as is every lane any step below cannot prove.
//
// Twiddle product A - B, A = wr qr, B = wi qi. In double: m1 = RN53(A), e1 = A - m1 by FMA,
// m2, e2 likewise (exact); s = RN53(m1 - m2) and r = m1 - m2 - s by TwoSum (exact);
// d = RN53(e1 - e2), c = RN53(r + d); hi = RN53(s + c), lo = c - (hi - s) (Fast2Sum).
//  - Exact case: e1 = e2 = r = 0 (either sign). Then A = m1, B = m2 and m1 - m2 = s are
//    doubles, so X = s and t = s, the sign of a zero included: x87 and double subtraction
//    follow the same IEEE rule for it. The lane takes s.
//  - Tie case: e1 = e2 = 0 and |lo| = G (G as below). Then d = 0, c = r, |s| >= |r| (r is
//    the rounding error of s), so hi + lo = s + r = m1 - m2 = V exactly: V is hi plus half a
//    gap, 54 or 55 bits, so X = V and t = RN53(V) = hi.
//  - Otherwise the lane takes hi if RN53(|lo| + E) < G, where
//    E = RN53(RN53(|m1| + |m2|) (2^-63 + 2^-100)) and G is half the gap from hi to its
//    neighbour towards zero (below). Proof: with V = A - B, |A| <= (1 + 2^-53)|m1|, and RN64
//    errors of at most 2^-64 of the value,
//      |X - V| <= 2^-64 (|A| + |B|) (2 + 2^-64) <= 2^-63 (1 + 2^-52) (|m1| + |m2|),
//      |V - (s + c)| = |(e1 - e2 - d) + (r + d - c)| <= 2^-104 (|m1| + |m2|),
//    so |X - (s + c)| < 2^-63 (1 + 2^-41) (|m1| + |m2|) < E (the two roundings of E lose less
//    than the 2^-37 it adds; |m1| + |m2| is 0 or at least 2^-900, so E does not underflow). If |s| >= |c|, Fast2Sum is exact:
//    hi + lo = s + c. Then RN53(|lo| + E) < G implies |lo| + E < G (G is a double), hence
//    |X - hi| < G, X lies strictly inside hi's rounding interval and t = hi. If |s| < |c|,
//    then |c| and |hi| are below 2^-51.9 (|m1| + |m2|), so G <= 2^-53 |hi| < E and the test
//    fails whatever lo is. If hi = 0, G = 0 and the test fails.
//    G: M = RN53(|hi| (1 - 2^-53)) stays in hi's binade unless |hi| is a power of two, where
//    it drops to the binade below, whose spacing is the gap below hi; with 2^k the value of
//    M's exponent field, G = 2^(k-53) (rounded to 0 below the subnormal range: smaller, so
//    still safe).
// Sum S = p +- t (exact). In double: s = RN53(S), e = S - s by TwoSum (exact).
//  - e = 0: S = s is a double, RN64(S) = S and the result is s, zero signs as above.
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
// Capture-like data sends about one lane in a hundred to the extended evaluation.
#include "dsp/fft_lanes.hpp"

// The vector evaluation is written for x86's AVX-512; elsewhere every butterfly takes the
// extended evaluation.
#if defined(__x86_64__) || defined(__i386__)
#define IQ_FFT_X86 1
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>

namespace iq {

namespace {

#define IQ_FFT_VECTOR __attribute__((target("avx512f,avx512vl,fma")))

constexpr std::uint64_t kMagnitudeBits = 0x7fffffffffffffffu;
constexpr std::uint64_t kExponentBits = 0x7ff0000000000000u;
constexpr double kBelowOne = 1.0 - 0x1p-53;     // M = |x| kBelowOne finds the gap below x
constexpr double kProductBound = 0x1p-63 + 0x1p-100;  // E over |m1| + |m2|
constexpr double kHalfGap = 0x1p-53;            // G over 2^k
constexpr double kSumMargin = 0x1p-53 - 0x1p-64;  // the sum's bound on |e| over 2^k
const std::uint64_t kLeastQ = std::bit_cast<std::uint64_t>(0x1p-800);
const std::uint64_t kMostData = std::bit_cast<std::uint64_t>(0x1p500);
constexpr double kLeastTwiddle = 0x1p-100;
constexpr double kMostTwiddle = 2.0;

#if defined(IQ_FFT_X86)

// Stages with spans up to this many points are finished block by block while the block's
// lane data (128 bytes a point) stays in the level-2 cache.
constexpr std::size_t kBlockPoints = 2048;

struct Loaded {
  __m512d p_re, p_im, q_re, q_im;
};

IQ_FFT_VECTOR inline Loaded load_lanes(const double* p, const double* q) {
  return {_mm512_loadu_pd(p), _mm512_loadu_pd(p + 8), _mm512_loadu_pd(q), _mm512_loadu_pd(q + 8)};
}

IQ_FFT_VECTOR inline __m512i magnitude_bits(__m512d x) {
  return _mm512_and_si512(_mm512_castpd_si512(x), _mm512_set1_epi64(static_cast<long long>(kMagnitudeBits)));
}

// 2^k, the value of the exponent field of RN53(x (1 - 2^-53)).
IQ_FFT_VECTOR inline __m512d binade_below(__m512d x) {
  const __m512i bits = _mm512_castpd_si512(_mm512_mul_pd(x, _mm512_set1_pd(kBelowOne)));
  return _mm512_castsi512_pd(_mm512_and_si512(bits, _mm512_set1_epi64(static_cast<long long>(kExponentBits))));
}

// Lanes whose data keeps every step of the proof within range.
IQ_FFT_VECTOR inline __mmask8 lanes_in_range(const Loaded& in) {
  const __m512i q_re = magnitude_bits(in.q_re);
  const __m512i q_im = magnitude_bits(in.q_im);
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i least = _mm512_set1_epi64(static_cast<long long>(kLeastQ - 1));
  // Magnitude bits minus one: zero wraps to the top, tiny values stay below least.
  const __mmask8 tiny = static_cast<__mmask8>(_mm512_cmplt_epu64_mask(_mm512_sub_epi64(q_re, one), least) |
                                              _mm512_cmplt_epu64_mask(_mm512_sub_epi64(q_im, one), least));
  // The zero-masked maxima with every lane selected are the plain maxima.
  constexpr __mmask8 kAll = 0xFF;
  const __m512i largest =
      _mm512_maskz_max_epu64(kAll, _mm512_maskz_max_epu64(kAll, q_re, q_im),
                             _mm512_maskz_max_epu64(kAll, magnitude_bits(in.p_re), magnitude_bits(in.p_im)));
  const __mmask8 large = _mm512_cmpgt_epu64_mask(largest, _mm512_set1_epi64(static_cast<long long>(kMostData)));
  return static_cast<__mmask8>(~(tiny | large));
}

// RN53(RN64(RN64(a x) -+ RN64(b y))); clears the lanes of `proven` it cannot prove.
template <bool kMinus>
IQ_FFT_VECTOR inline __m512d twiddle_product(__m512d a, __m512d x, __m512d b, __m512d y, __mmask8& proven) {
  const __m512d m1 = _mm512_mul_pd(a, x);
  const __m512d e1 = _mm512_fmsub_pd(a, x, m1);
  const __m512d m2 = _mm512_mul_pd(b, y);
  const __m512d e2 = _mm512_fmsub_pd(b, y, m2);
  __m512d s, r, d;
  if constexpr (kMinus) {
    s = _mm512_sub_pd(m1, m2);
    const __m512d part = _mm512_sub_pd(s, m1);
    r = _mm512_sub_pd(_mm512_sub_pd(m1, _mm512_sub_pd(s, part)), _mm512_add_pd(m2, part));
    d = _mm512_sub_pd(e1, e2);
  } else {
    s = _mm512_add_pd(m1, m2);
    const __m512d part = _mm512_sub_pd(s, m1);
    r = _mm512_add_pd(_mm512_sub_pd(m1, _mm512_sub_pd(s, part)), _mm512_sub_pd(m2, part));
    d = _mm512_add_pd(e1, e2);
  }
  const __m512d c = _mm512_add_pd(r, d);
  const __m512d hi = _mm512_add_pd(s, c);
  const __m512d lo = _mm512_sub_pd(c, _mm512_sub_pd(hi, s));
  const __m512d bound = _mm512_mul_pd(_mm512_add_pd(_mm512_abs_pd(m1), _mm512_abs_pd(m2)), _mm512_set1_pd(kProductBound));
  const __m512d half_gap = _mm512_mul_pd(binade_below(hi), _mm512_set1_pd(kHalfGap));
  const __mmask8 inside = _mm512_cmp_pd_mask(_mm512_add_pd(_mm512_abs_pd(lo), bound), half_gap, _CMP_LT_OQ);
  const __m512i magnitude = _mm512_set1_epi64(static_cast<long long>(kMagnitudeBits));
  const __mmask8 exact_products =
      _mm512_testn_epi64_mask(_mm512_or_si512(_mm512_castpd_si512(e1), _mm512_castpd_si512(e2)), magnitude);
  const __mmask8 exact = static_cast<__mmask8>(exact_products & _mm512_testn_epi64_mask(_mm512_castpd_si512(r), magnitude));
  const __mmask8 tie = static_cast<__mmask8>(exact_products & _mm512_cmp_pd_mask(_mm512_abs_pd(lo), half_gap, _CMP_EQ_OQ));
  proven = static_cast<__mmask8>(proven & (exact | inside | tie));
  return _mm512_mask_blend_pd(exact, hi, s);
}

// RN53(RN64(a -+ t)); clears the lanes of `proven` it cannot prove.
template <bool kMinus>
IQ_FFT_VECTOR inline __m512d extended_sum(__m512d a, __m512d t, __mmask8& proven) {
  __m512d s, e;
  if constexpr (kMinus) {
    s = _mm512_sub_pd(a, t);
    const __m512d part = _mm512_sub_pd(s, a);
    e = _mm512_sub_pd(_mm512_sub_pd(a, _mm512_sub_pd(s, part)), _mm512_add_pd(t, part));
  } else {
    s = _mm512_add_pd(a, t);
    const __m512d part = _mm512_sub_pd(s, a);
    e = _mm512_add_pd(_mm512_sub_pd(a, _mm512_sub_pd(s, part)), _mm512_sub_pd(t, part));
  }
  const __m512d binade = binade_below(s);
  const __m512d error = _mm512_abs_pd(e);
  const __mmask8 inside = _mm512_cmp_pd_mask(error, _mm512_mul_pd(binade, _mm512_set1_pd(kSumMargin)), _CMP_LT_OQ);
  const __mmask8 tie = _mm512_cmp_pd_mask(error, _mm512_mul_pd(binade, _mm512_set1_pd(kHalfGap)), _CMP_EQ_OQ);
  proven = static_cast<__mmask8>(proven & (inside | tie));
  return s;
}

// Stores the vector results of eight butterflies to p and q; returns the proven lanes. With
// kUnit the twiddle is (1, +0): every product is exact, t = q -+ 0 q' in double is the
// extended t (zero signs included), and only the sums need proof.
template <bool kUnit = false>
IQ_FFT_VECTOR inline __mmask8 butterfly_kernel(const Loaded& in, __m512d w_re, __m512d w_im, double* p, double* q) {
  __mmask8 proven = lanes_in_range(in);
  __m512d t_re, t_im;
  if constexpr (kUnit) {
    t_re = _mm512_sub_pd(in.q_re, _mm512_mul_pd(w_im, in.q_im));
    t_im = _mm512_add_pd(in.q_im, _mm512_mul_pd(w_im, in.q_re));
  } else {
    t_re = twiddle_product<true>(w_re, in.q_re, w_im, in.q_im, proven);
    t_im = twiddle_product<false>(w_re, in.q_im, w_im, in.q_re, proven);
  }
  _mm512_storeu_pd(q, extended_sum<true>(in.p_re, t_re, proven));
  _mm512_storeu_pd(q + 8, extended_sum<true>(in.p_im, t_im, proven));
  _mm512_storeu_pd(p, extended_sum<false>(in.p_re, t_re, proven));
  _mm512_storeu_pd(p + 8, extended_sum<false>(in.p_im, t_im, proven));
  return proven;
}

// Redoes the given lanes of a butterfly in extended precision from its inputs.
IQ_FFT_VECTOR __attribute__((noinline, cold)) void redo_lanes(const Loaded& in, unsigned lanes, FftTwiddle w,
                                                              double* p, double* q) {
  alignas(64) double values[4][kFftLanes];
  _mm512_store_pd(values[0], in.p_re);
  _mm512_store_pd(values[1], in.p_im);
  _mm512_store_pd(values[2], in.q_re);
  _mm512_store_pd(values[3], in.q_im);
  for (std::size_t l = 0; l < kFftLanes; ++l) {
    if ((lanes >> l & 1u) == 0) continue;
    butterfly_extended(values[0][l], values[1][l], values[2][l], values[3][l], w.re, w.im);
    p[l] = values[0][l];
    p[8 + l] = values[1][l];
    q[l] = values[2][l];
    q[8 + l] = values[3][l];
  }
}

template <bool kUnit = false>
IQ_FFT_VECTOR inline void butterfly_vector(double* p, double* q, FftTwiddle w) {
  const Loaded in = load_lanes(p, q);
  const __mmask8 proven = butterfly_kernel<kUnit>(in, _mm512_set1_pd(w.re), _mm512_set1_pd(w.im), p, q);
  if (__builtin_expect(proven != 0xFF, 0)) redo_lanes(in, ~proven & 0xFFu, w, p, q);
}

// One stage with half-span `half` over points [begin, end).
IQ_FFT_VECTOR void stage(double* data, std::size_t begin, std::size_t end, std::size_t half, const FftTwiddle* w) {
  for (std::size_t group = begin; group < end; group += 2 * half) {
    double* p = data + 16 * group;
    double* q = p + 16 * half;
    butterfly_vector<true>(p, q, w[0]);
    for (std::size_t k = 1; k < half; ++k) butterfly_vector(p + 16 * k, q + 16 * k, w[k]);
  }
}

// The stages with half-spans `half` and 2 `half` in one pass: within each group of 4 `half`
// points, the second stage's butterflies read only what the first stage's wrote there.
IQ_FFT_VECTOR void stage_pair(double* data, std::size_t n, std::size_t half, const FftTwiddle* w1,
                              const FftTwiddle* w2) {
  for (std::size_t group = 0; group < n; group += 4 * half) {
    double* a = data + 16 * group;
    double* b = a + 16 * half;
    double* c = b + 16 * half;
    double* d = c + 16 * half;
    butterfly_vector<true>(a, b, w1[0]);
    butterfly_vector<true>(c, d, w1[0]);
    butterfly_vector<true>(a, c, w2[0]);
    butterfly_vector(b, d, w2[half]);
    for (std::size_t k = 1; k < half; ++k) {
      butterfly_vector(a + 16 * k, b + 16 * k, w1[k]);
      butterfly_vector(c + 16 * k, d + 16 * k, w1[k]);
      butterfly_vector(a + 16 * k, c + 16 * k, w2[k]);
      butterfly_vector(b + 16 * k, d + 16 * k, w2[half + k]);
    }
  }
}

#endif  // IQ_FFT_X86

}  // namespace

#if defined(IQ_FFT_X86)

bool fft_vector_supported() {
  static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                                __builtin_cpu_supports("fma");
  return supported;
}

#else

bool fft_vector_supported() { return false; }

#endif

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

#if defined(IQ_FFT_X86)

IQ_FFT_VECTOR void fft_stages_vector(double* data, std::size_t n, const FftTwiddle* twiddles) {
  const std::size_t block = std::min(n, kBlockPoints);
  for (std::size_t begin = 0; begin < n; begin += block) {
    for (std::size_t half = 1; half < block; half *= 2) stage(data, begin, begin + block, half, twiddles + (half - 1));
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
}

IQ_FFT_VECTOR unsigned butterfly_lanes_vector(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked) {
  const Loaded in = load_lanes(lanes.p_re, lanes.q_re);
  const __mmask8 proven = butterfly_kernel(in, _mm512_set1_pd(w.re), _mm512_set1_pd(w.im), lanes.p_re, lanes.q_re);
  if (unchecked != nullptr) *unchecked = lanes;
  const unsigned redone = ~proven & 0xFFu;
  if (redone != 0) redo_lanes(in, redone, w, lanes.p_re, lanes.q_re);
  return redone;
}

#else

// Without the vector evaluation: the same stages, butterfly by butterfly in extended precision.
void fft_stages_vector(double* data, std::size_t n, const FftTwiddle* twiddles) {
  for (std::size_t half = 1; half < n; half *= 2) {
    for (std::size_t group = 0; group < n; group += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        double* p = data + 16 * (group + k);
        double* q = p + 16 * half;
        for (std::size_t l = 0; l < kFftLanes; ++l) {
          butterfly_extended(p[l], p[8 + l], q[l], q[8 + l], twiddles[half - 1 + k].re, twiddles[half - 1 + k].im);
        }
      }
    }
  }
}

unsigned butterfly_lanes_vector(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked) {
  for (std::size_t l = 0; l < kFftLanes; ++l) {
    butterfly_extended(lanes.p_re[l], lanes.p_im[l], lanes.q_re[l], lanes.q_im[l], w.re, w.im);
  }
  if (unchecked != nullptr) *unchecked = lanes;
  return 0xFFu;
}

#endif

}  // namespace iq
