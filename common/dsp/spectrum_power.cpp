// SPDX-License-Identifier: MIT
// The power of every bin of a transformed frame, in vectors, proven against the extended
// evaluation (Highway, every vector target; the proof holds lane by lane whatever the width).
//
// Why the vector power is the extended one. The extended evaluation stores
//   power = RN24(Y),  Y = RN64(RN64(re re) + RN64(im im))
// (RNk: round to nearest with a k-bit significand; RN24 also in the single-precision range;
// the extended exponent range never under- or overflows for these). In double: a = RN53(re re),
// b = RN53(im im), s = RN53(a + b) (or s = RN53(re re + b) fused, which errs less). With P = re re + im im, each
// double rounding errs by at most 2^-53 of its value or 2^-1075 in the subnormal range, so
//   |s - P| <= 2^-53 P + 2^-53 s + 2^-1074,  |Y - P| <= 2^-63 (1 + 2^-60) P,
//   |s - Y| <= 2^-51.9 s + 2^-1073 < E,  E = RN53(RN53(s 2^-50) + 2^-1000)
// (the two roundings of E lose far less than the room left). Let f = RN24(s) (a conversion to
// single precision and back) and G half the single-precision gap from f to its neighbour
// towards zero: 2^(k-24) with 2^k the exponent field's value of RN53(f (1 - 2^-53)), which
// drops to the binade below exactly when f is a power of two (below the normal single range G
// is smaller than the true half gap: safe). s - f is exact (Sterbenz: f is within a factor of
// two of s). If RN53(|s - f| + E) < G, then |s - f| + E < G (G is a double), so
// |Y - f| < G: Y lies strictly inside f's rounding interval and RN24(Y) = f. Otherwise (also
// for f zero, infinite or NaN, where the test fails) the bin is redone in extended precision.
#include "dsp/spectrum_power.hpp"
#include "dsp/spectrum.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "arith/precision.hpp"

// Highway compiles this file once per target.
#define HWY_TARGET_INCLUDE "dsp/spectrum_power.cpp"
#include "dsp/highway_kernel.hpp"  // IWYU pragma: keep

#ifndef IQ_SPECTRUM_POWER_ONCE
#define IQ_SPECTRUM_POWER_ONCE
namespace iq::spectrum_power_detail {

constexpr double kBelowOne = 1.0 - 0x1p-53;  // f kBelowOne lies in the binade below a power of two f
constexpr double kSingleHalfGap = 0x1p-24;   // half a single-precision gap over its binade
constexpr double kRelativeBound = 0x1p-50;
constexpr double kAbsoluteBound = 0x1p-1000;
constexpr double kSpreadRoundUp = 1.0 + 0x1p-40;
constexpr std::uint64_t kExponentBits = 0x7ff0000000000000u;

// StoreNearPowers (below) for one bin.
inline bool bin_power_near(double re, double im, double distance, float& power) {
  const double s = re * re + im * im;
  const auto single = static_cast<float>(s);
  const auto f = static_cast<double>(single);
  const double binade = std::bit_cast<double>(std::bit_cast<std::uint64_t>(f * kBelowOne) & kExponentBits);
  const double magnitude = std::fabs(re) + std::fabs(im);
  const double spread = distance * ((magnitude + magnitude) + distance);
  const double bound = (s * kRelativeBound + kAbsoluteBound) + spread * kSpreadRoundUp;
  power = single;
  return std::fabs(s - f) + bound < binade * kSingleHalfGap;
}

inline float power_extended(double re, double im) {
  const extended r = re;
  const extended i = im;
  return static_cast<float>(r * r + i * i);
}

}  // namespace iq::spectrum_power_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace {

using namespace spectrum_power_detail;

#if HWY_HAVE_FLOAT64 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128

