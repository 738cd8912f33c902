// SPDX-License-Identifier: MIT
// The frame of a velocity axis: the correction from topocentric velocities at the middle of the
// table's capture, from the site, pointing and time of the options or the capture's metadata.
#pragma once

#include <optional>
#include <string>

#include "cli/command.hpp"
#include "io/capture_metadata.hpp"
#include "plot_script.hpp"

namespace iq {

// Sets the settings' frame (--frame, topocentric by default) and its correction: at the middle
// of a waterfall's rows, else of a capture `capture_seconds` long, else at the start. Returns
// the console line that reports it ("Frame=LSRK    Correction=... km/s    Time=..., ..."), or
// nothing for the topocentric frame. A ToolError for --frame without --velocity, and for a
// barycentric or LSRK frame without a site, a pointing or a time.
std::optional<std::string> apply_velocity_frame(const GivenOptions& given, const CaptureMetadata& meta,
                                                std::optional<double> capture_seconds, PlotSettings& settings);

}  // namespace iq
