// SPDX-License-Identifier: MIT
// Video detection: ratio, whole samples per point, single-precision power sums.
#include "dsp/video_detection.hpp"

#include <algorithm>
#include <cmath>

#include "dsp/power_units.hpp"
#include "dsp/capture_format.hpp"

namespace iq {

const std::array<float, 256> kComponentPower = [] {
  std::array<float, 256> table{};
  for (int b = 0; b < 256; ++b) {
    const double v = normalise_cu8(static_cast<std::uint8_t>(b));
    table[b] = static_cast<float>(v * v);
  }
  return table;
}();

namespace {

// The powers one sample at a time, the sum rounded to single precision after every addition.
float add_sample_powers_one_by_one(float sum, const std::uint8_t* bytes, std::int64_t samples) {
  // The sample power is exact in single precision, so the table sum equals I * I + Q * Q
  // rounded to single; the running sum of two floats rounds to single as it is stored.
  for (std::int64_t s = 0; s < samples; ++s) {
    const float power = kComponentPower[bytes[2 * s]] + kComponentPower[bytes[2 * s + 1]];
    sum += power;
  }
  return sum;
}

}  // namespace

float add_sample_powers(float sum, const std::uint8_t* bytes, std::int64_t samples) {
  // Sample powers are even numbers of 2^-16. From a sum of N such units, every partial sum up
  // to N + the run's units U is a whole number of units of N's parity, and single precision
  // holds each exactly while below 2^24 units (2^25 when all are even). Then adding them one
  // by one rounds nothing, and the exact total (N + U) 2^-16, formed in integers, is the sum.
  constexpr std::int64_t kSamplesAtATime = 4096;
  while (samples > 0) {
    const std::int64_t take = std::min(samples, kSamplesAtATime);
    const double start = static_cast<double>(sum) * 65536.0;  // exact: a power of two
    if (start >= 0.0 && start < 0x1p25 && start == std::floor(start)) {
      const auto units = static_cast<std::uint64_t>(start);
      const std::uint64_t total = units + power_units(bytes, 2 * static_cast<std::size_t>(take));
      if (total < (units % 2 == 0 ? std::uint64_t{1} << 25 : std::uint64_t{1} << 24)) {
        sum = static_cast<float>(static_cast<double>(total) / 65536.0);
      } else {
        sum = add_sample_powers_one_by_one(sum, bytes, take);
      }
    } else {
      sum = add_sample_powers_one_by_one(sum, bytes, take);
    }
    bytes += 2 * take;
    samples -= take;
  }
  return sum;
}

std::size_t VideoPointSums::add(std::span<const std::uint8_t> iq, std::span<double> values, std::size_t next) {
  const std::uint8_t* bytes = iq.data();
  for (auto available = static_cast<std::int64_t>(iq.size() / 2); available > 0;) {
    const std::int64_t take = std::min(available, left_in_point_);
    sum_ = add_sample_powers(sum_, bytes, take);
    bytes += 2 * take;
    available -= take;
    left_in_point_ -= take;
    if (left_in_point_ == 0) {
      values[next++] = detector_.point_value(sum_);
      sum_ = 0;
      left_in_point_ = detector_.samples_per_point;
    }
  }
  return next;
}

}  // namespace iq
