// SPDX-License-Identifier: MIT
// A program's command line declared once: its positional parameters (name, kind, range, unit)
// and options, from which come the parsing, the help text, the refusal lines and the run's
// context (the program's name and its two console streams).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.hpp"
#include "io/tool_error.hpp"

namespace iq {

// What a positional parameter holds. A whole number is written without a fraction or an
// exponent ("1e3", "2,4" and "128x" are not whole numbers); a number is any decimal or
// exponent form that is the whole text ("1e3" is the number 1000).
enum class ParameterKind { text, whole, number };

struct Parameter {
  std::string_view name{};  // as the usage line and the refusals call it
  ParameterKind kind = ParameterKind::text;
  std::string_view unit{};  // shown in the help text ("MHz", "ms")
  // A whole number's valid range, both ends included, and how a refusal states it.
  std::int64_t least = std::numeric_limits<std::int32_t>::min();
  std::int64_t most = std::numeric_limits<std::int32_t>::max();
  std::string_view range{};  // "a power of two from 1 to 131072"; empty: "from <least> to <most>"
  bool power_of_two = false;
  // The fixed console text of a value above `most`, where there is one ("Too many FFT points").
  const char* above_most_text = nullptr;
};

// One-line declarations: a file name or other text; a whole number within [least, most] (any
// 32-bit value by default); a number; a power of two from 1 to `most`, with the fixed console
// text of a value above it where there is one.
constexpr Parameter text_parameter(std::string_view name) { return {.name = name}; }
constexpr Parameter whole_parameter(std::string_view name,
                                    std::int64_t least = std::numeric_limits<std::int32_t>::min(),
                                    std::int64_t most = std::numeric_limits<std::int32_t>::max(),
                                    std::string_view range = {}) {
  return {.name = name, .kind = ParameterKind::whole, .least = least, .most = most, .range = range};
}
constexpr Parameter number_parameter(std::string_view name, std::string_view unit, std::string_view range) {
  return {.name = name, .kind = ParameterKind::number, .unit = unit, .range = range};
}
constexpr Parameter points_parameter(std::string_view name, std::int64_t most, std::string_view range,
                                     const char* above_most_text = nullptr) {
  return {.name = name,
          .kind = ParameterKind::whole,
          .least = 1,
          .most = most,
          .range = range,
          .power_of_two = true,
          .above_most_text = above_most_text};
}

struct OptionSpec {
  std::string_view name{};         // "--rate"
  std::string_view alias{};        // "-r", or empty
  std::string_view argument{};     // "MHZ"; empty for a flag
  std::string_view help{};         // the help text's description (may hold "\n" for more lines)
  bool argument_optional = false;  // a flag that may take a number (the next argument or "=N")
};

enum class ArgumentCount { exact, at_least };

struct Command {
  std::string_view tool{};
  // The usage line printed when the count of positional arguments is wrong.
  std::string_view usage{};
  // What the program does, for the help text.
  std::string_view summary{};
  std::vector<Parameter> parameters{};
  std::vector<OptionSpec> options{};
  ArgumentCount count = ArgumentCount::exact;
  // The defined programs print their usage line on the console (no line end after it for
  // some); ours print it on standard error.
  bool usage_on_console = true;
  bool usage_line_end = true;
  // Positional parameters that may be left out at the end (the rest are required).
  std::size_t optional_parameters = 0;
};

// The options given on a command line, by their declared long name.
class GivenOptions {
 public:
  bool has(std::string_view name) const;
  // The value given last, or nothing.
  std::optional<std::string> value(std::string_view name) const;
  // Every value given, in order (an option that may repeat).
  std::vector<std::string> values(std::string_view name) const;
  void add(std::string_view name, std::optional<std::string> value);

 private:
  struct Given {
    std::string name;
    std::optional<std::string> value;
  };
  std::vector<Given> given_;
};

// One run of a program: its command, arguments and console streams.
class Run {
 public:
  Run(const Command& command, const ToolArgs& positional, GivenOptions options, std::ostream& out,
      std::ostream& err);

  std::string_view tool() const { return command_.tool; }
  std::ostream& out() const { return out_; }
  std::ostream& err() const { return err_; }
  const GivenOptions& options() const { return options_; }
  std::size_t count() const { return args_.size(); }

  // The k-th positional argument as written.
  const std::string& text(std::size_t k) const { return args_.at(k); }
  // The k-th argument as a whole number within its declared range (and a power of two where
  // declared); a ToolError refuses anything else. The 32-bit form is for a parameter whose
  // range lies within 32 bits.
  std::int64_t whole(std::size_t k) const;
  std::int32_t whole32(std::size_t k) const { return static_cast<std::int32_t>(whole(k)); }
  // The k-th argument as a number (the whole text); range checks are the caller's.
  double number(std::size_t k) const;
  // Converts every numeric argument, refusing the first that is not a number, before any of
  // their ranges is checked.
  void convert_numbers() const;

  // The refusal of the k-th argument: "<parameter> must be <range> (got '<text>')".
  [[noreturn]] void refuse(std::size_t k) const;
  [[noreturn]] void refuse(std::size_t k, std::string_view range) const;

 private:
  const Parameter& parameter(std::size_t k) const { return command_.parameters.at(k); }
  long long whole_text(std::size_t k, bool& overflow) const;

  const Command& command_;
  ToolArgs args_;
  GivenOptions options_;
  std::ostream& out_;
  std::ostream& err_;
};

// What may happen before the command line is looked at (the launchers print the time first),
// and after the usage line of a wrong count.
struct RunHooks {
  std::function<void(std::ostream&)> preface{};
  std::function<void(std::ostream&)> after_usage{};
};

// Runs a program: "-h"/"--help" print the help text and "--version" the version (exit 0);
// the run's environment is applied (run_environment.hpp); a wrong count of positional arguments prints the usage
// line and the count on standard error; an unknown option is refused; then `body` runs. A ToolError from any of it
// ends the run with its console text, "<tool>: <reason>" on standard error and exit status 1.
int run_program(const Command& command, const ToolArgs& args, std::ostream& out, std::ostream& err,
                const std::function<int(Run&)>& body, const RunHooks& hooks = {});

// The help text of a command.
std::string help_text(const Command& command);

// An option's value as a finite number, or as a whole number that fits 64 bits (the whole
// text must be the number); a ToolError naming `option` otherwise.
double option_number(std::string_view option, const std::string& text);
std::int64_t option_whole(std::string_view option, const std::string& text);
// ToolError "option <option> must be <range>" unless `condition` holds.
void require_option(bool condition, std::string_view option, std::string_view range);

}  // namespace iq
