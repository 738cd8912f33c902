// SPDX-License-Identifier: MIT
// The correction that turns a velocity axis from topocentric into barycentric or LSRK.
#include "velocity_frame.hpp"

#include <cmath>

#include "astro/observation_options.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// The seconds one waterfall row spans.
double row_seconds(const PlotSettings& s) {
  return static_cast<double>(s.frames_per_row) * static_cast<double>(s.points) / (*s.rate_mhz * 1e6);
}

}  // namespace

std::optional<std::string> apply_velocity_frame(const GivenOptions& given, const CaptureMetadata& meta,
                                                std::optional<double> capture_seconds, PlotSettings& settings) {
  const VelocityFrame frame = frame_option(given);
  if (given.has("--frame") && !settings.velocity_rest_mhz) {
    throw ToolError("option --frame names the frame of a velocity axis: give --velocity as well");
  }
  settings.velocity_frame = std::string(frame_name(frame));
  if (frame == VelocityFrame::topocentric) return std::nullopt;
  ObservationDefaults defaults = observation_defaults(meta);
  defaults.start = settings.start_utc ? parse_utc(*settings.start_utc) : std::nullopt;
  const Observation observation = observation_from_options(given, defaults);
  std::string where = "the start of the capture (its length is not known)";
  std::string rows;
  double middle = 0.0;
  if (settings.kind == TableKind::kWaterfall) {
    // The axis is drawn once for every row: the middle of the whole, each row's own noted.
    const double row = row_seconds(settings);
    middle = row * static_cast<double>(settings.rows) / 2.0;
    where = "the middle of the waterfall";
    if (settings.rows > 1) {
      const auto at = [&](double seconds) {
        return correction_kms(frame, corrections_at(observation, later_by(observation.start, seconds)));
      };
      rows = cformat(" (the first row's middle %+.4f km/s, the last row's %+.4f km/s)", at(row / 2),
                     at(2.0 * middle - row / 2));
    }
  } else if (capture_seconds) {
    middle = *capture_seconds / 2.0;
    where = "the middle of the capture";
  }
  const UtcInstant time = later_by(observation.start, middle);
  // To a millimetre per second, far below any channel: the last bits of ERFA's arithmetic
  // differ between processors (fused multiply-adds), and the picture's script must not.
  settings.velocity_correction_kms =
      std::round(correction_kms(frame, corrections_at(observation, time)) * 1e6) / 1e6;
  return cformat("Frame=%s    Correction=%+.4f km/s    Time=%s, %s%s\n", settings.velocity_frame.c_str(),
                 settings.velocity_correction_kms, utc_text(time).c_str(), where.c_str(), rows.c_str());
}

}  // namespace iq
