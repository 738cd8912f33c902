// How a tool runs.
#include "cli/tool_main.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/run_environment.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

int run_guarded(std::string_view tool, std::ostream& out, std::ostream& err,
                const std::function<int()>& body) {
  try {
    apply_run_environment();
    return body();
  } catch (const ToolError& failure) {
    out.flush();
    err << tool << ": " << failure.what() << '\n';
    return kExitFailure;
  }
}

void report_argument_count(std::ostream& out, std::ostream& err, std::string_view tool, std::size_t given,
                           std::size_t needed, bool at_least) {
  out.flush();
  report_failure(err, tool, "wrong number of arguments",
                 std::to_string(given) + " given, " + (at_least ? "at least " : "") + std::to_string(needed) +
                     " needed");
}

bool has_argument_count(std::string_view tool, const ToolArgs& args, std::size_t count, const char* usage,
                        std::ostream& out, std::ostream& err) {
  if (args.size() == count) return true;
  out << usage << '\n';
  report_argument_count(out, err, tool, args.size(), count, false);
  return false;
}

void report_failure(std::ostream& err, std::string_view tool, std::string_view what,
                    std::string_view why) {
  err << tool << ": " << what << ": " << why << '\n';
}

void report_too_many_points(std::ostream& out, std::ostream& err, std::string_view tool,
                            std::string_view parameter, const std::string& text, std::int64_t largest) {
  out.flush();
  report_failure(err, tool, "Too many FFT points",
                 std::string(parameter) + " " + text + " is above " + std::to_string(largest));
}

std::optional<CaptureReader> open_capture(std::string_view tool, const std::string& path,
                                          const char* cant_open, std::ostream& out, std::ostream& err) {
  auto capture = CaptureReader::open(path);
  if (!capture) {
    const int why = errno;
    out << cformat(cant_open, path.c_str());
    out.flush();
    report_failure(err, tool, "Can't open file " + path, std::strerror(why));
  }
  return capture;
}

void require_measurable(const CaptureReader& capture) {
  if (capture.length() >= 0) return;
  throw ToolError("Can't measure the length of " + capture.path() +
                  ": it is a pipe or a terminal; save the capture to a file first and give its name");
}

int no_whole_unit(std::ostream& err, std::string_view tool, const std::string& file,
                  const std::string& unit) {
  err << tool << ": " << file << " holds no whole " << unit << '\n';
  return kExitFailure;
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
