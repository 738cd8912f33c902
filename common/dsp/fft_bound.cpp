// SPDX-License-Identifier: MIT
// The a-priori bound of a plain double transform's distance from the extended evaluation.
#include "dsp/fft_bound.hpp"

#include <bit>
#include <cmath>

namespace iq {

namespace {

// 5.842 over-states (4 + sqrt(2) + 2 sqrt(2) (1 + 2^-9)) / sqrt(2) = 5.8324 with the factors
// (1 + 2u) (1 + 3.9u)^30 of the proof and this function's own roundings.
constexpr double kPerStage = 5.842;
constexpr double kRoundUp = 1.0 + 0x1p-30;

}  // namespace

double plain_fft_bound_per_norm(std::size_t n, unsigned erring_stages, double largest_twiddle_squared) {
  const auto stages = static_cast<unsigned>(std::countr_zero(n));
  // W^L = (W^2)^(L/2); W^2 is within a few ulps of 1, so the power and the root err by a few
  // ulps of a number near 1, far inside kRoundUp.
  const double w_squared = std::fmax(1.0, largest_twiddle_squared);
  const double growth = std::pow(w_squared, 0.5 * stages);
  return static_cast<double>(erring_stages) * kPerStage * 0x1p-53 * std::sqrt(static_cast<double>(n)) * growth *
         kRoundUp * kRoundUp;
}

double byte_frame_norm(const std::uint8_t* bytes, std::size_t n) {
  // (2b - 255)^2 is at most 65025: 2^31 samples' worth fit a 64-bit sum, and 2^53 a double's.
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < 2 * n; ++i) {
    const int centred = 2 * int{bytes[i]} - 255;
    sum += static_cast<std::uint64_t>(centred * centred);
  }
  // ||x||^2 = sum / 2^16 exactly; the root errs by half an ulp.
  return std::sqrt(static_cast<double>(sum)) * 0x1p-8 * kRoundUp;
}

}  // namespace iq
