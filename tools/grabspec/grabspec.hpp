// grabspec: runs a capture command at once and writes the averaged power spectrum of the
// capture file it names.
#pragma once

#include <ostream>

#include "cli/arguments.hpp"
#include "time/clock.hpp"

namespace iq {

inline constexpr const char* kGrabspecUsage = "Format: grabspec <\"sdrprog\"> <No FFT points>";
inline constexpr int kGrabspecMaxPoints = 4096;

// grabspec <"sdrprog"> <No FFT points> [ignored ...]
int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err);
// The same on a given clock.
int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock);

}  // namespace iq
