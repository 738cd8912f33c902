// Command lines of the form "<file> [options]": one pass over the arguments, options given as
// "--name value" or "--name=value", and the checked conversion of option values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/arguments.hpp"

namespace iq {

class OptionScanner {
 public:
  explicit OptionScanner(const ToolArgs& args) : args_(args) {}

  // Moves to the next argument; false when there is none left.
  bool next();
  // The option's name ("--rate" of "--rate=2.4") or the positional argument itself.
  const std::string& name() const { return name_; }
  // Whether the current argument is an option (starts with '-' and is not "-" alone).
  bool is_option() const { return name_.size() > 1 && name_[0] == '-'; }
  // The option's value: the text after '=' or the next argument. ToolError when it has none.
  std::string value();
  // An option whose value may be left out: the text after '=', or else the next argument when
  // the whole of it is a finite number; nothing otherwise (the next argument then stays).
  std::optional<std::string> optional_number_value();

 private:
  const ToolArgs& args_;
  std::size_t index_ = 0;
  std::string name_;
  std::optional<std::string> inline_value_;
};

// A finite number (the whole text must be the number). ToolError naming `option` otherwise.
double option_number(std::string_view option, const std::string& text);
// A whole number that fits 64 bits. ToolError naming `option` otherwise.
std::int64_t option_whole(std::string_view option, const std::string& text);
// ToolError "option <option> must be <range>" unless `condition` holds.
void require_option(bool condition, std::string_view option, std::string_view range);

}  // namespace iq
