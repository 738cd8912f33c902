// SPDX-License-Identifier: MIT
// speccal: a spectrum calibrated against a reference, (on - off) / off per bin, with an
// optional polynomial baseline removed.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// speccal <on table> <off table> <out table> [options]
int run_speccal(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
