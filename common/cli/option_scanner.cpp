// Options of the tools with a "<file> [options]" command line.
#include "cli/option_scanner.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "io/tool_error.hpp"

namespace iq {

bool OptionScanner::next() {
  inline_value_.reset();
  if (index_ >= args_.size()) return false;
  name_ = args_[index_++];
  const auto equals = name_.find('=');
  if (name_.rfind("--", 0) == 0 && equals != std::string::npos) {
    inline_value_ = name_.substr(equals + 1);
    name_.resize(equals);
  }
  return true;
}

std::string OptionScanner::value() {
  if (inline_value_) return *std::exchange(inline_value_, std::nullopt);
  if (index_ >= args_.size()) throw ToolError("option " + name_ + " needs a value");
  return args_[index_++];
}

std::optional<std::string> OptionScanner::optional_number_value() {
  if (inline_value_) return std::exchange(inline_value_, std::nullopt);
  if (index_ >= args_.size()) return std::nullopt;
  const std::string& next = args_[index_];
  char* end = nullptr;
  const double value = std::strtod(next.c_str(), &end);
  if (next.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return args_[index_++];
}

double option_number(std::string_view option, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value)) {
    throw ToolError("option " + std::string(option) + " takes a number (got '" + text + "')");
  }
  return value;
}

std::int64_t option_whole(std::string_view option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE) {
    throw ToolError("option " + std::string(option) + " takes a whole number (got '" + text + "')");
  }
  return value;
}

void require_option(bool condition, std::string_view option, std::string_view range) {
  if (!condition) throw ToolError("option " + std::string(option) + " must be " + std::string(range));
}

}  // namespace iq
