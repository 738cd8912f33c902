// iqplot: draws any table of the toolkit as a PNG or SVG picture with gnuplot.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

inline constexpr const char* kIqplotUsage =
    "Usage: iqplot <table> <picture.png|picture.svg> [options]   (iqplot -h lists the options)";

// iqplot <table> <picture> [options]
int run_iqplot(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
