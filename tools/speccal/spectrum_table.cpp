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

}  // namespace

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
      const std::string bad = take_tuning_fields(fields, table.header);
      if (!bad.empty()) throw refuse("has " + bad + ", not a number");
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
