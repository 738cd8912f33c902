// SPDX-License-Identifier: MIT
// The video detection's two parameters as a command declares them, and the detector they give.
#pragma once

#include <cstddef>

#include "cli/command.hpp"
#include "dsp/video_detection.hpp"

namespace iq {

inline constexpr Parameter kVideoClock = number_parameter("clock rate (MHz)", "MHz", "a finite number above 0");
inline constexpr Parameter kVideoBand = number_parameter("video band (kHz)", "kHz", "a finite number above 0");

// The detector of the run's arguments `clock` and `band` (each a number stored in single
// precision). Refuses a rate that is not above 0 and a ratio that gives no whole sample per
// video point or more than a 32-bit count.
VideoDetector video_detector_argument(const Run& run, std::size_t clock, std::size_t band);

}  // namespace iq
