// SPDX-License-Identifier: MIT
// iqspec: the averaged power spectrum of a capture.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"
#include "dsp/spectrum.hpp"

namespace iq {

// iqspec <Infile> <Outfile> <No. FFT Points>
int run_iqspec(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
