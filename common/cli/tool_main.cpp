// How a tool runs.
#include "cli/tool_main.hpp"

#include <iostream>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

int run_guarded(std::string_view tool, std::ostream& out, std::ostream& err,
                const std::function<int()>& body) {
  try {
    return body();
  } catch (const ToolError& failure) {
    out.flush();
    err << tool << ": " << failure.what() << '\n';
    return kExitFailure;
  }
}

bool has_argument_count(const ToolArgs& args, std::size_t count, const char* usage, std::ostream& out) {
  if (args.size() == count) return true;
  out << usage << '\n';
  return false;
}

std::optional<CaptureReader> open_capture(const std::string& path, const char* cant_open,
                                          std::ostream& out) {
  auto capture = CaptureReader::open(path);
  if (!capture) out << cformat(cant_open, path.c_str());
  return capture;
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
