// SPDX-License-Identifier: MIT
// Running a command line through the command processor.
#include "cli/run_command.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>

#include "io/tool_error.hpp"

namespace iq {

int run_command(const std::string& command, std::ostream& out) {
  out.flush();
  const int status = std::system(command.c_str());
  if (status == -1) {
    throw ToolError(system_error_text("Can't start the command processor", errno));
  }
  if (WIFSIGNALED(status)) return kCommandSignalBase + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : status;
}

}  // namespace iq
