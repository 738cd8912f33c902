// In-place radix-2 complex FFT with recurrence twiddles, exact to the classic routine.
#include "fft.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "arguments.hpp"
#include "precision.hpp"

namespace iq {

FftPlan::FftPlan(std::int32_t n, int sign) : n_(n), sign_(sign) {
  if (!is_power_of_two(n) || n > (1 << 30)) throw std::invalid_argument("FFT size must be a power of two");
  if (sign != -1 && sign != 1) throw std::invalid_argument("FFT sign must be -1 or +1");

  // Bit reversal in the classic order, on 1-based double positions p and j.
  const std::int64_t length = 2 * static_cast<std::int64_t>(n);
  std::int64_t j = 1;
  for (std::int64_t p = 1; p < length; p += 2) {
    if (j > p) {
      swaps_.push_back(static_cast<std::uint32_t>((p - 1) / 2));
      swaps_.push_back(static_cast<std::uint32_t>((j - 1) / 2));
    }
    std::int64_t h = length / 2;
    while (h >= 2 && j > h) {
      j -= h;
      h /= 2;
    }
    j += h;
  }

  // Twiddles of each stage by the recurrence, every step rounded to double as stored.
  twiddles_.reserve(static_cast<std::size_t>(n > 1 ? n - 1 : 0));
  for (std::int64_t span = 2; length > span; span *= 2) {
    const double theta = static_cast<double>(widen(6.28318530717959) / static_cast<extended>(sign * span));
    const double sigma = std::sin(static_cast<double>(widen(0.5) * theta));
    const double alpha = static_cast<double>(widen(-2.0) * sigma * sigma);
    const double beta = std::sin(theta);
    double w_re = 1.0;
    double w_im = 0.0;
    for (std::int64_t m = 1; m < span; m += 2) {
      twiddles_.push_back({w_re, w_im});
      const double r = w_re;
      w_re = static_cast<double>(static_cast<extended>(r) * alpha - static_cast<extended>(w_im) * beta + w_re);
      w_im = static_cast<double>(static_cast<extended>(w_im) * alpha + static_cast<extended>(r) * beta + w_im);
    }
  }
}

namespace {

// One butterfly on complex values p and q with twiddle (w_re, w_im), evaluated in extended
// precision and rounded to double where the classic routine stores.
inline void butterfly(double* a, std::size_t p, std::size_t q, extended w_re, extended w_im) {
  const double t_re = static_cast<double>(w_re * a[2 * q] - w_im * a[2 * q + 1]);
  const double t_im = static_cast<double>(w_re * a[2 * q + 1] + w_im * a[2 * q]);
  a[2 * q] = static_cast<double>(static_cast<extended>(a[2 * p]) - t_re);
  a[2 * q + 1] = static_cast<double>(static_cast<extended>(a[2 * p + 1]) - t_im);
  a[2 * p] = static_cast<double>(static_cast<extended>(a[2 * p]) + t_re);
  a[2 * p + 1] = static_cast<double>(static_cast<extended>(a[2 * p + 1]) + t_im);
}

}  // namespace

void FftPlan::transform(double* data) const {
  for (std::size_t s = 0; s < swaps_.size(); s += 2) {
    const std::size_t p = swaps_[s];
    const std::size_t j = swaps_[s + 1];
    std::swap(data[2 * p], data[2 * j]);
    std::swap(data[2 * p + 1], data[2 * j + 1]);
  }
  // Within a stage every butterfly reads only what earlier stages wrote, so the groups may be
  // walked in memory order instead of twiddle order.
  const auto n = static_cast<std::size_t>(n_);
  for (std::size_t half = 1; half < n; half *= 2) {
    const Twiddle* w = twiddles_.data() + (half - 1);
    for (std::size_t group = 0; group < n; group += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        butterfly(data, group + k, group + k + half, w[k].re, w[k].im);
      }
    }
  }
  if (sign_ == 1) {
    const auto divisor = static_cast<extended>(n_);
    for (std::size_t i = 0; i < 2 * n; ++i) data[i] = static_cast<double>(data[i] / divisor);
  }
}

void four(double* data, long n, int sign) {
  const FftPlan plan(static_cast<std::int32_t>(n), sign);
  plan.transform(data + 1);
}

}  // namespace iq
