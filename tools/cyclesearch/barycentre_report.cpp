// SPDX-License-Identifier: MIT
// The barycentric period and epoch of a search, through ERFA.
#include "barycentre_report.hpp"

#include <cmath>

#include "astro/observation_options.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

std::vector<OptionSpec> barycentre_options() {
  std::vector<OptionSpec> options;
  for (const char* name : {"--site", "--radec", "--start"}) options.push_back(observation_option(name));
  options[1].help = "the source in ICRS right ascension and declination";
  return options;
}

// The start from --start, else the input's.
UtcInstant start_of(const GivenOptions& given, const SourceDefaults& defaults) {
  if (given.has("--start")) return start_from_options(given);
  const std::optional<UtcInstant> start = defaults.start ? defaults.start : defaults.capture.start;
  if (!start) {
    throw ToolError(
        "the start of the data is not known: give --start TIME, or keep it in the capture's SigMF "
        "metadata (core:datetime) or the file's header");
  }
  return *start;
}

bool barycentre_needs_metadata(const GivenOptions& given) {
  return (given.has("--site") || given.has("--radec")) &&
         !(given.has("--site") && given.has("--start") && given.has("--radec"));
}

std::optional<BarycentreRequest> barycentre_request(const GivenOptions& given, const SourceDefaults& defaults) {
  if (!given.has("--site") && !given.has("--radec")) {
    if (given.has("--start")) throw ToolError("option --start is for the barycentre: give --site and --radec too");
    return std::nullopt;
  }
  BarycentreRequest request;
  request.site = site_from_options_or_refuse(given, defaults.capture);
  const auto source = given.has("--radec") ? radec_from_options(given) : defaults.source;
  if (!source) throw ToolError("option --radec is needed for the barycentre: the source's RA_DEG,DEC_DEG");
  request.source = *source;
  request.start = start_of(given, defaults);
  return request;
}

BarycentricResult barycentric_result(const BarycentreRequest& request, double topocentric_ms, double seconds) {
  const auto later = [&](double s) { return UtcInstant{request.start.jd1, request.start.jd2 + s / 86400.0}; };
  const BarycentricTiming middle = barycentric_timing(request.site, request.source, later(seconds / 2.0));
  const BarycentricTiming first = barycentric_timing(request.site, request.source, request.start);
  BarycentricResult result;
  result.v_over_c = middle.v_over_c;
  result.period_ms = topocentric_ms * (1.0 + middle.v_over_c);
  result.start_utc_mjd = modified_julian_date(request.start.jd1, request.start.jd2);
  result.roemer_s = first.roemer_s;
  result.epoch_tdb_mjd = first.tdb_mjd + first.roemer_s / 86400.0;
  return result;
}

void print_barycentric(std::ostream& out, const BarycentricResult& result, double topocentric_ms) {
  out << cformat("Barycentric period=%.12f ms   topocentric %.12f ms   v/c=%+.6e toward the source\n",
                 result.period_ms, topocentric_ms, result.v_over_c);
  out << cformat(
      "Epoch of the first sample: MJD %.11f UTC at the site, MJD %.11f TDB at the barycentre "
      "(Roemer delay %+.6f s)\n",
      result.start_utc_mjd, result.epoch_tdb_mjd, result.roemer_s);
}

std::string barycentric_header(const BarycentricResult& result) {
  return cformat("# barycentric_period_ms=%.12f v_over_c=%.6e epoch_tdb_mjd=%.11f\n", result.period_ms,
                 result.v_over_c, result.epoch_tdb_mjd);
}

}  // namespace iq
