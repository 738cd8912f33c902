// SPDX-License-Identifier: MIT
// Runs that cut a capture or a live stream into rows of consecutive frames and hand on each
// row's averaged spectrum as soon as its frames are in; with the options and inputs they share.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.hpp"
#include "dsp/spectrum.hpp"
#include "io/capture_metadata.hpp"
#include "io/capture_reader.hpp"
#include "io/live_input.hpp"

namespace iq {

// --rate, --centre (and --center) and --start, that stand in for the capture's metadata.
std::vector<OptionSpec> capture_metadata_options();
// What those options say of the capture, refusing a value that is malformed or out of range.
CaptureMetadata given_metadata(const GivenOptions& given);
// `meta` with each field the options give replaced.
CaptureMetadata with_given(CaptureMetadata meta, const CaptureMetadata& given);

// The capture file, measured; nothing for "-", a live stream on standard input.
std::optional<CaptureReader> open_capture_or_stream(const std::string& infile);
// Standard input's device and inode, so that an output cannot replace the stream's file.
FileId standard_input_id();
// "SIGINT", "SIGTERM" or "SIGHUP".
const char* signal_name(int signal_number);

// The whole frames of a capture file. Its length is counted one byte long, as iqspec counts it,
// so that a row equals iqspec's table of the same frames cut out of the capture.
std::int64_t whole_frames(const CaptureReader& capture, std::int32_t points);
// Refuses a capture file without one whole row (`row` names it: "row", "sample").
void require_whole_row(const CaptureReader& capture, std::int32_t points, std::int64_t frames_per_row,
                       const char* row);

struct RowFigures {
  std::int64_t bytes = 0;  // bytes of the capture or stream
  std::int64_t rows = 0;
  std::int64_t partial_frames = 0;  // whole frames of the partial last row
  std::int64_t left_out = 0;        // bytes past the last complete row
};

// After the run: a failure when a stream ended before its first whole row (a ToolError; the
// output, already in place, stays), and a note on `err` of a partial last row left out.
void report_row_ends(std::ostream& err, std::string_view tool, const RowFigures& figures,
                     std::int64_t frames_per_row, const char* row);

// What a capture file of this length gives, before any of it is read.
RowFigures file_rows(const CaptureReader& capture, std::int32_t points, std::int64_t frames_per_row);

// Takes each complete row: its sums (SpectrumAccumulator::line_mean over frames_per_row frames
// gives a bin's mean), and the workers the run transforms on, free while the row is taken.
using RowSink = std::function<void(const SpectrumAccumulator& row, ChunkWorkers& workers)>;

// The rows of a capture file (`figures` from file_rows), in order.
void spectrum_rows_of_file(CaptureReader& capture, std::int32_t points, std::int64_t frames_per_row,
                           const RowFigures& figures, const RowSink& sink);
// The rows of a live stream, each as soon as its last frame is in, until the stream ends.
RowFigures spectrum_rows_of_stream(LiveInput& input, std::int32_t points, std::int64_t frames_per_row,
                                   const RowSink& sink);

}  // namespace iq
