// SPDX-License-Identifier: MIT
// Waterfall tables (iqwaterfall's): reading their header and rows, and the heat map of them.
//
// The table starts with a line "# iqwaterfall points=N frames_per_row=M [sample_rate_hz=R]
// [centre_frequency_hz=F] [start_utc=T] [site=LAT,LON,HEIGHT]", then comment lines, then one block per row of
// frames: N lines "bin    mean power" from bin -N/2, ended by a blank line. Between the
// blocks, lines "# flagged row R: ..." name the rows flagged as interference.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/capture_metadata.hpp"
#include "io/table_reader.hpp"
#include "plot_script.hpp"

namespace iq {

inline constexpr std::string_view kWaterfallMark = "# iqwaterfall";
inline constexpr std::string_view kFlaggedRowPrefix = "# flagged row ";

// Whether a table's first line marks it as a waterfall.
bool is_waterfall_header(std::string_view first_line);

struct WaterfallShape {
  std::int32_t points = 0;
  std::int64_t frames_per_row = 0;
  std::int64_t rows = 0;                   // complete rows: a row still being written (no blank line after
                                           // it yet) is not counted
  CaptureMetadata header;                  // the rate, centre and start the header names
  std::vector<std::int64_t> flagged_rows;  // the rows of the "# flagged row R: ..." lines
};

// Reads a whole waterfall table in one pass (fixed memory). Throws ToolError naming `name`
// for a missing or malformed header, a row of other than `points` lines, or a line that is
// not "bin value" with the bins counting up from -points/2.
WaterfallShape scan_waterfall(TableReader& table, const std::string& name);

// The plotting part of a waterfall's script: frequency (or velocity) across, time down (UTC
// when the start is known, seconds or minutes from the start with a rate, row numbers
// without), the colour of each bin its power in dB (or linear), with a colour bar; flagged rows
// marked by a band down the left edge.
std::string waterfall_plot_commands(const PlotSettings& settings);

}  // namespace iq
