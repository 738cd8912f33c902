// SPDX-License-Identifier: MIT
// How a tool runs.
#include "cli/tool_main.hpp"

#include <iostream>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

CaptureReader open_capture(const std::string& path, const char* cant_open) {
  std::string why;
  auto capture = CaptureReader::open(path, CaptureReader::kDefaultBufferBytes, &why);
  if (!capture) throw ToolError(cformat(cant_open, path.c_str()), "Can't open file " + path + ": " + why);
  return std::move(*capture);
}

void require_measurable(const CaptureReader& capture) {
  if (capture.length() >= 0) return;
  throw ToolError("Can't measure the length of " + capture.path() +
                  ": it is a pipe or a terminal; save the capture to a file first and give its name");
}

void no_whole_unit(const std::string& file, const std::string& unit) {
  throw ToolError(file + " holds no whole " + unit);
}

int tool_main(int argc, char** argv, ToolFunction* tool) {
  const ToolArgs args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const int status = tool(args, std::cout, std::cerr);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << (argc > 0 ? argv[0] : "tool") << ": Can't write the console output\n";
    return kExitFailure;
  }
  return status;
}

}  // namespace iq
