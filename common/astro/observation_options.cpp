// SPDX-License-Identifier: MIT
// Reading the site, pointing and start options into an observation.
#include "astro/observation_options.hpp"

#include <string_view>

#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr std::string_view kSiteRange =
    "LAT,LON[,HEIGHT_M]: a latitude from -90 to 90 degrees north, a longitude from -180 to 180 degrees "
    "east and a height from -1000 to 10000 m";
constexpr std::string_view kRadecRange =
    "RA_DEG,DEC_DEG: a right ascension from 0 to 360 (360 excluded) "
    "and a declination from -90 to 90";
constexpr std::string_view kGalacticRange =
    "L_DEG,B_DEG: a galactic longitude from 0 to 360 (360 excluded) and a latitude from -90 to 90";
constexpr std::string_view kAzelRange =
    "AZ_DEG,EL_DEG: an azimuth from 0 to 360 (360 excluded, from north through east) and an elevation "
    "from 0 to 90";
constexpr std::string_view kPointings[] = {"--radec", "--galactic", "--azel"};

// The numbers of a comma-separated option value, at least `least` and at most `most` of them.
std::vector<double> numbers(std::string_view option, const std::string& text, std::size_t least, std::size_t most,
                            std::string_view range) {
  std::vector<double> values;
  std::size_t at = 0;
  for (;;) {
    const std::size_t comma = text.find(',', at);
    require_option(values.size() < most, option, range);
    values.push_back(option_number(option, text.substr(at, comma - at)));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  require_option(values.size() >= least, option, range);
  return values;
}

bool within(double value, double least, double most) { return value >= least && value <= most; }

// The refusal of a missing option: its form, and the metadata's field that may stand for it.
ToolError needed(std::string_view option, std::string_view form, std::string_view field,
                 const ObservationDefaults& defaults) {
  std::string why = "option " + std::string(option) + " is needed: " + std::string(form);
  if (defaults.from_metadata) why += " (or the capture's SigMF metadata with " + std::string(field) + ")";
  return ToolError(why);
}

Site site_option(const GivenOptions& given, const ObservationDefaults& defaults) {
  const auto text = given.value("--site");
  if (!text && defaults.site) return *defaults.site;
  if (!text) throw needed("--site", kSiteRange, "core:geolocation", defaults);
  const std::vector<double> v = numbers("--site", *text, 2, 3, kSiteRange);
  // The ranges a capture's metadata takes a site in.
  const Geolocation place{v[0], v[1], v.size() == 3 ? v[2] : 0.0};
  require_option(geolocation_in_range(place), "--site", kSiteRange);
  return Site{place.latitude_deg, place.longitude_deg, place.height_m};
}

UtcInstant start_option(const GivenOptions& given, const ObservationDefaults& defaults) {
  const auto text = given.value("--start");
  constexpr std::string_view kRange =
      "an ISO 8601 UTC date and time from 1900 to 2100, YYYY-MM-DDTHH:MM[:SS[.fff]][Z]";
  if (!text && defaults.start) return *defaults.start;
  if (!text) throw needed("--start", kRange, "core:datetime", defaults);
  const auto instant = parse_utc(*text);
  if (!instant) throw ToolError("option --start must be " + std::string(kRange) + " (got '" + *text + "')");
  return *instant;
}

// Two angles: the first from 0 to 360 (excluded), the second from `second_least` to 90.
std::vector<double> angle_pair(std::string_view option, const std::string& text, double second_least,
                               std::string_view range) {
  const std::vector<double> v = numbers(option, text, 2, 2, range);
  require_option(v[0] >= 0.0 && v[0] < 360.0 && within(v[1], second_least, 90.0), option, range);
  return v;
}

void read_pointing(const GivenOptions& given, Observation& observation) {
  int count = 0;
  for (const std::string_view option : kPointings) count += given.has(option) ? 1 : 0;
  if (count != 1) throw ToolError("give exactly one pointing: --radec, --galactic or --azel");
  if (const auto fixed = fixed_pointing_from_options(given)) {
    observation.pointing = *fixed;
  } else {
    const std::vector<double> v = angle_pair("--azel", *given.value("--azel"), 0.0, kAzelRange);
    observation.azel_deg = {v[0], v[1]};
    observation.pointing = pointing_at(observation, observation.start);
  }
}

}  // namespace

Site site_from_options_or_refuse(const GivenOptions& given, const ObservationDefaults& defaults) {
  return site_option(given, defaults);
}

UtcInstant start_from_options(const GivenOptions& given) { return start_option(given, {}); }

