// Running a command line through the command processor.
#include "cli/run_command.hpp"

#include <cerrno>
#include <cstdlib>

#include "io/tool_error.hpp"

namespace iq {

void run_command(const std::string& command, std::ostream& out) {
  out.flush();
  if (std::system(command.c_str()) == -1) {
    throw ToolError(system_error_text("Can't start the command processor", errno));
  }
}

}  // namespace iq
