// SPDX-License-Identifier: MIT
// The running median and median absolute deviation that flag interference.
#include "flags.hpp"

#include <algorithm>
#include <cmath>

#include "kelvin.hpp"

namespace iq {

std::vector<bool> outlier_flags(std::span<const double> values, double k, std::size_t window) {
  std::vector<bool> flagged(values.size(), false);
  const std::size_t half = window / 2;
  std::vector<double> around;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t from = i > half ? i - half : 0;
    const std::size_t to = std::min(values.size(), i + half + 1);
    around.assign(values.begin() + static_cast<std::ptrdiff_t>(from),
                  values.begin() + static_cast<std::ptrdiff_t>(to));
    const double median = median_of(around);
    for (double& v : around) v = std::fabs(v - median);
    flagged[i] = std::fabs(values[i] - median) > k * median_of(around);
  }
  return flagged;
}

}  // namespace iq
