// SPDX-License-Identifier: MIT
// alarmexec: runs a command line at a given time of day (UTC-7).
#pragma once

#include <ostream>

#include "cli/arguments.hpp"
#include "time/clock.hpp"

namespace iq {

// alarmexec <"Runfile"> <hr> <min> <sec> [ignored ...]
int run_alarmexec(const ToolArgs& args, std::ostream& out, std::ostream& err);
// The same on a given clock.
int run_alarmexec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock);

}  // namespace iq
