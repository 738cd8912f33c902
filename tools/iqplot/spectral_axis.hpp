// SPDX-License-Identifier: MIT
// The horizontal axis of tables whose rows are frequency bins (spectra, calibrated spectra,
// waterfall rows): bin numbers, frequency in MHz, or radial velocity about a line's rest
// frequency.
#pragma once

#include <cstdint>
#include <string>

#include "astro/sky.hpp"
#include "plot_script.hpp"

namespace iq {

// An axis of a plot: a gnuplot expression of the table's columns, its label, and the same
// mapping in numbers (value = offset + scale * column 1) to check ranges and choose ticks.
struct Axis {
  std::string expression;
  std::string label;
  double scale = 1.0;
  double offset = 0.0;
  double at(double key) const { return offset + scale * key; }
};

// A number as the scripts write it: enough digits to read back as the same double.
std::string script_number(double value);

// The axis for bins numbered from -points/2 in column 1: bin numbers without a rate; with a
// rate the frequency in MHz (absolute with a centre, otherwise the offset from it); with
// velocity_rest_mhz (which needs the rate and the centre) the radial velocity in km/s in the
// radio convention, v = c (rest - f) / rest, plus the settings' correction to their frame.
Axis spectral_axis(const PlotSettings& settings, std::int64_t points);

}  // namespace iq