std::optional<Equatorial> radec_from_options(const GivenOptions& given) {
  const auto text = given.value("--radec");
  if (!text) return std::nullopt;
  const std::vector<double> v = angle_pair("--radec", *text, -90.0, kRadecRange);
  return Equatorial{v[0], v[1]};
}

std::optional<Equatorial> fixed_pointing_from_options(const GivenOptions& given) {
  if (auto radec = radec_from_options(given)) return radec;
  const auto text = given.value("--galactic");
  if (!text) return std::nullopt;
  const std::vector<double> v = angle_pair("--galactic", *text, -90.0, kGalacticRange);
  return galactic_to_icrs(v[0], v[1]);
}

std::vector<OptionSpec> site_and_pointing_options() {
  return {
      {.name = "--site",
       .argument = "LAT,LON[,HEIGHT_M]",
       .help = "the observer: degrees north, degrees east (WGS84), metres above the\nellipsoid (0 if left out)"},
      {.name = "--radec",
       .argument = "RA_DEG,DEC_DEG",
       .help = "the pointing in ICRS right ascension and declination"},
      {.name = "--galactic", .argument = "L_DEG,B_DEG", .help = "the pointing in galactic longitude and latitude"},
      {.name = "--azel",
       .argument = "AZ_DEG,EL_DEG",
       .help = "the pointing in azimuth (from north through east) and elevation at\nthe site and start time, "
               "without refraction"}};
}

Command with_frame_options(Command command) {
  command.options.push_back(kFrameOption);
  for (const OptionSpec& option : site_and_pointing_options()) command.options.push_back(option);
  return command;
}

std::vector<OptionSpec> observation_options() {
  std::vector<OptionSpec> options = site_and_pointing_options();
  options.push_back({.name = "--start",
                     .argument = "TIME",
                     .help = "the time in UTC, ISO 8601: YYYY-MM-DDTHH:MM[:SS[.fff]][Z]"});
  return options;
}

OptionSpec observation_option(std::string_view name) {
  for (const OptionSpec& option : observation_options()) {
    if (option.name == name) return option;
  }
  throw ToolError("no observation option " + std::string(name));
}

VelocityFrame frame_option(const GivenOptions& given) {
  const auto text = given.value("--frame");
  if (!text || *text == "topo") return VelocityFrame::topocentric;
  if (*text == "bary") return VelocityFrame::barycentric;
  require_option(*text == "lsrk", "--frame", "topo, bary or lsrk (got '" + *text + "')");
  return VelocityFrame::lsrk;
}

std::string_view frame_word(VelocityFrame frame) {
  switch (frame) {
    case VelocityFrame::barycentric:
      return "bary";
    case VelocityFrame::lsrk:
      return "lsrk";
    case VelocityFrame::topocentric:
      break;
  }
  return "topo";
}

double correction_kms(VelocityFrame frame, const VelocityCorrections& corrections) {
  switch (frame) {
    case VelocityFrame::barycentric:
      return corrections.barycentric_kms;
    case VelocityFrame::lsrk:
      return corrections.lsrk_kms;
    case VelocityFrame::topocentric:
      break;
  }
  return 0.0;
}

std::string_view frame_name(VelocityFrame frame) {
  switch (frame) {
    case VelocityFrame::barycentric:
      return "Barycentric";
    case VelocityFrame::lsrk:
      return "LSRK";
    case VelocityFrame::topocentric:
      break;
  }
  return "Topocentric";
}

std::optional<Site> site_from_options(const GivenOptions& given) {
  if (!given.has("--site")) return std::nullopt;
  return site_option(given, {});
}

ObservationDefaults observation_defaults(const CaptureMetadata& meta) {
  ObservationDefaults defaults;
  defaults.from_metadata = true;
  if (const auto& place = meta.geolocation) {
    defaults.site = Site{place->latitude_deg, place->longitude_deg, place->height_m};
  }
  if (meta.datetime_utc) defaults.start = parse_utc(*meta.datetime_utc);
  return defaults;
}

Observation observation_from_options(const GivenOptions& given, const ObservationDefaults& defaults) {
  Observation observation;
  observation.site = site_option(given, defaults);
  observation.start = start_option(given, defaults);
  read_pointing(given, observation);
  return observation;
}

Equatorial pointing_at(const Observation& observation, const UtcInstant& time) {
  if (!observation.azel_deg) return observation.pointing;
  return horizontal_to_icrs((*observation.azel_deg)[0], (*observation.azel_deg)[1], observation.site, time);
}

VelocityCorrections corrections_at(const Observation& observation, const UtcInstant& time) {
  return velocity_corrections(observation.site, pointing_at(observation, time), time);
}

}  // namespace iq
