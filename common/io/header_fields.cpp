// SPDX-License-Identifier: MIT
// Splitting and reading the fields of a table's header line.
#include "io/header_fields.hpp"

#include <cerrno>
#include <charconv>
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

namespace {

// "LAT,LON,HEIGHT" in the ranges a capture's metadata takes a site in.
std::optional<Geolocation> site_of(const std::string& text) {
  const std::size_t first = text.find(',');
  const std::size_t second = first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos) return std::nullopt;
  Geolocation place;
  if (!number_field(text.substr(0, first), place.latitude_deg) ||
      !number_field(text.substr(first + 1, second - first - 1), place.longitude_deg) ||
      !number_field(text.substr(second + 1), place.height_m) || !geolocation_in_range(place)) {
    return std::nullopt;
  }
  return place;
}

}  // namespace

std::string take_observation_fields(const std::vector<std::string>& fields, CaptureMetadata& meta) {
  std::string bad;
  for (const std::string& field : fields) {
    const auto equals = field.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = field.substr(0, equals);
    const std::string text = field.substr(equals + 1);
    bool good = true;
    if (key == "start_utc" && !meta.datetime_utc) {
      good = utc_datetime_seconds(text).has_value();
      if (good) meta.datetime_utc = text;
    } else if (key == "site" && !meta.geolocation) {
      meta.geolocation = site_of(text);
      good = meta.geolocation.has_value();
    }
    if (!good && bad.empty()) bad = field;
  }
  return bad;
}

std::string shortest_decimal(double value) {
  char text[512];  // room for every finite double in fixed notation
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  return std::string(text, result.ptr);
}

std::string site_field_text(const Geolocation& place) {
  return shortest_decimal(place.latitude_deg) + "," + shortest_decimal(place.longitude_deg) + "," +
         shortest_decimal(place.height_m);
}

}  // namespace iq
