// SPDX-License-Identifier: MIT
// Spectral lines given by their radial velocity in a frame (topocentric, barycentric or LSRK),
// placed as tones at the topocentric frequency the site, pointing and time give.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "astro/observation_options.hpp"
#include "cli/command.hpp"
#include "sky_generator.hpp"

namespace iq {

// A line as --line gives it: its radial velocity (km/s, radio convention) at the middle of the
// capture, its amplitude in converter steps and its drift in Hz per second.
struct LineRequest {
  double velocity_kms = 0.0;
  double amplitude = 20.0;
  double drift_hz_per_s = 0.0;
};

// Where the lines go: the rest frequency, the receiver's tuning and the capture's span.
struct LinePlacement {
  double rest_mhz = kHydrogenRestMhz;
  double centre_mhz = 0.0;
  double rate_mhz = 0.0;
  double seconds = 0.0;  // the capture's length; the velocities hold at its middle
  UtcInstant start;
};

// A line placed: the tone that stands for it and the console line that reports it.
struct PlacedLine {
  Tone tone;
  std::string report;
};

// The tone of each line: at the middle of the capture its frequency is the rest frequency
// shifted by the topocentric velocity, the given one less the frame's correction there (no
// correction in the topocentric frame, and `observation` is then not looked at). A ToolError for
// a line outside the band, centre +- rate / 2.
std::vector<PlacedLine> place_lines(const std::vector<LineRequest>& lines, const LinePlacement& where,
                                    VelocityFrame frame, const std::optional<Observation>& observation);

}  // namespace iq
