// SPDX-License-Identifier: MIT
// iqwaterfall: the spectrum of a capture over time, one averaged spectrum per run of frames.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// iqwaterfall <capture|-> <table> <points> <frames per row> [options]
int run_iqwaterfall(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
