// cyclesearch: folds a capture once into sub-integrations and searches trial periods around a
// nominal one for the pulse profile furthest from flat, with its significance.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

inline constexpr const char* kCyclesearchUsage =
    "Usage: cyclesearch <capture> <table> <clock rate (MHz)> <bins> <period (ms)> <span> <trials> "
    "[--subints N] [--threshold SIGMA] [--profile FILE]   (cyclesearch -h explains)";

// cyclesearch <capture> <table> <clock rate (MHz)> <bins> <period (ms)> <span> <trials> [options]
int run_cyclesearch(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
