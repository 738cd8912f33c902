// SPDX-License-Identifier: MIT
// cyclestack: folds the power of a whole capture at a period into a pulse profile, with the total sample count.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// cyclestack <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)>
int run_cyclestack(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
