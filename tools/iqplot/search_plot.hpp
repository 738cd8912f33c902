// SPDX-License-Identifier: MIT
// Period search tables (cyclesearch's): the verdict their header states, and the picture of
// chi-square against trial period with the best trial and the detection threshold.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plot_script.hpp"

namespace iq {

inline constexpr std::string_view kSearchMark = "# cyclesearch";

// The verdict of the first of a table's comment lines that reads "# cyclesearch
// best_period_ms=P chi2=C significance_sigma=S threshold_sigma=T [threshold_chi2=X]
// verdict=detected|no-detection" (in any order, other fields left for newer writers); nothing
// when none does.
std::optional<SearchVerdict> read_search_header(const std::vector<std::string>& comments);

// The picture's title: the settings' own, and for a search with a verdict the verdict after it.
std::string picture_title(const PlotSettings& settings);

// The plotting part of a search's script; `data` names the table and its x column. With a
// verdict: the best trial as cyclesearch names it, and the threshold as a line. Without one
// (a table from before the header): the middle of the trials of the largest chi-square.
std::string search_plot_commands(const PlotSettings& settings, const std::string& data,
                                 const std::string& x_label);

}  // namespace iq
