// SPDX-License-Identifier: MIT
// The video detection's parameters.
#include "cli/video_arguments.hpp"

#include <cmath>

#include "io/text_format.hpp"

namespace iq {

namespace {

// A rate as the tools hold it: the argument converted like atof and stored single.
float positive_rate(const Run& run, std::size_t k) {
  const auto value = static_cast<float>(run.number(k));
  if (!(std::isfinite(value) && value > 0)) run.refuse(k);
  return value;
}

}  // namespace

VideoDetector video_detector_argument(const Run& run, std::size_t clock, std::size_t band) {
  const float clock_mhz = positive_rate(run, clock);
  const float band_khz = positive_rate(run, band);
  const float ratio = VideoDetector::ratio_of(clock_mhz, band_khz);
  // The whole sample count is a 32-bit integer: 2^31 is the first ratio it cannot hold.
  if (!(ratio >= 1.0f && ratio < 2147483648.0f)) {
    refuse_parameter("clock rate (MHz) x 1000 / video band (kHz)",
                     "from 1 to below 2147483648 (at least one whole sample per video point)",
                     cformat("%s x 1000 / %s = %g", run.text(clock).c_str(), run.text(band).c_str(),
                             static_cast<double>(ratio)));
  }
  return VideoDetector{clock_mhz, band_khz, ratio, static_cast<std::int64_t>(static_cast<std::int32_t>(ratio))};
}

}  // namespace iq
