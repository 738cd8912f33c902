// SPDX-License-Identifier: MIT
// The independent trials of a search: how many resolution elements its trials cover, the count
// that the best trial's chance probability is raised to.
#pragma once

#include <cstdint>

namespace iq {

// The resolution elements from `from` to `to` (from <= to) at `resolution` apart, the first
// included: floor((to - from) / resolution) + 1 (within a millionth), but never more than the `computed` trials
// that differ (trials further apart than the resolution are each independent) and never below 1.
std::int64_t independent_trials(double from, double to, double resolution, std::int64_t computed);

}  // namespace iq
