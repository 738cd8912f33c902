// SPDX-License-Identifier: MIT
// The toolkit's one Fourier transform: in-place radix-2 decimation-in-time complex FFT whose
// every value is the one the classic recurrence gives.
//
// The twiddle factors of a stage come from the trigonometric recurrence started at (1, 0) with
// two sine evaluations per stage and the step angle 6.28318530717959 / (sign * span); they carry
// the rounding of that recurrence, which is part of the results. An FftPlan computes them once
// per point count with exactly that recurrence, so every frame gets the same values the
// per-call computation would give; butterflies are evaluated in extended precision and
// rounded to double where stored.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "dsp/fft_lanes.hpp"

namespace iq {

// Work space of FftPlan::transform_lanes, kept by the caller between calls (one per thread).
class FftLaneWork {
 public:
  // At least `count` doubles, aligned to 64 bytes.
  double* values(std::size_t count);
  // At least `count` two-byte samples.
  std::uint16_t* samples(std::size_t count);

 private:
  std::vector<double> storage_;
  std::vector<std::uint16_t> samples_;
};

// Which evaluation transform_lanes uses: the fastest this processor has, the extended one on
// the x87 unit, or the vector one (only where fft_vector_supported()).
enum class FftPath { fastest, x87, vector };

class FftPlan {
 public:
  // n: number of complex points, a power of two from 1 to 2^30; sign: -1 (forward, unscaled)
  // or +1 (inverse, divided by n).
  FftPlan(std::int32_t n, int sign);

  // Transforms `data` in place: n complex values as 2n doubles, real part first (0-based).
  void transform(double* data) const;

  // Transforms up to kFftLanes frames (each laid out as transform takes it) side by side; each
  // frame gets exactly the bits transform gives it.
  void transform_lanes(std::span<double* const> frames, FftLaneWork& work, FftPath path = FftPath::fastest) const;

  // Up to kFftLanes frames of capture bytes (2n each: I, Q, ...; normalised as
  // normalise_cu8 does), placed in lane layout in `work` (complex point i of lane l: real part
  // at [16 i + l], imaginary part at [16 i + 8 + l]; unused lanes zero) and transformed there
  // with the bits transform gives each frame. Returns the lane data, or nullptr when the
  // vector evaluation does not serve (see lanes_serve_bytes); the bytes then go through
  // transform frame by frame. Forward transforms only.
  const double* transform_bytes_lanes(std::span<const std::uint8_t* const> frames, FftLaneWork& work) const;
  // Whether transform_bytes_lanes serves: a forward plan and the vector evaluation chosen.
  bool lanes_serve_bytes() const;

  // Up to kFftLanes frames of capture bytes, frame l at first + l stride, transformed side by
  // side in plain double arithmetic with no proof (lane layout as transform_bytes_lanes): every
  // value lies within plain_bound(norms[l]) of the one transform gives its frame, norms[l]
  // receiving an upper bound of frame l's 2-norm (dsp/fft_bound.hpp). Returns nullptr where
  // transform_bytes_lanes would.
  const double* transform_bytes_plain(const std::uint8_t* first, std::size_t stride, std::size_t count,
                                      FftLaneWork& work, double* norms) const;
  // Point k of what transform gives for the frame of 2n capture bytes `bytes` (normalised as
  // normalise_cu8 does), through only the n - 1 butterflies it depends on: its real and
  // imaginary parts. `work` is resized to 2n doubles. Forward plans.
  std::pair<double, double> transform_bytes_point(const std::uint8_t* bytes, std::size_t k,
                                                  std::vector<double>& work) const;
  // The distance bound of transform_bytes_plain for a frame of 2-norm at most `norm`.
  double plain_bound(double norm) const { return plain_bound_per_norm_ * norm + 0x1p-1000; }

  std::int32_t size() const { return n_; }
  int sign() const { return sign_; }

 private:
  void divide_inverse(double* data) const;

  std::int32_t n_;
  int sign_;
  std::vector<std::uint32_t> swaps_;  // pairs of complex indices exchanged by the bit reversal
  std::vector<FftTwiddle> twiddles_;  // stage with half-span h holds its h factors at [h - 1, 2h - 1)
  bool twiddles_fit_vector_ = false;
  static constexpr std::int32_t kReversedTable = 4096;
  std::vector<std::uint32_t> reversed_;  // bit reversal of every index, up to kReversedTable points
  bool first_stages_exact_ = false;      // the second stage's twiddles keep it exact on bytes (fft.cpp)
  double plain_bound_per_norm_ = 0.0;    // dsp/fft_bound.hpp
  // Puts up to kFftLanes frames of bytes into lane layout in `work`, in bit-reversed order.
  double* fill_byte_lanes(std::span<const std::uint8_t* const> frames, FftLaneWork& work) const;
  // The stages exact on normalised bytes: those with half-spans below this.
  std::size_t exact_on_bytes_below() const { return first_stages_exact_ ? 4 : 2; }
};

}  // namespace iq
