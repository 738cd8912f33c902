// SPDX-License-Identifier: MIT
// lagscan: normalised cross-correlation of the amplitudes of two simultaneous captures over all
// lags, with the best lag in each direction.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// lagscan <infile1> <infile2> <outfile> <sample length> <No 8192 IQ blocks>
int run_lagscan(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
