// SPDX-License-Identifier: MIT
// Folding a time series of real values (one power per sample, from the pulsar software's
// files) into the bins of a period, with the moments of its values for the noise.
#pragma once

#include <cstdint>
#include <span>

#include "arith/precision.hpp"
#include "dsp/fold_geometry.hpp"

namespace iq {

// Adds the values of samples first_sample, first_sample + 1, ... to the sums and counts of
// their bins (each addition in extended precision rounded to double).
void fold_series(const FoldGeometry& geometry, std::int64_t first_sample, std::span<const double> values,
                 std::span<double> sums, std::span<std::int64_t> counts);

// The mean and variance of the values of a series, summed in extended precision.
class SeriesMoments {
 public:
  void add(std::span<const double> values);
  double mean() const;
  double variance() const;

 private:
  std::int64_t count_ = 0;
  extended sum_ = 0;
  extended squares_ = 0;
};

}  // namespace iq