// Stores the single-precision powers re² + im² of a vector of points at `power` and returns the
// lanes whose rounding is not proven to be the extended power's: the double power lies too near
// a rounding boundary of single precision (see above). The values may lie up to a distance d
// (per lane) from the extended transform's (a plain transform, dsp/fft_bound.hpp): with
// X' = (re, im) and the defined X within d of it, | |X|^2 - |X'|^2 | <= d (2 |X'| + d)
// <= 2d (|re| + |im|) + d^2, which E gains as m slope + floor with m = |re| + |im|, slope = 2d
// and floor = d^2 + 2^-1000, both rounded upwards by 2^-40 (near_terms), which also covers
// the roundings of the fused sums here (without fused operations, of the products and sums;
// the relative error of the extended square of |X|, 2^-63 of |X'|^2 plus that term, is inside
// E's other parts). Exact values have slope 0 and floor 2^-1000.
template <class D>
HWY_INLINE hn::Mask<D> StoreNearPowers(D d, hn::Vec<D> re, hn::Vec<D> im, hn::Vec<D> slope, hn::Vec<D> floor,
                                       float* power) {
  const hn::Rebind<float, D> df;
  const hn::RebindToUnsigned<D> du;
  const auto s = hn::MulAdd(re, re, hn::Mul(im, im));
  const auto single = hn::DemoteTo(df, s);
  const auto f = hn::PromoteTo(d, single);
  const auto binade = hn::And(hn::BitCast(du, hn::Mul(f, hn::Set(d, kBelowOne))), hn::Set(du, kExponentBits));
  const auto half_gap = hn::Mul(hn::BitCast(d, binade), hn::Set(d, kSingleHalfGap));
  const auto magnitude = hn::Add(hn::Abs(re), hn::Abs(im));
  const auto bound = hn::MulAdd(s, hn::Set(d, kRelativeBound), hn::MulAdd(magnitude, slope, floor));
  hn::StoreU(single, df, power);
  return hn::Not(hn::Lt(hn::Add(hn::Abs(hn::Sub(s, f)), bound), half_gap));
}

// The powers of exact transform values: false when a lane is not proven (the caller then redoes
// those points in extended precision).
template <class D>
HWY_INLINE bool StoreProvenPowers(D d, hn::Vec<D> re, hn::Vec<D> im, float* power) {
  return hn::AllFalse(d, StoreNearPowers(d, re, im, hn::Zero(d), hn::Set(d, kAbsoluteBound), power));
}

bool NearLanePowerKernel(const double* data, std::size_t points, std::size_t frames, const double* distance,
                         float* power, std::uint32_t* unproven, std::size_t capacity, std::size_t* found) {
  using D = hn::CappedTag<double, 8>;
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  std::size_t count = 0;
  for (std::size_t l = 0; l < frames; l += lanes) {
    const auto lane_distance = hn::LoadU(d, distance + l);
    const auto round_up = hn::Set(d, kSpreadRoundUp);
    const auto slope = hn::Mul(hn::Add(lane_distance, lane_distance), round_up);
    const auto floor =
        hn::Add(hn::Mul(hn::Mul(lane_distance, lane_distance), round_up), hn::Set(d, kAbsoluteBound));
    const auto used = hn::FirstN(d, frames - l);
    for (std::size_t k = 0; k < points; ++k) {
      const double* point = data + 16 * k;
      const auto failed = hn::And(used, StoreNearPowers(d, hn::LoadU(d, point + l), hn::LoadU(d, point + 8 + l),
                                                        slope, floor, power + 8 * k + l));
      if (HWY_UNLIKELY(!hn::AllFalse(d, failed))) {
        std::uint8_t bits[8] = {};
        hn::StoreMaskBits(d, failed, bits);
        for (unsigned b = bits[0]; b != 0; b &= b - 1) {
          if (count < capacity) unproven[count] = static_cast<std::uint32_t>(8 * k + l + std::countr_zero(b));
          ++count;
        }
      }
    }
  }
  *found = count;
  return true;
}

