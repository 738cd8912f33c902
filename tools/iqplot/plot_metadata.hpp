// SPDX-License-Identifier: MIT
// What iqplot learns about a table's capture without being told: the metadata file of the
// capture the table was made from (its rate, centre frequency and start time).
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "io/capture_metadata.hpp"
#include "plot_script.hpp"

namespace iq {

// The metadata of the table's capture: that of `capture` when given (a capture's name or its
// .sigmf-meta itself; ToolError when it has none), else that of the capture named like the
// table ("night.txt" -> "night.sigmf-meta") when there is one. A malformed file is reported on
// `err` and ignored.
CaptureMetadata table_metadata(const std::string& table, const std::optional<std::string>& capture,
                               std::ostream& err);

// The length in seconds of that capture at `rate_mhz` when the capture itself is there (a
// regular file), else nothing.
std::optional<double> table_capture_seconds(const std::string& table, const std::optional<std::string>& capture,
                                            std::optional<double> rate_mhz);

// Fills the rate, centre and start the settings do not have yet (the options come first).
void fill_from_metadata(PlotSettings& settings, const CaptureMetadata& meta);

}  // namespace iq
