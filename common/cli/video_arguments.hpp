// The clock rate and video band arguments of the video-detecting tools, as a VideoDetector.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "dsp/video_detection.hpp"

namespace iq {

// Converts the clock rate and video band arguments. Refuses, with one line on `err`, a rate or
// band that is not a finite number above 0, and a ratio below 1 (no whole sample per point) or
// too large for a 32-bit sample count.
std::optional<VideoDetector> video_detector_from_arguments(std::string_view tool, const std::string& clock_text,
                                                           const std::string& band_text, std::ostream& err);

}  // namespace iq
