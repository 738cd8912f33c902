// SPDX-License-Identifier: MIT
// iqplot: draws any table of the toolkit as a PNG or SVG picture with gnuplot.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// iqplot <table> <picture> [options]
int run_iqplot(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
