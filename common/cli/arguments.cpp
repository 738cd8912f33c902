// Conversion of numeric command-line arguments.
#include "cli/arguments.hpp"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace iq {

namespace {

std::int32_t saturate32(long long value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace

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

}  // namespace iq
