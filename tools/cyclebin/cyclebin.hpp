// SPDX-License-Identifier: MIT
// cyclebin: folds the power of the first 1/divisor of a capture at a period into a pulse profile.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// cyclebin <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)> <file divisor>
int run_cyclebin(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
