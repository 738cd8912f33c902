// cyclestack: folds the power of a whole capture at a period into a pulse profile, with the total sample count.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

inline constexpr const char* kCyclestackUsage =
    "Format: cyclestack <infile> <outfile> <clock rate (MHz)> <output data points> < pulsar period(ms)>";

// cyclestack <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)>
int run_cyclestack(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
