// SPDX-License-Identifier: MIT
// Interference flags: the bins of a spectrum that stand out from a running median by more than a
// chosen multiple of the median absolute deviation about it.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace iq {

// Flags bin i when |v[i] - m| > k * MAD, m the median of the `window` bins centred on i (fewer
// at the ends) and MAD the median of their |v - m|. `window` is odd.
std::vector<bool> outlier_flags(std::span<const double> values, double k, std::size_t window);

}  // namespace iq
