// SPDX-License-Identifier: MIT
// The fold of a real time series and its moments.
#include "dsp/series_fold.hpp"

namespace iq {

void fold_series(const FoldGeometry& geometry, std::int64_t first_sample, std::span<const double> values,
                 std::span<double> sums, std::span<std::int64_t> counts) {
  for (std::size_t k = 0; k < values.size(); ++k) {
    const std::int32_t bin = geometry.bin(first_sample + static_cast<std::int64_t>(k));
    sums[static_cast<std::size_t>(bin)] =
        static_cast<double>(static_cast<extended>(sums[static_cast<std::size_t>(bin)]) + values[k]);
    ++counts[static_cast<std::size_t>(bin)];
  }
}

void SeriesMoments::add(std::span<const double> values) {
  for (const double v : values) {
    sum_ += v;
    squares_ += static_cast<extended>(v) * v;
  }
  count_ += static_cast<std::int64_t>(values.size());
}

double SeriesMoments::mean() const { return count_ > 0 ? static_cast<double>(sum_ / count_) : 0.0; }

double SeriesMoments::variance() const {
  if (count_ == 0) return 0.0;
  const extended mean = sum_ / count_;
  return static_cast<double>(squares_ / count_ - mean * mean);
}

}  // namespace iq
