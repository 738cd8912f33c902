// SPDX-License-Identifier: MIT
// The words for a command's exit status. Kept apart from run_command, so that a program may
// put its own run_command in place of the library's (the fuzz target does) and still link.
#include "cli/run_command.hpp"

#include <cstring>
#include <string>

namespace iq {

std::string command_failure(int status) {
  if (status == 0) return {};
  // The command processor reports a command it killed by a signal as 128 + the signal.
  if (status > kCommandSignalBase && status < kCommandSignalBase + 65) {
    const int signal_number = status - kCommandSignalBase;
    return "exit status " + std::to_string(status) + " (killed by signal " + std::to_string(signal_number) + ": " +
           ::strsignal(signal_number) + ")";
  }
  return "exit status " + std::to_string(status);
}

}  // namespace iq
