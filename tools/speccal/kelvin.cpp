// SPDX-License-Identifier: MIT
// Y-factor and noise-diode temperatures per bin, with the refusals of references that cannot
// give them.
#include "kelvin.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// A ToolError unless every bin of `table` is a power above 0.
void require_positive(const SpectrumTable& table, const char* option) {
  for (std::size_t i = 0; i < table.values.size(); ++i) {
    if (!(table.values[i] > 0.0)) {
      throw ToolError(cformat("option %s: %s's bin %lld is %g; a reference's power must be above 0 in every bin",
                              option, table.name.c_str(), static_cast<long long>(table.bin(i)), table.values[i]));
    }
  }
}

}  // namespace

KelvinScale y_factor_scale(const SpectrumTable& hot, const SpectrumTable& cold, double t_hot, double t_cold) {
  require_same_bins(hot, cold, "--cold");
  require_positive(hot, "--hot");
  require_positive(cold, "--cold");
  KelvinScale scale{std::vector<double>(hot.values.size()), std::vector<double>(hot.values.size())};
  for (std::size_t i = 0; i < hot.values.size(); ++i) {
    const double y = hot.values[i] / cold.values[i];
    if (!(y > 1.0)) {
      throw ToolError(cformat("option --hot: %s's bin %lld (%g) is not above the cold load's (%g): no Y factor",
                              hot.name.c_str(), static_cast<long long>(hot.bin(i)), hot.values[i],
                              cold.values[i]));
    }
    const double receiver = (t_hot - y * t_cold) / (y - 1.0);
    (*scale.receiver)[i] = receiver;
    scale.system[i] = receiver + t_cold;
  }
  return scale;
}

KelvinScale diode_scale(const SpectrumTable& diode, const SpectrumTable& off, double t_cal) {
  require_same_bins(diode, off, "--diode");
  KelvinScale scale{std::vector<double>(diode.values.size()), std::nullopt};
  for (std::size_t i = 0; i < diode.values.size(); ++i) {
    const double excess = diode.values[i] - off.values[i];
    if (!(excess > 0.0) || !(off.values[i] > 0.0)) {
      throw ToolError(
          cformat("option --diode: %s's bin %lld (%g) is not above the reference's (%g) or that is "
                  "not above 0: no kelvin scale",
                  diode.name.c_str(), static_cast<long long>(diode.bin(i)), diode.values[i], off.values[i]));
    }
    scale.system[i] = t_cal * off.values[i] / excess;
  }
  return scale;
}

}  // namespace iq
