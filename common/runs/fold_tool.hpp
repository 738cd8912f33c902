// The run of the folding tools (cyclefold, cyclestack, cyclebin): they differ only in their
// argument count, usage line, console wording, folded value and whether they report a total.
#pragma once

#include <ostream>

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

// <tool> <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)> [<divisor>]
int run_fold_tool(const FoldTool& tool, const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
