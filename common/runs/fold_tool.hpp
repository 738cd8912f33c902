// The run of the folding tools (cyclefold, cyclestack, cyclebin): they differ only in their
// argument count, usage line, console wording, folded value and whether they report a total.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/arguments.hpp"
#include "dsp/folding.hpp"

namespace iq {

struct FoldTool {
  const char* name;
  const char* usage;
  // The usage label of the file divisor (the sixth argument); nullptr for a tool that always
  // folds the whole file, has five arguments, reports the total and uses the other wording.
  const char* divisor_label;
  FoldedValue value;
};

// The checks of a fold's numeric arguments, each printing its one-line refusal on `err` and
// returning false: a bin count from `least` to 8192; a clock rate and a period that give a
// finite phase; a phase that stays a 64-bit bin number up to the last of `samples` samples.
bool check_fold_points(std::string_view tool, std::int32_t points, std::int32_t least,
                       const std::string& given, std::ostream& err);
bool check_fold_clock_and_period(std::string_view tool, const FoldGeometry& geometry, double clock_mhz,
                                 const std::string& clock_text, const std::string& period_text,
                                 std::ostream& err);
bool check_phase_range(std::string_view tool, const std::string& period_text, const FoldGeometry& geometry,
                       std::int64_t samples, std::ostream& err);

// <tool> <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)> [<divisor>]
int run_fold_tool(const FoldTool& tool, const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
