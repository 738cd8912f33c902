// SPDX-License-Identifier: MIT
// Video detection: the power I^2 + Q^2 of consecutive runs of complex samples, one run per
// video point, whose length follows from the sample rate and the video bandwidth.
//
// The ratio R = clock (MHz) x 1000 / band (kHz) is kept in single precision; each point sums
// the whole number of samples trunc(R), in a single-precision accumulator rounded after every
// addition, and its value is that sum divided by R (not by the whole number), formed in
// extended precision. The accumulator's rounding shows in the printed digits, so the order of
// the additions is part of the result.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "arith/precision.hpp"

namespace iq {

// The power of one component, v * v with v = (b - 127.5) / 128, indexed by byte. Exact in
// single precision (an odd multiple of 1/65536 below 1), and so is the sum of two of them.
extern const std::array<float, 256> kComponentPower;

// Adds the powers of `samples` complex samples (2 bytes each, I first) to `sum`, one sample at
// a time, rounding the sum to single precision after every addition (where no addition can
// round, the run's exact total in integers: the same bits).
float add_sample_powers(float sum, const std::uint8_t* bytes, std::int64_t samples);

struct VideoDetector {
  float clock_mhz = 0;                 // complex samples per microsecond
  float band_khz = 0;                  // video bandwidth
  float ratio = 0;                     // R = clock x 1000 / band
  std::int64_t samples_per_point = 0;  // trunc(R), from 1 to 2^31 - 1

  // R as the tools form it: the product and quotient in extended precision, stored single.
  static float ratio_of(float clock_mhz, float band_khz) {
    return static_cast<float>(static_cast<extended>(clock_mhz) * widen(1000.0) / band_khz);
  }

  // The sample period in microseconds, 1 / clock, rounded to single precision.
  float sample_period_us() const { return static_cast<float>(widen(1.0) / static_cast<extended>(clock_mhz)); }

  // The value of a point whose accumulated power is `sum`: sum / R in extended precision,
  // rounded to double.
  double point_value(float sum) const {
    return static_cast<double>(static_cast<extended>(sum) / static_cast<extended>(ratio));
  }
};

// Consecutive video points of consecutive samples; a point may span any number of calls.
class VideoPointSums {
 public:
  explicit VideoPointSums(const VideoDetector& detector)
      : detector_(detector), left_in_point_(detector.samples_per_point) {}

  // Adds the complex samples in `iq` (2 bytes each, I first, the next ones in order) and
  // stores the value of every point they complete in values[next], values[next + 1], ...
  // Returns the index after the last value stored.
  std::size_t add(std::span<const std::uint8_t> iq, std::span<double> values, std::size_t next);

 private:
  VideoDetector detector_;
  float sum_ = 0;
  std::int64_t left_in_point_;
};

}  // namespace iq
