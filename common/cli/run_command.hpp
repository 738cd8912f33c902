// SPDX-License-Identifier: MIT
// Running a command line through the platform's command processor.
#pragma once

#include <ostream>
#include <string>

namespace iq {

// What run_command adds to a signal's number for a command killed by that signal.
constexpr int kCommandSignalBase = 128;

// Runs `command` with the command processor, waits for it to end and returns how it ended:
// the command's exit status, or 128 + the signal's number for a command killed by a signal
// (as a shell reports it). `out` is flushed first, since the command writes to the same
// console. A command processor that cannot be started is a ToolError.
int run_command(const std::string& command, std::ostream& out);

// Why a command that ended with `status` (from run_command) failed: "exit status 127" or
// "exit status 137 (killed by signal 9: Killed)". Empty for status 0.
std::string command_failure(int status);

}  // namespace iq