bool FramePowerKernel(const double* frame, float* power, std::size_t bins) {
  using D = hn::CappedTag<double, 16>;
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  std::size_t k = 0;
  for (; k + lanes <= bins; k += lanes) {
    hn::Vec<D> re, im;
    hn::LoadInterleaved2(d, frame + 2 * k, re, im);
    if (HWY_UNLIKELY(!StoreProvenPowers(d, re, im, power + k))) {
      for (std::size_t m = k; m < k + lanes; ++m) power[m] = power_extended(frame[2 * m], frame[2 * m + 1]);
    }
  }
  for (; k < bins; ++k) power[k] = power_extended(frame[2 * k], frame[2 * k + 1]);
  return true;
}

bool LanePowerKernel(const double* data, std::size_t points, float* power) {
  using D = hn::CappedTag<double, 8>;
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  for (std::size_t k = 0; k < points; ++k) {
    const double* point = data + 16 * k;
    for (std::size_t l = 0; l < 8; l += lanes) {
      const auto re = hn::LoadU(d, point + l);
      const auto im = hn::LoadU(d, point + 8 + l);
      if (HWY_UNLIKELY(!StoreProvenPowers(d, re, im, power + 8 * k + l))) {
        for (std::size_t m = l; m < l + lanes; ++m) power[8 * k + m] = power_extended(point[m], point[8 + m]);
      }
    }
  }
  return true;
}

#else  // no kernel on this target

bool FramePowerKernel(const double*, float*, std::size_t) { return false; }
bool NearLanePowerKernel(const double*, std::size_t, std::size_t, const double*, float*, std::uint32_t*,
                         std::size_t, std::size_t*) {
  return false;
}
bool LanePowerKernel(const double*, std::size_t, float*) { return false; }

#endif

}  // namespace
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace iq {

HWY_EXPORT(FramePowerKernel);
HWY_EXPORT(LanePowerKernel);
HWY_EXPORT(NearLanePowerKernel);

std::size_t lane_power_near(const double* data, std::size_t points, std::size_t frames, const double* distance,
                            float* power, std::uint32_t* unproven, std::size_t capacity) {
  std::size_t found = 0;
  if (vector_kernels_on() &&
      HWY_DYNAMIC_DISPATCH(NearLanePowerKernel)(data, points, frames, distance, power, unproven, capacity, &found))
    return found;
  // Without the kernel, the same test bin by bin.
  for (std::size_t k = 0; k < points; ++k) {
    for (std::size_t l = 0; l < frames; ++l) {
      if (spectrum_power_detail::bin_power_near(data[16 * k + l], data[16 * k + 8 + l], distance[l],
                                                power[8 * k + l]))
        continue;
      if (found < capacity) unproven[found] = static_cast<std::uint32_t>(8 * k + l);
      ++found;
    }
  }
  return found;
}

void frame_power_extended(const double* frame, float* power, std::size_t bins) {
  for (std::size_t k = 0; k < bins; ++k) {
    // Where extended arithmetic is software, the proven double evaluation first.
    if constexpr (!kHardwareExtended) {
      if (bin_power_double(frame[2 * k], frame[2 * k + 1], power[k])) continue;
    }
    power[k] = spectrum_power_detail::power_extended(frame[2 * k], frame[2 * k + 1]);
  }
}

void lane_power_fastest(const double* data, std::size_t points, float* power) {
  if (vector_kernels_on() && HWY_DYNAMIC_DISPATCH(LanePowerKernel)(data, points, power)) return;
  for (std::size_t k = 0; k < points; ++k) {
    for (std::size_t l = 0; l < 8; ++l) {
      const double bin[2] = {data[16 * k + l], data[16 * k + 8 + l]};
      frame_power_extended(bin, power + 8 * k + l, 1);
    }
  }
}

void frame_power_fastest(const double* frame, float* power, std::size_t bins) {
  if (vector_kernels_on() && HWY_DYNAMIC_DISPATCH(FramePowerKernel)(frame, power, bins)) return;
  frame_power_extended(frame, power, bins);
}

}  // namespace iq
#endif  // HWY_ONCE
