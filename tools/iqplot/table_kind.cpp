// SPDX-License-Identifier: MIT
// Recognising a table's kind from the number formats its tool writes: each tool prints a fixed
// number of columns with a fixed number of decimals, so the layout names the tool.
#include "table_kind.hpp"

#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "io/header_fields.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr std::array<std::pair<TableKind, std::string_view>, 10> kNames{{
    {TableKind::kSpectrum, "spectrum"},
    {TableKind::kPowerTrace, "powtrace"},
    {TableKind::kModulation, "modspec"},
    {TableKind::kProfile, "profile"},
    {TableKind::kCorrelation, "correlation"},
    {TableKind::kLevels, "levels"},
    {TableKind::kDump, "dump"},
    {TableKind::kSearch, "search"},
    {TableKind::kCalibrated, "calibrated"},
    {TableKind::kWaterfall, "waterfall"},
}};

// Digits after the decimal point of a number's text, or -1 without a point.
int decimals_of(std::string_view field) {
  const auto point = field.find('.');
  return point == std::string_view::npos ? -1 : static_cast<int>(field.size() - point - 1);
}

// A field the tools print: a number, or a not-a-number of an empty profile bin.
bool parse_field(const std::string& field, double& value) {
  if (field == "nan" || field == "-nan") {
    value = NAN;
    return true;
  }
  char* end = nullptr;
  value = std::strtod(field.c_str(), &end);
  return !field.empty() && *end == '\0' && std::isfinite(value);
}

// cyclesearch's table: a header line "# cyclesearch ..." over four columns (five with the DM
// first, for a search over dispersion measures), or (written before it had one) trial period
// with twelve decimals, chi-square with four, reduced chi-square with six, peak S/N with three.
bool is_search_table(const TableShape& shape) {
  if (!table_kind_fits(TableKind::kSearch, shape.columns)) return false;
  for (const std::string& comment : shape.comments) {
    if (comment.starts_with("# cyclesearch ")) return true;
  }
  return shape.columns == 4 && shape.decimals[0] == 12 && shape.decimals[1] == 4 && shape.decimals[2] == 6 &&
         shape.decimals[3] == 3;
}

// speccal's table: a header line "# speccal" (its values carry every digit, so their decimals
// vary), or (written before it had one) values with five decimals.
bool is_calibrated_table(const TableShape& shape) {
  if (shape.columns != 2) return false;
  for (const std::string& comment : shape.comments) {
    if (comment == "# speccal" || comment.starts_with("# speccal ")) return true;
  }
  return shape.decimals[0] <= 0 && shape.decimals[1] == 5;
}

}  // namespace

std::string_view table_kind_name(TableKind kind) {
  for (const auto& [k, name] : kNames) {
    if (k == kind) return name;
  }
  return {};
}

std::optional<TableKind> table_kind_from_name(std::string_view name) {
  for (const auto& [kind, text] : kNames) {
    if (text == name) return kind;
  }
  return std::nullopt;
}

std::string table_kind_names() {
  std::string names;
  for (const auto& [kind, name] : kNames) {
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names;
}

int table_kind_columns(TableKind kind) {
  switch (kind) {
    case TableKind::kProfile:
    case TableKind::kCorrelation:
    case TableKind::kDump:
      return 3;
    case TableKind::kSearch:
      return 4;
    default:
      return 2;
  }
}

bool table_kind_fits(TableKind kind, int columns) {
  return columns == table_kind_columns(kind) || (kind == TableKind::kSearch && columns == 5);
}

namespace {

// The bin numbers of a flag line, however many such lines the header holds; a field that is
// not a whole number is passed over.
void take_flagged(const std::string& line, std::vector<std::int64_t>& flagged) {
  const std::vector<std::string> fields = fields_of(line.substr(kFlaggedPrefix.size()));
  for (const std::string& field : fields) {
    std::int64_t bin = 0;
    if (whole_field(field, bin)) flagged.push_back(bin);
  }
}

}  // namespace

TableShape scan_table(TableReader& table, const std::string& name) {
  TableShape shape;
  std::string line;
  while (table.next_line(line)) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (line[0] == '#') {
      if (line.starts_with(kFlaggedPrefix)) take_flagged(line, shape.flagged);
      if (shape.comments.size() < kMaxComments) shape.comments.push_back(line);
      continue;
    }
    ++shape.rows;
    const auto bad_row = [&](const std::string& why) {
      return ToolError(name + " is not a table of this toolkit: row " + std::to_string(shape.rows) + " " + why);
    };
    int column = 0;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
      const std::size_t stop = std::min(line.find_first_of(" \t", at), line.size());
      const std::string field = line.substr(at, stop - at);
      double value = 0.0;
      if (!parse_field(field, value)) throw bad_row("holds '" + field + "', not a number");
      if (column < 4) {
        shape.decimals[column] = std::max(shape.decimals[column], decimals_of(field));
      }
      if (column == 0) {
        if (shape.rows == 1) shape.first_key = shape.min_key = shape.max_key = value;
        shape.min_key = std::min(shape.min_key, value);
        shape.max_key = std::max(shape.max_key, value);
      }
      if (column == 1 && !std::isnan(value)) {
        shape.value_sum += value;
        ++shape.finite_values;
      }
      ++column;
      at = stop;
    }
    if (shape.rows == 1) {
      shape.columns = column;
      shape.tab_separated = line.find('\t') != std::string::npos;
    } else if (column != shape.columns) {
      throw bad_row("has " + std::to_string(column) + " fields, the first row " + std::to_string(shape.columns));
    }
  }
  return shape;
}

std::optional<TableKind> recognise_table(const TableShape& shape) {
  if (shape.rows > 0 && is_search_table(shape)) return TableKind::kSearch;
  if (shape.rows > 0 && is_calibrated_table(shape)) return TableKind::kCalibrated;
  if (shape.rows == 0 || shape.decimals[0] > 0) return std::nullopt;
  const int values = shape.decimals[1];
  if (shape.columns == 2) {
    if (values == 8) return TableKind::kPowerTrace;
    if (values == 6) return TableKind::kModulation;
    if (values != 3) return std::nullopt;
    // A level table has 256 rows from -128 whose mean counts per 512 bytes add up to 512 (to
    // within the rounding to three decimals); a 256-point spectrum has the same layout.
    const bool levels = shape.rows == 256 && shape.first_key == -128.0 && std::fabs(shape.value_sum - 512.0) < 0.5;
    return levels ? TableKind::kLevels : TableKind::kSpectrum;
  }
  if (shape.columns == 3) {
    if (shape.tab_separated && values == 4 && shape.decimals[2] == 4) return TableKind::kDump;
    if ((values == 5 || values == -1) && shape.decimals[2] == -1) return TableKind::kProfile;
    if (values == 7 && shape.decimals[2] == 7) return TableKind::kCorrelation;
  }
  return std::nullopt;
}

}  // namespace iq
