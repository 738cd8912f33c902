// SPDX-License-Identifier: MIT
// The command-line options that place an observation (site, pointing, start time), declared
// once for every program that uses them, and their reading with the refusals of bad values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "astro/sky.hpp"
#include "cli/command.hpp"
#include "io/capture_metadata.hpp"

namespace iq {

// --site, --radec, --galactic, --azel and --start, for a command's option list; the first four
// alone for a program that has its own --start.
std::vector<OptionSpec> observation_options();
std::vector<OptionSpec> site_and_pointing_options();
// `command` with the site and pointing options and --frame added to its own.
Command with_frame_options(Command command);

// One of them, by name ("--radec").
OptionSpec observation_option(std::string_view name);

struct ObservationDefaults;

// The site --site gives (else the defaults' site) and the time --start gives; a ToolError naming
// the option, and the metadata's field when the defaults come from metadata, when it is missing,
// malformed or out of range.
Site site_from_options_or_refuse(const GivenOptions& given, const ObservationDefaults& defaults);
UtcInstant start_from_options(const GivenOptions& given);

// The ICRS direction --radec gives, or nothing when it is not given.
std::optional<Equatorial> radec_from_options(const GivenOptions& given);

// The ICRS direction --radec or --galactic gives (the first when both are), or nothing when
// neither is given.
std::optional<Equatorial> fixed_pointing_from_options(const GivenOptions& given);

// What the options give: the site, the start and the pointing as ICRS (at the start), with the
// azimuth and elevation when the pointing was given so.
struct Observation {
  Site site;
  UtcInstant start;
  Equatorial pointing;
  std::optional<std::array<double, 2>> azel_deg;
};

// The site --site gives, or nothing when it is not given; a ToolError for a bad value.
std::optional<Site> site_from_options(const GivenOptions& given);

// What a capture's metadata tells where the options say nothing: its site and its start.
struct ObservationDefaults {
  std::optional<Site> site;
  std::optional<UtcInstant> start;
  bool from_metadata = false;  // the refusals then name the metadata as the other source
};
ObservationDefaults observation_defaults(const CaptureMetadata& meta);

// Reads --site, --start and exactly one of the pointings from `given`, the site and start from
// `defaults` when their options are not given; a ToolError naming the option and its valid
// ranges for anything missing, malformed or out of range.
Observation observation_from_options(const GivenOptions& given, const ObservationDefaults& defaults = {});

// The pointing's ICRS direction at `time` (an azimuth and elevation stay fixed at the site
// while the sky turns) and the corrections there then.
Equatorial pointing_at(const Observation& observation, const UtcInstant& time);
VelocityCorrections corrections_at(const Observation& observation, const UtcInstant& time);

// The frame a program reports velocities in, from --frame topo|bary|lsrk.
enum class VelocityFrame { topocentric, barycentric, lsrk };
inline constexpr OptionSpec kFrameOption{
    .name = "--frame",
    .argument = "topo|bary|lsrk",
    .help = "the frame of the velocities: as measured at the site, barycentric or\nkinematic LSR"};

// The frame --frame names (topocentric when it is not given); a ToolError for any other word.
VelocityFrame frame_option(const GivenOptions& given);

// The word --frame takes for a frame: "topo", "bary" or "lsrk".
std::string_view frame_word(VelocityFrame frame);

// The correction, km/s, that turns a topocentric radial velocity into one in `frame`.
double correction_kms(VelocityFrame frame, const VelocityCorrections& corrections);

// The frame as the axis labels and console lines name it: "Topocentric", "Barycentric", "LSRK".
std::string_view frame_name(VelocityFrame frame);

}  // namespace iq
