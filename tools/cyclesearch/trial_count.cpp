// SPDX-License-Identifier: MIT
// Counting a search's independent trials from its resolution.
#include "trial_count.hpp"

#include <algorithm>
#include <cmath>

namespace iq {

std::int64_t independent_trials(double from, double to, double resolution, std::int64_t computed) {
  const std::int64_t most = std::max<std::int64_t>(1, computed);
  if (!(resolution > 0.0)) return most;
  // Within a millionth of an element, as the DM trials of a range are counted.
  const double elements = std::floor((to - from) / resolution + 1e-6) + 1.0;
  if (!(elements < static_cast<double>(most))) return most;
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(elements));
}

}  // namespace iq
