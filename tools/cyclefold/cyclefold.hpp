// cyclefold: folds the amplitude of the first 1/divisor of a capture at a period into a pulse profile.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

inline constexpr const char* kCyclefoldUsage =
    "Format: cyclefold <infile> <outfile> <clock rate (MHz)> <output data points> < pulsar period(ms)  <Devisor>>";

// cyclefold <infile> <outfile> <clock rate (MHz)> <output data points> <period (ms)> <divisor>
int run_cyclefold(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
