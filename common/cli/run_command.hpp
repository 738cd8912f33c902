// Running a command line through the platform's command processor.
#pragma once

#include <ostream>
#include <string>

namespace iq {

// Runs `command` with the command processor and waits for it to end. `out` is flushed first,
// since the command writes to the same console. The command's own exit status is not looked
// at; a command processor that cannot be started is a ToolError.
void run_command(const std::string& command, std::ostream& out);

}  // namespace iq
