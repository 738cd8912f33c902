// How a tool runs: a function of its arguments and console streams that returns the exit
// status, called in-process by tests and by the tool's main.
#pragma once

#include <functional>
#include <ostream>
#include <string_view>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"

namespace iq {

// A tool's work: arguments after the program name; `out` takes the console lines, `err` the
// refusals and error reports. Returns the exit status.
using ToolFunction = int(const ToolArgs& args, std::ostream& out, std::ostream& err);

// Runs `body` after the run's settings are taken from the environment (apply_run_environment);
// a ToolError either throws is reported on `err` as "<tool>: <message>" and gives exit status 1.
int run_guarded(std::string_view tool, std::ostream& out, std::ostream& err,
                const std::function<int()>& body);

// The line on `err` that goes beside a tool's fixed failure text on the console:
// "<tool>: <what failed>: <why>".
void report_failure(std::ostream& err, std::string_view tool, std::string_view what,
                    std::string_view why);

// Beside "Too many FFT points" (already on `out`, which is flushed first):
// "<tool>: Too many FFT points: <parameter> <text> is above <largest>".
void report_too_many_points(std::ostream& out, std::ostream& err, std::string_view tool,
                            std::string_view parameter, const std::string& text, std::int64_t largest);

// Beside the usage line (already on `out`, which is flushed first): "<tool>: wrong number of
// arguments: <given> given, <needed> needed" ("at least <needed>" for a tool that takes more).
void report_argument_count(std::ostream& out, std::ostream& err, std::string_view tool, std::size_t given,
                           std::size_t needed, bool at_least);

// The first steps of an analysis tool. has_argument_count prints `usage` (and a newline) when
// `args` does not hold exactly `count` arguments, and the count on `err`; open_capture prints `cant_open` (a format
// with one %s for the name) when the capture cannot be opened, and the system's reason on
// `err` ("<tool>: Can't open file <path>: No such file or directory"). Both then report
// failure.
bool has_argument_count(std::string_view tool, const ToolArgs& args, std::size_t count, const char* usage,
                        std::ostream& out, std::ostream& err);
std::optional<CaptureReader> open_capture(std::string_view tool, const std::string& path,
                                          const char* cant_open, std::ostream& out, std::ostream& err);

// For a tool whose figures come from the capture's length: a ToolError when the length
// cannot be measured (a pipe or a terminal), which says to save the capture to a file first.
void require_measurable(const CaptureReader& capture);

// The end of a run that consumed no whole unit of the capture (a frame, a video point, a
// block): its table and console text are as defined, but nothing was measured. Prints
// "<tool>: <file> holds no whole <unit>" on `err` and returns the failure status.
int no_whole_unit(std::ostream& err, std::string_view tool, const std::string& file,
                  const std::string& unit);

// main of every tool: forwards argv to `tool` with the process's console streams.
int tool_main(int argc, char** argv, ToolFunction* tool);

}  // namespace iq
