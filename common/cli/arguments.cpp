// Conversion of numeric command-line arguments.
#include "cli/arguments.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "io/tool_error.hpp"

namespace iq {

namespace {

std::int32_t saturate32(long long value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

// Whether the conversion that stopped at `end` took the whole text as its number.
bool wholly_converted(const std::string& text, const char* end) {
  return end != text.c_str() && *end == '\0';
}

[[noreturn]] void refuse_partial_number(std::string_view parameter, const std::string& text,
                                        const std::string& read_as) {
  throw ToolError(std::string(parameter) + " '" + text + "' is not a number (it would be read as " +
                  read_as + ")");
}

std::string shortest_text(double value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

}  // namespace

std::int32_t whole_argument32(std::string_view parameter, const std::string& text) {
  char* end = nullptr;
  const std::int32_t value = saturate32(std::strtoll(text.c_str(), &end, 10));
  if (!wholly_converted(text, end)) refuse_partial_number(parameter, text, std::to_string(value));
  return value;
}

std::int64_t whole_argument64(std::string_view parameter, const std::string& text) {
  char* end = nullptr;
  const std::int64_t value = std::strtoll(text.c_str(), &end, 10);
  if (!wholly_converted(text, end)) refuse_partial_number(parameter, text, std::to_string(value));
  return value;
}

double number_argument(std::string_view parameter, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (!wholly_converted(text, end)) refuse_partial_number(parameter, text, shortest_text(value));
  return value;
}

std::int32_t atoi32(const std::string& text) { return atol32(text); }

std::int32_t atol32(const std::string& text) {
  return saturate32(std::strtoll(text.c_str(), nullptr, 10));
}

std::int64_t atoll64(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

double atof_value(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

void refuse_parameter(std::ostream& err, std::string_view tool, std::string_view parameter,
                      std::string_view valid_range, std::string_view given) {
  err << tool << ": " << parameter << " must be " << valid_range << " (got '" << given << "')\n";
}

void refuse_parameter(std::string_view parameter, std::string_view valid_range, std::string_view given) {
  throw ToolError(std::string(parameter) + " must be " + std::string(valid_range) + " (got '" + std::string(given) +
                  "')");
}

}  // namespace iq
