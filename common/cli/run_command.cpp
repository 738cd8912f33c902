// Running a command line through the command processor.
#include "cli/run_command.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr int kSignalBase = 128;

}  // namespace

int run_command(const std::string& command, std::ostream& out) {
  out.flush();
  const int status = std::system(command.c_str());
  if (status == -1) {
    throw ToolError(system_error_text("Can't start the command processor", errno));
  }
  if (WIFSIGNALED(status)) return kSignalBase + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : status;
}

std::string command_failure(int status) {
  if (status == 0) return {};
  // The command processor reports a command it killed by a signal as 128 + the signal.
  if (status > kSignalBase && status < kSignalBase + 65) {
    const int signal_number = status - kSignalBase;
    return "exit status " + std::to_string(status) + " (killed by signal " + std::to_string(signal_number) +
           ": " + ::strsignal(signal_number) + ")";
  }
  return "exit status " + std::to_string(status);
}

}  // namespace iq
