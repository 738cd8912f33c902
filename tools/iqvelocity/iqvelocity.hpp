// SPDX-License-Identifier: MIT
// iqvelocity: the barycentric and LSRK radial-velocity corrections for a site, a pointing and
// a time, one name=value per line.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// iqvelocity --site ... --radec ...|--galactic ...|--azel ... --start TIME
int run_iqvelocity(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
