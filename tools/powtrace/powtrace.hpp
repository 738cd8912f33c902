// SPDX-License-Identifier: MIT
// powtrace: the detected-power (video) trace of a capture, one line per video point.
#pragma once

#include <cstdint>
#include <ostream>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"
#include "io/output_file.hpp"
#include "dsp/video_detection.hpp"

namespace iq {

// powtrace <infile> <outfile> <clock rate (MHz)> <video band (kHz)> <file divisor>
int run_powtrace(const ToolArgs& args, std::ostream& out, std::ostream& err);

// Detects `points` consecutive video points from the start of `capture` and writes one line
// "%lld   %1.8f\n" per point (index from 0, value).
void write_power_trace(CaptureReader& capture, const VideoDetector& detector, std::int64_t points,
                       OutputFile& table);

}  // namespace iq
