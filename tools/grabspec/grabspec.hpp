// SPDX-License-Identifier: MIT
// grabspec: runs a capture command at once and writes the averaged power spectrum of the
// capture file it names.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"
#include "time/clock.hpp"

namespace iq {

// grabspec <"sdrprog"> <No FFT points> [ignored ...]
int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err);
// The same on a given clock.
int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock);

}  // namespace iq
