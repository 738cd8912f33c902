// SPDX-License-Identifier: MIT
// The failure that ends a tool's run: a one-line message and exit status 1.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace iq {

// Exit statuses of every tool.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// The one failure that ends a run (an unreadable input, an output that cannot be written, a
// refused parameter): the reason, one line without the program's name, which the run prints
// on standard error after that name, and the fixed console text that the program prints for it
// first, where it has one ("Can't open file x.bin. ", "Too many FFT points").
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& reason) : std::runtime_error(reason) {}
  ToolError(std::string console, const std::string& reason)
      : std::runtime_error(reason), console_(std::move(console)) {}

  const std::string& console() const { return console_; }

 private:
  std::string console_;
};

// "<what>: <strerror(errnum)>", for messages about a file operation that failed.
std::string system_error_text(const std::string& what, int errnum);

}  // namespace iq
