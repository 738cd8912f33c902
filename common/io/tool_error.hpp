// The failure that ends a tool's run: a one-line message and exit status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace iq {

// Exit statuses of every tool.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// Thrown where a run cannot go on (an unreadable input, an output that cannot be written).
// The message is one line without the tool's name; run_guarded prefixes it.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "<what>: <strerror(errnum)>", for messages about a file operation that failed.
std::string system_error_text(const std::string& what, int errnum);

}  // namespace iq
