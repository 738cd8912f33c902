// SPDX-License-Identifier: MIT
// How a tool runs: a function of its arguments and console streams that returns the exit
// status, called in-process by tests and by the tool's main; and the first and last steps that
// the analysis tools share.
#pragma once

#include <ostream>
#include <string>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"

namespace iq {

// A tool's work: arguments after the program name; `out` takes the console lines, `err` the
// refusals and error reports. Returns the exit status.
using ToolFunction = int(const ToolArgs& args, std::ostream& out, std::ostream& err);

// Opens an analysis tool's capture. One that cannot be opened is a ToolError with the console
// text `cant_open` (a format with one %s for the name) and the system's reason
// ("Can't open file <path>: No such file or directory").
CaptureReader open_capture(const std::string& path, const char* cant_open);

// For a tool whose figures come from the capture's length: a ToolError when the length
// cannot be measured (a pipe or a terminal), which says to save the capture to a file first.
void require_measurable(const CaptureReader& capture);

// The end of a run that consumed no whole unit of the capture (a frame, a video point, a
// block): its table and console text are as defined, but nothing was measured. A ToolError
// "<file> holds no whole <unit>".
[[noreturn]] void no_whole_unit(const std::string& file, const std::string& unit);

// main of every tool: forwards argv to `tool` with the process's console streams.
int tool_main(int argc, char** argv, ToolFunction* tool);

}  // namespace iq
