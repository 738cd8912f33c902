// SPDX-License-Identifier: MIT
// speccal's command line: its declaration and the options read into what a run does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "astro/observation_options.hpp"
#include "cli/command.hpp"
#include "line_report.hpp"

namespace iq {

const Command& speccal_command();

// The two loads of a Y factor, or a noise diode, and their temperatures in kelvin.
struct YFactorOptions {
  std::string hot, cold;
  double t_hot = 0.0, t_cold = 0.0;
};
struct DiodeOptions {
  std::string diode;
  double t_cal = 0.0;
};

enum class DcBin { kept, flagged, interpolated };

struct ReportOptions {
  int components = 1;
  double rest_hz = 0.0;
  std::optional<double> centre_hz;
  VelocityFrame frame = VelocityFrame::topocentric;
  // For a frame other than the site's: the options that place the observation, checked; the
  // site and start they leave out come from the on-table's header.
  std::optional<GivenOptions> observation;
};

struct CalOptions {
  std::optional<int> order;
  std::optional<LineWindow> line;
  bool switched = false;
  std::optional<double> centre_a_hz, centre_b_hz, rate_hz;
  std::optional<YFactorOptions> y_factor;
  std::optional<DiodeOptions> diode;
  std::optional<double> flag_k;
  std::size_t flag_window = 9;
  DcBin dc = DcBin::kept;
  std::optional<ReportOptions> report;
  bool outside_line(std::int64_t bin) const { return !line || bin < line->from || bin > line->to; }
  bool kelvin() const { return y_factor || diode; }
};

// Reads and checks the options; a ToolError naming the option for any refused value or pairing.
CalOptions cal_options(const GivenOptions& given);

}  // namespace iq
