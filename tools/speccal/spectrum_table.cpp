// SPDX-License-Identifier: MIT
// Reading spectrum tables line by line, refusing anything that is not one.
#include "spectrum_table.hpp"

#include "io/header_fields.hpp"
#include "io/table_reader.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// Four times iqspec's largest table: more lines than this is no spectrum.
constexpr std::int64_t kMaxBins = std::int64_t{1} << 19;
// A spectrum line is a bin number and a value: a few tens of characters; a header line more.
constexpr std::size_t kMaxLineLength = 1000;

// Takes the frames_per_row= and seconds= of a header line; why the first malformed one is
// refused ("frames_per_row=x, not ..."), or "".
std::string take_span_fields(const std::vector<std::string>& fields, SpectrumTable& table) {
  for (const std::string& field : fields) {
    std::int64_t frames = 0;
    double seconds = 0.0;
    if (field.starts_with("frames_per_row=") && !table.frames) {
      if (!whole_field(field.substr(15), frames) || frames < 1) return field + ", not a whole number above 0";
      table.frames = frames;
    } else if (field.starts_with("seconds=") && !table.seconds) {
      if (!number_field(field.substr(8), seconds) || !(seconds > 0.0)) return field + ", not a time above 0";
      table.seconds = seconds;
    }
  }
  return "";
}

// Takes a header line's tuning, start, site and span; why its first malformed field is refused,
// or "".
std::string take_header_fields(const std::vector<std::string>& fields, SpectrumTable& table) {
  if (const std::string bad = take_tuning_fields(fields, table.header); !bad.empty())
    return bad + ", not a number";
  if (const std::string bad = take_observation_fields(fields, table.header); !bad.empty()) {
    return bad + (bad.starts_with("site=") ? ", not LAT,LON,HEIGHT (degrees north from -90 to 90, east from -180 "
                                             "to 180, metres from -1000 to 10000)"
                                           : ", not a UTC time YYYY-MM-DDTHH:MM:SS[.fraction]Z");
  }
  return take_span_fields(fields, table);
}

}  // namespace

double SpectrumTable::middle_seconds(std::optional<double> rate_hz) const {
  if (seconds) return *seconds / 2.0;
  const std::optional<double> rate = rate_hz ? rate_hz : header.sample_rate_hz;
  if (!frames || !rate) return 0.0;
  return static_cast<double>(*frames) * static_cast<double>(values.size()) / *rate / 2.0;
}

SpectrumTable read_spectrum(const std::string& name) {
  TableReader text(name, kMaxLineLength);
  SpectrumTable table;
  table.name = name;
  table.id = text.id();
  std::string line;
  bool after_blank = false;
  while (text.next_line(line)) {
    const auto refuse = [&](const std::string& why) {
      return ToolError(name + " is not a spectrum table: line " + std::to_string(text.line_number()) + " " + why);
    };
    const std::vector<std::string> fields = fields_of(line);
    if (!fields.empty() && fields[0].starts_with('#')) {
      const std::string why = take_header_fields(fields, table);
      if (!why.empty()) throw refuse("has " + why);
      continue;
    }
    after_blank = after_blank || (fields.empty() && !table.values.empty());
    if (fields.empty()) continue;
    if (fields.size() != 2)
      throw refuse("has " + std::to_string(fields.size()) + " fields, not a bin and a value");
    std::int64_t bin = 0;
    double value = 0.0;
    if (!whole_field(fields[0], bin)) throw refuse("starts with '" + fields[0] + "', not a bin number");
    if (!number_field(fields[1], value)) throw refuse("holds '" + fields[1] + "', not a finite value");
    if (after_blank && bin == table.first_bin) {
      throw refuse(
          "starts a second row of spectra: a waterfall of several rows (iqwaterfall with 0 frames "
          "per row writes one)");
    }
    if (table.values.empty()) {
      table.first_bin = bin;
    } else if (bin != table.bin(table.values.size())) {
      throw refuse("has bin " + fields[0] + " after bin " + std::to_string(table.bin(table.values.size() - 1)));
    }
    if (static_cast<std::int64_t>(table.values.size()) == kMaxBins) {
      throw refuse("goes beyond " + std::to_string(kMaxBins) + " bins");
    }
    table.values.push_back(value);
  }
  if (table.values.empty()) throw ToolError(name + " is not a spectrum table: it has no bins");
  return table;
}

void require_same_bins(const SpectrumTable& on, const SpectrumTable& off, const char* option) {
  const std::string by = option ? std::string("option ") + option + ": " : "";
  if (on.values.size() != off.values.size()) {
    throw ToolError(by + cformat("the tables differ in length: %s has %zu bins, %s has %zu", on.name.c_str(),
                                 on.values.size(), off.name.c_str(), off.values.size()));
  }
  if (on.first_bin != off.first_bin) {
    throw ToolError(by + cformat("the tables differ in their bins: %s starts at bin %lld, %s at bin %lld",
                                 on.name.c_str(), static_cast<long long>(on.first_bin), off.name.c_str(),
                                 static_cast<long long>(off.first_bin)));
  }
}

}  // namespace iq
