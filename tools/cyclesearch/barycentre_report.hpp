// SPDX-License-Identifier: MIT
// cyclesearch's period and epoch referred to the solar-system barycentre, when the command line
// places the observation (site, source, start).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "astro/observation_options.hpp"
#include "astro/sky.hpp"
#include "cli/command.hpp"

namespace iq {

// --site, --radec and --start.
std::vector<OptionSpec> barycentre_options();

// Where and when the data were taken, and the source's direction.
struct BarycentreRequest {
  Site site;
  Equatorial source;
  UtcInstant start;
};

// What the input says where the options say nothing: the start and the source from a pulsar
// file's header, the site and the start from a capture's SigMF metadata.
struct SourceDefaults {
  std::optional<UtcInstant> start;
  std::optional<Equatorial> source;
  ObservationDefaults capture;
};

// Nothing when neither --site nor --radec is given (--start alone is refused); otherwise the
// site (--site or the capture's), the source (--radec, the header's or the capture's) and the start (--start,
// the header's or the capture's), each refused by name when missing or malformed.
std::optional<BarycentreRequest> barycentre_request(const GivenOptions& given, const SourceDefaults& defaults);

// Whether barycentre_request would look at a capture's metadata: the barycentre is asked for
// and --site, --start or --radec is left out.
bool barycentre_needs_metadata(const GivenOptions& given);

// The topocentric period of data lasting `seconds` from the request's start, referred to the
// barycentre, and the epoch of their first sample there.
struct BarycentricResult {
  double period_ms = 0.0;
  double v_over_c = 0.0;       // at the data's middle
  double start_utc_mjd = 0.0;  // the first sample, at the site
  double epoch_tdb_mjd = 0.0;  // the first sample's wavefront at the barycentre
  double roemer_s = 0.0;
};
BarycentricResult barycentric_result(const BarycentreRequest& request, double topocentric_ms, double seconds);

// The console's two lines, and the table's header line.
void print_barycentric(std::ostream& out, const BarycentricResult& result, double topocentric_ms);
std::string barycentric_header(const BarycentricResult& result);

}  // namespace iq
