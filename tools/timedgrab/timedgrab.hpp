// SPDX-License-Identifier: MIT
// timedgrab: runs a capture command at a given time of day and writes the averaged power
// spectrum of the capture file it names.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"
#include "time/clock.hpp"

namespace iq {

// timedgrab <"command"> <No FFT points> <hr> <min> <sec> <Hr offset> [ignored ...]
int run_timedgrab(const ToolArgs& args, std::ostream& out, std::ostream& err);
// The same on a given clock.
int run_timedgrab(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock);

}  // namespace iq
