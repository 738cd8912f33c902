// SPDX-License-Identifier: MIT
// modspec: the modulation spectrum of a capture: its video points cut into frames of N,
// each transformed, and the magnitudes of the lower N/2 bins summed over the frames.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"
#include "dsp/video_detection.hpp"

namespace iq {

// How much of a capture enters the spectrum. All counts are 64-bit, so captures of any length
// give the true frame count and divisor.
struct ModulationCounts {
  std::int64_t video_points = 0;  // whole video points in the capture
  std::int64_t frames = 0;        // whole frames of N video points
  std::int64_t used_points = 0;   // N x frames: the points that enter the spectrum
};
ModulationCounts modulation_counts(std::int64_t file_bytes, std::int64_t samples_per_point, std::int32_t n);

// The common divisor of the table values, sqrt(2 x used points) rounded to single precision.
float modulation_divisor(std::int64_t used_points);

// Reads `frames` frames of N video points from the start of `capture`, transforms each and
// returns the per-bin sums of the magnitudes of bins 0 to N/2 - 1.
std::vector<double> accumulate_modulation(CaptureReader& capture, const VideoDetector& detector, std::int32_t n,
                                          std::int64_t frames);

// modspec <infile> <outfile> <clock rate (MHz)> <video band (kHz)> <fft size>
int run_modspec(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
