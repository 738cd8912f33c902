// SPDX-License-Identifier: MIT
// Splitting and reading the fields of a table's header line.
#include "io/header_fields.hpp"

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

std::string take_tuning_fields(const std::vector<std::string>& fields, CaptureMetadata& meta) {
  std::string bad;
  for (const std::string& field : fields) {
    const auto equals = field.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = field.substr(0, equals);
    std::optional<double>* slot = key == "sample_rate_hz"        ? &meta.sample_rate_hz
                                  : key == "centre_frequency_hz" ? &meta.centre_frequency_hz
                                                                 : nullptr;
    if (slot == nullptr || *slot) continue;
    double number = 0.0;
    if (number_field(field.substr(equals + 1), number)) {
      *slot = number;
    } else if (bad.empty()) {
      bad = field;
    }
  }
  return bad;
}

}  // namespace iq
