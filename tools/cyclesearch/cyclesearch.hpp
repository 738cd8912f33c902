// SPDX-License-Identifier: MIT
// cyclesearch: folds a capture once into sub-integrations and searches trial periods around a
// nominal one for the pulse profile furthest from flat, with its significance.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// cyclesearch <capture> <table> <clock rate (MHz)> <bins> <period (ms)> <span> <trials> [options]
int run_cyclesearch(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
