// SPDX-License-Identifier: MIT
// Reading --dm into its trials.
#include "dm_trials.hpp"

#include <cmath>

#include "cli/command.hpp"
#include "dsp/dispersion.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr const char* kDmRange = "DM or FROM:TO[:STEP], dispersion measures of 0 or more pc cm^-3";

std::vector<double> dm_fields(const std::string& text) {
  std::vector<double> fields;
  std::size_t at = 0;
  for (;;) {
    const std::size_t colon = text.find(':', at);
    require_option(fields.size() < 3, "--dm", kDmRange);
    fields.push_back(option_number("--dm", text.substr(at, colon - at)));
    if (colon == std::string::npos) break;
    at = colon + 1;
  }
  for (const double field : fields) require_option(std::isfinite(field) && field >= 0.0, "--dm", kDmRange);
  return fields;
}

}  // namespace

double dm_step_for(const PulsarHeader& header, double seconds) {
  const double lowest = header.fch1_mhz + std::min(0.0, (header.nchans - 1) * header.foff_mhz);
  const double highest = header.fch1_mhz + std::max(0.0, (header.nchans - 1) * header.foff_mhz);
  return seconds / dispersion_delay_s(1.0, lowest, highest);
}

double default_dm_step(const PulsarHeader& header) { return dm_step_for(header, header.tsamp_s); }

std::vector<double> dm_trials(const std::string& text, const PulsarHeader& header) {
  const std::vector<double> fields = dm_fields(text);
  if (fields.size() == 1) return fields;
  const double step = fields.size() == 3 ? fields[2] : default_dm_step(header);
  if (!(step > 0.0)) throw ToolError("option --dm: the step must be above 0 (got '" + text + "')");
  if (fields[1] < fields[0])
    throw ToolError("option --dm: the range " + text + " holds no trials (TO below FROM)");
  const double count = std::floor((fields[1] - fields[0]) / step + 1e-6) + 1.0;
  if (count > static_cast<double>(kMaxDmTrials)) {
    throw ToolError(cformat("option --dm: the range %s holds %.0f trials at a step of %.6g; at most %zu",
                            text.c_str(), count, step, kMaxDmTrials));
  }
  std::vector<double> dms;
  for (int k = 0; k < static_cast<int>(count); ++k) dms.push_back(fields[0] + k * step);
  return dms;
}

}  // namespace iq
