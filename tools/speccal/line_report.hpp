// SPDX-License-Identifier: MIT
// The line report of a baseline-subtracted spectrum: a Gaussian fit on a radial-velocity axis,
// the integrated intensity and, in kelvin, the HI column density, each with its uncertainty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "astro/observation_options.hpp"
#include "spectrum_table.hpp"

namespace iq {

// A range of bin numbers, both ends included.
struct LineWindow {
  std::int64_t from = 0;
  std::int64_t to = 0;
};

// Bin numbers as radial velocities, radio convention: v = c (f0 - f) / f0 + the frame's
// correction, f = centre + bin * rate / points.
struct VelocityAxis {
  double rest_hz = 0.0;
  double centre_hz = 0.0;
  double bin_hz = 0.0;
  VelocityFrame frame = VelocityFrame::topocentric;
  double correction_kms = 0.0;
  double at(std::int64_t bin) const;
  double channel_kms() const;  // the velocity step of one bin, above 0
};

struct LineReportInput {
  const Spectrum& spectrum;          // less its baseline
  const std::vector<bool>& flagged;  // per bin of `spectrum`; flagged bins are not fitted
  LineWindow window;
  VelocityAxis axis;
  int components = 1;
  double rms = 0.0;  // of the baseline's residuals
  bool kelvin = false;
};

// The HI column density, cm^-2, of an optically thin line of this integral of T_B dv (K km/s).
double column_density_cm2(double integral_k_kms);

// The report, one name=value a line; a ToolError when the fit fails.
std::string line_report(const LineReportInput& in);

}  // namespace iq
