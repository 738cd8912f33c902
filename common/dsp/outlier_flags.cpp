// SPDX-License-Identifier: MIT
// The running median and median absolute deviation that flag interference.
#include "dsp/outlier_flags.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace iq {

double median_of(std::vector<double> values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
  const double upper = values[half];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
  return (lower + upper) / 2.0;
}

OutlierTest outlier_test(std::span<const double> window, double value, double k) {
  std::vector<double> around(window.begin(), window.end());
  OutlierTest test;
  test.median = median_of(around);
  for (double& v : around) v = std::fabs(v - test.median);
  test.mad = median_of(std::move(around));
  test.flagged = std::fabs(value - test.median) > k * test.mad;
  return test;
}

std::vector<bool> outlier_flags(std::span<const double> values, double k, std::size_t window) {
  std::vector<bool> flagged(values.size(), false);
  const std::size_t half = window / 2;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t from = i > half ? i - half : 0;
    const std::size_t to = std::min(values.size(), i + half + 1);
    flagged[i] = outlier_test(values.subspan(from, to - from), values[i], k).flagged;
  }
  return flagged;
}

RunningOutlierFlags::RunningOutlierFlags(double k, std::size_t window)
    : k_(k), half_(static_cast<std::int64_t>(window / 2)) {}

// Value `index`, judged against the kept values within half_ of it; the kept values are those
// numbered count_ - kept_.size() .. count_ - 1.
RunningOutlierFlags::Decision RunningOutlierFlags::decide(std::int64_t index) const {
  const std::int64_t first_kept = count_ - static_cast<std::int64_t>(kept_.size());
  const std::int64_t from = std::max(first_kept, index - half_);
  const std::int64_t to = std::min(count_, index + half_ + 1);
  const std::vector<double> window(kept_.begin() + (from - first_kept), kept_.begin() + (to - first_kept));
  const double value = kept_[static_cast<std::size_t>(index - first_kept)];
  return Decision{index, value, from, to - 1, outlier_test(window, value, k_)};
}

std::optional<RunningOutlierFlags::Decision> RunningOutlierFlags::add(double value) {
  kept_.push_back(value);
  ++count_;
  if (static_cast<std::int64_t>(kept_.size()) > 2 * half_ + 1) kept_.pop_front();
  if (count_ <= half_) return std::nullopt;
  return decide(count_ - 1 - half_);
}

std::vector<RunningOutlierFlags::Decision> RunningOutlierFlags::finish() {
  std::vector<Decision> decisions;
  for (std::int64_t index = std::max<std::int64_t>(0, count_ - half_); index < count_; ++index) {
    decisions.push_back(decide(index));
  }
  return decisions;
}

}  // namespace iq
