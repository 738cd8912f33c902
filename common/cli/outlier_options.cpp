// SPDX-License-Identifier: MIT
// Reading the interference flags' options.
#include "cli/outlier_options.hpp"

#include <string>

#include "io/tool_error.hpp"

namespace iq {

std::optional<OutlierOptions> outlier_options(const GivenOptions& given, const char* unit) {
  std::optional<OutlierOptions> options;
  if (const auto k = given.value("--flag")) {
    options = OutlierOptions{option_number("--flag", *k)};
    require_option(options->k > 0.0, "--flag", "a number of median absolute deviations above 0");
  }
  if (const auto window = given.value("--flag-window")) {
    const std::int64_t width = option_whole("--flag-window", *window);
    require_option(width >= static_cast<std::int64_t>(kLeastFlagWindow) &&
                       width <= static_cast<std::int64_t>(kMostFlagWindow) && width % 2 == 1,
                   "--flag-window", std::string("an odd number of ") + unit + " from 3 to 1001");
    if (!options) throw ToolError("option --flag-window needs --flag");
    options->window = static_cast<std::size_t>(width);
  }
  return options;
}

}  // namespace iq
