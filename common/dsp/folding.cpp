// SPDX-License-Identifier: MIT
// Period folding: per-bin sums and counts.
#include "dsp/folding.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/power_units.hpp"
#include "dsp/capture_format.hpp"
#include "arith/extended_sum.hpp"
#include "arith/precision.hpp"

namespace iq {

namespace {

// (2b - 255)^2: 65536 times the square of the normalised component of byte b.
constexpr std::array<std::uint32_t, 256> kSquareUnits = [] {
  std::array<std::uint32_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<std::uint32_t>((2 * b - 255) * (2 * b - 255));
  return table;
}();

// The power of a sample is a whole number of 2^-16. Below 2^37 every partial sum of such
// values is a double exactly, so adding them one by one or as one total gives the same sum.
constexpr double kPowerUnit = 1.0 / 65536.0;
constexpr double kExactPowerSums = 68719476736.0;               // 2^36: a run added to less stays below 2^37
constexpr std::size_t kExactRunSamples = std::size_t{1} << 16;  // keeps a run's power below 2^18

// The amplitude of every pair of bytes, indexed by I * 256 + Q.
const std::vector<double>& amplitude_table() {
  static const std::vector<double> table = [] {
    std::vector<double> values(65536);
    for (int i = 0; i < 256; ++i) {
      for (int q = 0; q < 256; ++q) {
        values[(i << 8) | q] =
            folded_value(FoldedValue::amplitude, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(q));
      }
    }
    return values;
  }();
  return table;
}

bool is_whole_power_units(double sum) {
  const double units = sum / kPowerUnit;
  return sum >= 0.0 && sum < kExactPowerSums && units == std::floor(units);
}

void add_power_run(double& sum, std::span<const std::uint8_t> iq) {
  while (!iq.empty()) {
    const std::size_t take = std::min(iq.size(), 2 * kExactRunSamples);
    const auto piece = iq.first(take);
    if (is_whole_power_units(sum)) {
      sum += static_cast<double>(power_units(piece.data(), piece.size())) * kPowerUnit;
    } else {
      for (std::size_t k = 0; k + 1 < take; k += 2) {
        sum = add_extended(sum,
                           static_cast<double>(kSquareUnits[piece[k]] + kSquareUnits[piece[k + 1]]) * kPowerUnit);
      }
    }
    iq = iq.subspan(take);
  }
}

void add_amplitude_run(double& sum, std::span<const std::uint8_t> iq) {
  const std::vector<double>& amplitude = amplitude_table();
  double s = sum;
  for (std::size_t k = 0; k + 1 < iq.size(); k += 2) {
    s = add_extended(s, amplitude[(static_cast<std::size_t>(iq[k]) << 8) | iq[k + 1]]);
  }
  sum = s;
}

}  // namespace

double folded_value(FoldedValue kind, std::uint8_t i_byte, std::uint8_t q_byte) {
  const auto i = static_cast<float>(normalise_cu8(i_byte));
  const auto q = static_cast<float>(normalise_cu8(q_byte));
  const auto power = static_cast<double>(static_cast<extended>(i) * i + static_cast<extended>(q) * q);
  return kind == FoldedValue::amplitude ? std::sqrt(power) : power;
}

std::uint64_t add_power_run_with_squares(double& sum, std::span<const std::uint8_t> iq) {
  std::uint64_t squares = 0;
  while (!iq.empty()) {
    const std::size_t take = std::min(iq.size(), 2 * kExactRunSamples);
    const auto piece = iq.first(take);
    if (is_whole_power_units(sum)) {
      sum += static_cast<double>(power_units_and_squares(piece.data(), piece.size(), squares)) * kPowerUnit;
    } else {
      power_units_and_squares(piece.data(), piece.size(), squares);
      add_power_run(sum, piece);
    }
    iq = iq.subspan(take);
  }
  return squares;
}

void add_run(FoldedValue kind, double& sum, std::span<const std::uint8_t> iq) {
  if (kind == FoldedValue::power) {
    add_power_run(sum, iq);
  } else {
    add_amplitude_run(sum, iq);
  }
}

Folder::Folder(const FoldGeometry& geometry, FoldedValue kind, std::int64_t first_sample, bool power_squares)
    : geometry_(geometry),
      kind_(kind),
      sums_(static_cast<std::size_t>(geometry.points), 0.0),
      counts_(static_cast<std::size_t>(geometry.points), 0),
      first_(first_sample),
      next_(first_sample),
      power_squares_(power_squares && kind == FoldedValue::power) {}

void Folder::restart(std::int64_t first_sample) {
  std::fill(sums_.begin(), sums_.end(), 0.0);
  std::fill(counts_.begin(), counts_.end(), 0);
  last_bin_ = 0;
  first_ = next_ = first_sample;
  square_units_ = 0;
}

void Folder::fold_samples(std::span<const std::uint8_t> iq) {
  const std::int64_t start = next_;
  const std::int64_t end = start + static_cast<std::int64_t>(iq.size() / 2);
  std::int64_t s = start;
  std::int32_t bin = last_bin_;
  while (s < end) {
    // Every sample before the boundary has the bin of s; the run is added as one piece.
    bin = geometry_.bin(s);
    const std::int64_t boundary = geometry_.next_boundary(s, end);
    const auto first = static_cast<std::size_t>(2 * (s - start));
    const auto length = static_cast<std::size_t>(2 * (boundary - s));
    double& sum = sums_[static_cast<std::size_t>(bin)];
    if (power_squares_) {
      square_units_ += static_cast<extended>(add_power_run_with_squares(sum, iq.subspan(first, length)));
    } else {
      add_run(kind_, sum, iq.subspan(first, length));
    }
    counts_[static_cast<std::size_t>(bin)] += boundary - s;
    s = boundary;
  }
  last_bin_ = bin;
  next_ = end;
}

}  // namespace iq
