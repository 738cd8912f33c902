// SPDX-License-Identifier: MIT
// The command-line options that place an observation (site, pointing, start time), declared
// once for every program that uses them, and their reading with the refusals of bad values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "astro/sky.hpp"
#include "cli/command.hpp"

namespace iq {

// --site, --radec, --galactic, --azel and --start, for a command's option list.
std::vector<OptionSpec> observation_options();

// One of them, by name ("--radec").
OptionSpec observation_option(std::string_view name);

// The site --site gives and the time --start gives; a ToolError naming the option when it is
// missing, malformed or out of range.
Site site_from_options(const GivenOptions& given);
UtcInstant start_from_options(const GivenOptions& given);

// The ICRS direction --radec gives, or nothing when it is not given.
std::optional<Equatorial> radec_from_options(const GivenOptions& given);

// What the options give: the site, the start and the pointing as ICRS.
struct Observation {
  Site site;
  UtcInstant start;
  Equatorial pointing;
};

// Reads --site, --start and exactly one of the pointings from `given`; a ToolError naming the
// option and its valid ranges for anything missing, malformed or out of range.
Observation observation_from_options(const GivenOptions& given);

// The frame a program reports velocities in, from --frame topo|bary|lsrk.
enum class VelocityFrame { topocentric, barycentric, lsrk };
inline constexpr OptionSpec kFrameOption{
    .name = "--frame",
    .argument = "topo|bary|lsrk",
    .help = "the frame of the velocities: as measured at the site, barycentric or\nkinematic LSR"};

// The frame --frame names (topocentric when it is not given); a ToolError for any other word.
VelocityFrame frame_option(const GivenOptions& given);

// The correction, km/s, that turns a topocentric radial velocity into one in `frame`.
double correction_kms(VelocityFrame frame, const VelocityCorrections& corrections);

}  // namespace iq
