// SPDX-License-Identifier: MIT
// cyclefold: folds the amplitude of the first 1/divisor of a capture at a period into a pulse profile.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// cyclefold <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)> <divisor>
int run_cyclefold(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
