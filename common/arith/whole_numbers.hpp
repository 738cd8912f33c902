// SPDX-License-Identifier: MIT
// Whole-number tests that the signal code and the argument checks share.
#pragma once

#include <cstdint>

namespace iq {

constexpr bool is_power_of_two(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace iq
