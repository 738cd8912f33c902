// SPDX-License-Identifier: MIT
// Interference flags: the values of a series (a spectrum's bins, a waterfall's rows) that stand
// out from a running median by more than a chosen multiple of the median absolute deviation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace iq {

// The median of the values (the mean of the middle two for an even count); NaN for none.
double median_of(std::vector<double> values);

// One value judged against the window around it: the window's median m, the median of its
// |v - m| (the MAD), and whether |value - m| > k * MAD.
struct OutlierTest {
  double median = 0.0;
  double mad = 0.0;
  bool flagged = false;
};
OutlierTest outlier_test(std::span<const double> window, double value, double k);

// Flags value i when outlier_test of the `window` values centred on i (fewer at the ends)
// flags it. `window` is odd.
std::vector<bool> outlier_flags(std::span<const double> values, double k, std::size_t window);

// The same decisions for a series that arrives one value at a time, in fixed memory: value i is
// judged once value i + window/2 is in, the last window/2 values when the series ends.
class RunningOutlierFlags {
 public:
  struct Decision {
    std::int64_t index = 0;
    double value = 0.0;
    std::int64_t first = 0, last = 0;  // the window judged against, both included
    OutlierTest test;
  };

  RunningOutlierFlags(double k, std::size_t window);

  // Takes the next value; the decision it completes, if any.
  std::optional<Decision> add(double value);
  // The decisions left when the series ends, oldest first.
  std::vector<Decision> finish();

 private:
  Decision decide(std::int64_t index) const;

  double k_;
  std::int64_t half_;
  std::int64_t count_ = 0;   // values taken
  std::deque<double> kept_;  // the last 2 * half_ + 1 of them
};

}  // namespace iq
