// SPDX-License-Identifier: MIT
// The declared command line: parsing, help, refusals and the guarded run.
#include "cli/command.hpp"

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "cli/run_environment.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "iq/version.hpp"

namespace iq {

namespace {

// A conversion that took the whole text as its number.
bool wholly_converted(const std::string& text, const char* end) { return end != text.c_str() && *end == '\0'; }

std::string shortest_text(double value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

[[noreturn]] void refuse_partial_number(std::string_view parameter, const std::string& text,
                                        const std::string& read_as) {
  throw ToolError(std::string(parameter) + " '" + text + "' is not a number (it would be read as " + read_as +
                  ")");
}

// Whether an argument is a number (so "-1" is a refused count, not an option).
bool is_number(const std::string& text) {
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return wholly_converted(text, end);
}

const OptionSpec* find_option(const Command& command, std::string_view name) {
  for (const OptionSpec& option : command.options) {
    if (option.name == name || (!option.alias.empty() && option.alias == name)) return &option;
  }
  return nullptr;
}

struct ParsedLine {
  ToolArgs positional;
  GivenOptions options;
  bool help = false;
  bool version = false;
};

// Takes the option `declared` named by args[index] (its value inline after '=', or the next
// argument); returns the index of the last argument it used.
std::size_t take_option(const OptionSpec& declared, const ToolArgs& args, std::size_t index,
                        std::optional<std::string> inline_value, GivenOptions& options) {
  if (declared.argument.empty()) {
    if (inline_value) throw ToolError("option " + std::string(declared.name) + " takes no value");
    options.add(declared.name, std::nullopt);
    return index;
  }
  if (inline_value) {
    options.add(declared.name, std::move(inline_value));
    return index;
  }
  const bool next_exists = index + 1 < args.size();
  if (declared.argument_optional) {
    const bool next_is_value = next_exists && is_number(args[index + 1]);
    options.add(declared.name, next_is_value ? std::optional<std::string>(args[index + 1]) : std::nullopt);
    return next_is_value ? index + 1 : index;
  }
  if (!next_exists) throw ToolError("option " + std::string(declared.name) + " needs a value");
  options.add(declared.name, args[index + 1]);
  return index + 1;
}

// A program without options takes every argument as positional, but for a lone "-h", "--help"
// or "--version"; one with options reads them anywhere on the line.
ParsedLine parse_line(const Command& command, const ToolArgs& args) {
  ParsedLine line;
  if (command.options.empty()) {
    const bool alone = args.size() == 1;
    line.help = alone && (args[0] == "-h" || args[0] == "--help");
    line.version = alone && args[0] == "--version";
    line.positional = args;
    return line;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg.size() < 2 || arg[0] != '-' || is_number(arg)) {
      line.positional.push_back(arg);
    } else {
      const auto equals = arg.find('=');
      const bool has_inline = arg.rfind("--", 0) == 0 && equals != std::string::npos;
      const std::string name = has_inline ? arg.substr(0, equals) : arg;
      const OptionSpec* declared = find_option(command, name);
      if (declared == nullptr) throw ToolError("unknown option '" + name + "'");
      i = take_option(*declared, args, i, has_inline ? std::optional(arg.substr(equals + 1)) : std::nullopt,
                      line.options);
    }
  }
  return line;
}

std::string range_text(const Parameter& parameter) {
  if (!parameter.range.empty()) return std::string(parameter.range);
  return "from " + std::to_string(parameter.least) + " to " + std::to_string(parameter.most);
}

void print_usage(const Command& command, std::size_t given, std::ostream& out, std::ostream& err,
                 const RunHooks& hooks) {
  std::ostream& usage = command.usage_on_console ? out : err;
  usage << command.usage;
  if (command.usage_line_end) usage << '\n';
  if (hooks.after_usage) hooks.after_usage(out);
  out.flush();
  const std::size_t needed = command.parameters.size() - command.optional_parameters;
  std::string counts = std::to_string(needed);
  if (command.count == ArgumentCount::at_least) {
    counts = "at least " + counts;
  } else if (command.optional_parameters > 0) {
    counts += " to " + std::to_string(command.parameters.size());
  }
  err << command.tool << ": wrong number of arguments: " << given << " given, " << counts << " needed\n";
}

bool count_fits(const Command& command, std::size_t given) {
  const std::size_t declared = command.parameters.size();
  if (given < declared - command.optional_parameters) return false;
  return command.count == ArgumentCount::at_least || given <= declared;
}

// "  -r, --rate MHZ", as the help text names an option.
std::string option_names(const OptionSpec& option) {
  std::string names = "  ";
  names += option.alias.empty() ? std::string("    ") : std::string(option.alias) + ", ";
  names += option.name;
  if (option.argument.empty()) return names;
  names += option.argument_optional ? " [" : " ";
  names += option.argument;
  if (option.argument_optional) names += "]";
  return names;
}

// Names longer than this put their help on the next line.
constexpr std::size_t kLongestNamesBeside = 28;

// The column where the options' help starts: two blanks after the longest names that fit.
std::size_t help_column(const std::vector<OptionSpec>& options) {
  std::size_t longest = 0;
  for (const OptionSpec& option : options) {
    const std::size_t length = option_names(option).size();
    if (length <= kLongestNamesBeside) longest = std::max(longest, length);
  }
  return longest + 2;
}

// The option's names, then its help from `column` on, further lines under the first.
void append_option_help(std::string& text, const OptionSpec& option, std::size_t column) {
  const std::string names = option_names(option);
  text += names;
  if (names.size() + 2 > column) text += '\n';
  text.append(names.size() + 2 <= column ? column - names.size() : column, ' ');
  for (char c : option.help) {
    text += c;
    if (c == '\n') text.append(column, ' ');
  }
  text += '\n';
}

}  // namespace

bool GivenOptions::has(std::string_view name) const {
  for (const Given& given : given_) {
    if (given.name == name) return true;
  }
  return false;
}

std::optional<std::string> GivenOptions::value(std::string_view name) const {
  std::optional<std::string> last;
  for (const Given& given : given_) {
    if (given.name == name) last = given.value;
  }
  return last;
}

std::vector<std::string> GivenOptions::values(std::string_view name) const {
  std::vector<std::string> all;
  for (const Given& given : given_) {
    if (given.name == name && given.value) all.push_back(*given.value);
  }
  return all;
}

void GivenOptions::add(std::string_view name, std::optional<std::string> value) {
  given_.push_back({std::string(name), std::move(value)});
}

Run::Run(const Command& command, const ToolArgs& positional, GivenOptions options, std::ostream& out,
         std::ostream& err)
    : command_(command), args_(positional), options_(std::move(options)), out_(out), err_(err) {}

// The k-th argument read as a whole number (saturated at the 64-bit limits, `overflow` set
// then); a text that is not wholly a number is refused.
long long Run::whole_text(std::size_t k, bool& overflow) const {
  const std::string& given = text(k);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(given.c_str(), &end, 10);
  overflow = errno == ERANGE;
  if (!wholly_converted(given, end)) refuse_partial_number(parameter(k).name, given, std::to_string(value));
  return value;
}

std::int64_t Run::whole(std::size_t k) const {
  const Parameter& p = parameter(k);
  const std::string& given = text(k);
  bool overflow = false;
  const long long value = whole_text(k, overflow);
  if (p.above_most_text != nullptr && (value > p.most || (overflow && value > 0))) {
    std::string_view what = p.above_most_text;
    if (what.ends_with('\n')) what.remove_suffix(1);
    throw ToolError(p.above_most_text, std::string(what) + ": " + std::string(p.name) + " " + given +
                                           " is above " + std::to_string(p.most));
  }
  if (overflow || value < p.least || value > p.most || (p.power_of_two && !is_power_of_two(value))) refuse(k);
  return value;
}

double Run::number(std::size_t k) const {
  const std::string& given = text(k);
  char* end = nullptr;
  const double value = std::strtod(given.c_str(), &end);
  if (!wholly_converted(given, end)) refuse_partial_number(parameter(k).name, given, shortest_text(value));
  return value;
}

void Run::convert_numbers() const {
  for (std::size_t k = 0; k < args_.size() && k < command_.parameters.size(); ++k) {
    const ParameterKind kind = parameter(k).kind;
    if (kind == ParameterKind::number) {
      number(k);
    } else if (kind == ParameterKind::whole) {
      bool overflow = false;
      whole_text(k, overflow);
    }
  }
}

void Run::refuse(std::size_t k) const { refuse(k, range_text(parameter(k))); }

void Run::refuse(std::size_t k, std::string_view range) const {
  refuse_parameter(parameter(k).name, range, text(k));
}

std::string help_text(const Command& command) {
  std::string text = std::string(command.tool);
  for (std::size_t k = 0; k < command.parameters.size(); ++k) {
    const bool optional = k >= command.parameters.size() - command.optional_parameters;
    text += optional ? " [<" : " <";
    text += command.parameters[k].name;
    text += optional ? ">]" : ">";
  }
  if (!command.options.empty()) text += " [options]";
  text += '\n';
  text += command.summary;
  if (!text.ends_with('\n')) text += '\n';
  text += "\n";
  for (const Parameter& p : command.parameters) {
    if (p.kind == ParameterKind::text) continue;
    const bool unit_named = p.unit.empty() || p.name.find(p.unit) != std::string_view::npos;
    text += "  <";
    text += p.name;
    text += '>';
    if (!unit_named) text.append(" in ").append(p.unit);
    const std::string range = range_text(p);
    if (p.kind == ParameterKind::whole)
      text.append(range.starts_with("from") ? ": a whole number " : ": ").append(range);
    if (p.kind == ParameterKind::number && !p.range.empty()) text.append(": ").append(p.range);
    text += '\n';
  }
  std::vector<OptionSpec> options = command.options;
  options.push_back({.name = "--help", .alias = "-h", .help = "this text"});
  options.push_back({.name = "--version", .help = "the version of iqtools"});
  const std::size_t column = help_column(options);
  for (const OptionSpec& option : options) append_option_help(text, option, column);
  return text;
}

double option_number(std::string_view option, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (!wholly_converted(text, end) || !std::isfinite(value)) {
    throw ToolError("option " + std::string(option) + " takes a number (got '" + text + "')");
  }
  return value;
}

std::int64_t option_whole(std::string_view option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (!wholly_converted(text, end) || errno == ERANGE) {
    throw ToolError("option " + std::string(option) + " takes a whole number (got '" + text + "')");
  }
  return value;
}

void require_option(bool condition, std::string_view option, std::string_view range) {
  if (!condition) throw ToolError("option " + std::string(option) + " must be " + std::string(range));
}

int run_program(const Command& command, const ToolArgs& args, std::ostream& out, std::ostream& err,
                const std::function<int(Run&)>& body, const RunHooks& hooks) {
  try {
    ParsedLine line = parse_line(command, args);
    if (line.help) {
      out << help_text(command);
      return kExitSuccess;
    }
    if (line.version) {
      out << command.tool << " (iqtools) " << kVersion << '\n';
      return kExitSuccess;
    }
    // The vector target and the thread count, chosen once for the whole run.
    apply_run_environment();
    if (hooks.preface) hooks.preface(out);
    if (!count_fits(command, line.positional.size())) {
      print_usage(command, line.positional.size(), out, err, hooks);
      return kExitFailure;
    }
    Run run(command, line.positional, std::move(line.options), out, err);
    return body(run);
  } catch (const ToolError& failure) {
    out << failure.console();
    out.flush();
    err << command.tool << ": " << failure.what() << '\n';
    return kExitFailure;
  }
}

}  // namespace iq
