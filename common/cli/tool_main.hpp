// How a tool runs: a function of its arguments and console streams that returns the exit
// status, called in-process by tests and by the tool's main.
#pragma once

#include <functional>
#include <ostream>
#include <string_view>

#include <cstddef>
#include <optional>
#include <string>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"

namespace iq {

// A tool's work: arguments after the program name; `out` takes the console lines, `err` the
// refusals and error reports. Returns the exit status.
using ToolFunction = int(const ToolArgs& args, std::ostream& out, std::ostream& err);

// Runs `body`; a ToolError it throws is reported on `err` as "<tool>: <message>" and gives
// exit status 1.
int run_guarded(std::string_view tool, std::ostream& out, std::ostream& err,
                const std::function<int()>& body);

// The first steps of an analysis tool. has_argument_count prints `usage` (and a newline) when
// `args` does not hold exactly `count` arguments; open_capture prints `cant_open` (a format
// with one %s for the name) when the capture cannot be opened. Both then report failure.
bool has_argument_count(const ToolArgs& args, std::size_t count, const char* usage, std::ostream& out);
std::optional<CaptureReader> open_capture(const std::string& path, const char* cant_open,
                                          std::ostream& out);

// main of every tool: forwards argv to `tool` with the process's console streams.
int tool_main(int argc, char** argv, ToolFunction* tool);

}  // namespace iq
