// SPDX-License-Identifier: MIT
// iqfilterbank: the power of a capture in channels over time, as a filterbank file the pulsar
// software reads.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// iqfilterbank <capture|-> <out.fil> <channels> <frames per sample> [options]
int run_iqfilterbank(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
