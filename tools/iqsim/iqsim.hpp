// SPDX-License-Identifier: MIT
// iqsim: writes a synthetic capture, standing in for a receiver's capture program.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// iqsim <capture file> [options]
int run_iqsim(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
