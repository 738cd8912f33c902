// SPDX-License-Identifier: MIT
// Splitting and reading the fields of a table's header line.
#include "header_fields.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace iq {

bool whole_field(const std::string& text, std::int64_t& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno != ERANGE;
}

bool number_field(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
    const std::size_t stop = std::min(line.find_first_of(" \t", at), line.size());
    fields.push_back(line.substr(at, stop - at));
    at = stop;
  }
  return fields;
}

}  // namespace iq
