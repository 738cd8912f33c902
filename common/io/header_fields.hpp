// SPDX-License-Identifier: MIT
// The fields of table lines: the "key=value" fields of the header lines that iqwaterfall,
// cyclesearch and speccal start their tables with, and the numbers of their rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/capture_metadata.hpp"

namespace iq {

// The blank-separated fields of a line.
std::vector<std::string> fields_of(const std::string& line);

// A field's text read as a whole number, or as a finite number; false when it is not one.
bool whole_field(const std::string& text, std::int64_t& value);
bool number_field(const std::string& text, double& value);

// Takes the "sample_rate_hz=" and "centre_frequency_hz=" fields of a header line into `meta`
// where it has none yet; other fields are passed over. Returns the first such field whose value
// is not a number (left out), or "" when there is none.
std::string take_tuning_fields(const std::vector<std::string>& fields, CaptureMetadata& meta);

// Takes the "start_utc=" (an ISO 8601 UTC time) and "site=LAT,LON,HEIGHT" fields of a header
// line into `meta` where it has none yet. Returns the first such field whose value is not one
// (left out), or "" when there is none.
std::string take_observation_fields(const std::vector<std::string>& fields, CaptureMetadata& meta);

// The shortest decimal text without an exponent that reads back as the same double.
std::string shortest_decimal(double value);
// A site as the "site=" field's value: "LAT,LON,HEIGHT", each the shortest decimal.
std::string site_field_text(const Geolocation& place);

}  // namespace iq
