// SPDX-License-Identifier: MIT
// The sample from which the two-receiver tools count: lagscan's reference windows begin at this
// complex sample of each capture, its printed lags and offsets count from it, and iqtrim's
// align address counts from the same sample, so an offset lagscan prints can be handed to
// iqtrim unchanged.
#pragma once

#include <cstdint>

namespace iq {

inline constexpr std::int64_t kLagOrigin = 7000;

}  // namespace iq
