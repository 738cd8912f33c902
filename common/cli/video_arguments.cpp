// The video detector's arguments: rates above 0 and a whole sample count per point.
#include "cli/video_arguments.hpp"

#include <cmath>

#include "cli/arguments.hpp"
#include "io/text_format.hpp"

namespace iq {

namespace {

// A rate as the tools hold it: the argument converted like atof and stored single.
std::optional<float> positive_rate(std::string_view tool, std::string_view name, const std::string& text,
                                   std::ostream& err) {
  const auto value = static_cast<float>(number_argument(name, text));
  if (std::isfinite(value) && value > 0) return value;
  refuse_parameter(err, tool, name, "a finite number above 0", text);
  return std::nullopt;
}

}  // namespace

std::optional<VideoDetector> video_detector_from_arguments(std::string_view tool, const std::string& clock_text,
                                                           const std::string& band_text, std::ostream& err) {
  const auto clock = positive_rate(tool, "clock rate (MHz)", clock_text, err);
  if (!clock) return std::nullopt;
  const auto band = positive_rate(tool, "video band (kHz)", band_text, err);
  if (!band) return std::nullopt;
  const float ratio = VideoDetector::ratio_of(*clock, *band);
  // The whole sample count is a 32-bit integer: 2^31 is the first ratio it cannot hold.
  if (!(ratio >= 1.0f && ratio < 2147483648.0f)) {
    refuse_parameter(err, tool, "clock rate (MHz) x 1000 / video band (kHz)",
                     "from 1 to below 2147483648 (at least one whole sample per video point)",
                     cformat("%s x 1000 / %s = %g", clock_text.c_str(), band_text.c_str(),
                             static_cast<double>(ratio)));
    return std::nullopt;
  }
  return VideoDetector{*clock, *band, ratio, static_cast<std::int64_t>(static_cast<std::int32_t>(ratio))};
}

}  // namespace iq
