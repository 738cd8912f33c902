// iqwaterfall: the spectrum of a capture over time, one averaged spectrum per run of frames.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

inline constexpr const char* kIqwaterfallUsage =
    "Usage: iqwaterfall <capture|-> <table> <points> <frames per row> [options]   "
    "(iqwaterfall -h lists the options)";

// iqwaterfall <capture|-> <table> <points> <frames per row> [options]
int run_iqwaterfall(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
