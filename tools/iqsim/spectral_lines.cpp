// SPDX-License-Identifier: MIT
// Lines at a radial velocity in a chosen frame, turned into tones at the receiver.
#include "spectral_lines.hpp"

#include <cmath>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

std::vector<PlacedLine> place_lines(const std::vector<LineRequest>& lines, const LinePlacement& where,
                                    VelocityFrame frame, const std::optional<Observation>& observation) {
  const UtcInstant middle = later_by(where.start, where.seconds / 2.0);
  const double correction =
      frame == VelocityFrame::topocentric ? 0.0 : correction_kms(frame, corrections_at(*observation, middle));
  std::vector<PlacedLine> placed;
  for (const LineRequest& line : lines) {
    const double topocentric = line.velocity_kms - correction;
    const double frequency_mhz = where.rest_mhz * (1.0 - topocentric / kLightKmPerS);
    const double offset_hz = (frequency_mhz - where.centre_mhz) * 1e6;
    if (!(std::fabs(offset_hz) < where.rate_mhz * 1e6 / 2.0)) {
      throw ToolError(
          cformat("option --line: a line at %.3f km/s lies at %.6f MHz, outside the band of %.6f MHz "
                  "+- %.6g MHz",
                  line.velocity_kms, frequency_mhz, where.centre_mhz, where.rate_mhz / 2.0));
    }
    // A tone's offset is that of its first sample: the drift runs up to the middle.
    const Tone tone{offset_hz - line.drift_hz_per_s * where.seconds / 2.0, line.amplitude, line.drift_hz_per_s};
    const std::string report = cformat(
        "Line=%.3f km/s %s    Correction=%+.4f km/s    Topocentric=%.4f km/s    Frequency=%.6f MHz    "
        "Offset=%+.3f Hz    Time=%s, the middle of the capture\n",
        line.velocity_kms, std::string(frame_name(frame)).c_str(), correction, topocentric, frequency_mhz,
        offset_hz, utc_text(middle).c_str());
    placed.push_back({tone, report});
  }
  return placed;
}

}  // namespace iq
