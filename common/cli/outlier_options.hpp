// SPDX-License-Identifier: MIT
// --flag and --flag-window, the interference flags' options, read once for every program that
// flags a series (speccal's bins, iqwaterfall's rows).
#pragma once

#include <cstddef>
#include <optional>

#include "cli/command.hpp"

namespace iq {

// K median absolute deviations, and the running median's width in values of the series.
struct OutlierOptions {
  double k = 0.0;
  std::size_t window = 9;
};

// The widths --flag-window takes.
inline constexpr std::size_t kLeastFlagWindow = 3;
inline constexpr std::size_t kMostFlagWindow = 1001;

// What --flag and --flag-window give, nothing without --flag; a ToolError naming the option for
// a K not above 0, a width that is not odd from 3 to 1001 (`unit`: "bins", "rows"), or
// --flag-window without --flag.
std::optional<OutlierOptions> outlier_options(const GivenOptions& given, const char* unit);

}  // namespace iq
