// SPDX-License-Identifier: MIT
// The run of the folding tools (cyclefold, cyclestack, cyclebin): they differ only in their
// argument count, usage line, console wording, folded value and whether they report a total.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/command.hpp"
#include "dsp/folding.hpp"

namespace iq {

struct FoldTool {
  const char* name;
  const char* usage;
  // The usage label of the file divisor (the sixth argument); nullptr for a tool that always
  // folds the whole file, has five arguments, reports the total and uses the other wording.
  const char* divisor_label;
  FoldedValue value;
  const char* summary;  // for the help text
};

// The clock rate and the period of every fold, and the refusals of a pair that gives no
// finite phase, or of a phase that would not stay a 64-bit bin number up to the last of
// `samples` samples.
inline constexpr Parameter kFoldClock{
    .name = "clock rate (MHz)",
    .kind = ParameterKind::number,
    .unit = "MHz",
    .range = "a finite number above 0 whose reciprocal fits single precision (3e-39 or more)"};
inline constexpr Parameter kFoldPeriod{
    .name = "pulsar period(ms)", .kind = ParameterKind::number, .unit = "ms", .range = "a finite number above 0"};
void check_fold_clock_and_period(const FoldGeometry& geometry, double clock_mhz, const std::string& clock_text,
                                 const std::string& period_text);
void check_phase_range(const std::string& period_text, const FoldGeometry& geometry, std::int64_t samples);

// The command line of a folding tool:
// <tool> <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)> [<divisor>]
Command fold_command(const FoldTool& tool);
int run_fold_tool(const FoldTool& tool, const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
