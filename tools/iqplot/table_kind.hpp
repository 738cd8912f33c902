// SPDX-License-Identifier: MIT
// The kinds of table the toolkit writes, and how to tell them apart by their shape alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/table_reader.hpp"

namespace iq {

enum class TableKind {
  kSpectrum,
  kPowerTrace,
  kModulation,
  kProfile,
  kCorrelation,
  kLevels,
  kDump,
  kSearch,      // cyclesearch's chi-square per trial period
  kCalibrated,  // speccal's (on - off) / off per bin
  kWaterfall,   // iqwaterfall's rows of spectra (waterfall_plot.hpp)
};

// The option name of a kind ("spectrum", "powtrace", ...), and back; nothing for an unknown name.
std::string_view table_kind_name(TableKind kind);
std::optional<TableKind> table_kind_from_name(std::string_view name);
// Columns per row of a table of that kind.
int table_kind_columns(TableKind kind);
// Whether a table of this many columns can be of that kind: a search over dispersion measures
// has a fifth, its DM first.
bool table_kind_fits(TableKind kind, int columns);
// All option names, separated by ", ", for messages and the help text.
std::string table_kind_names();

// Comment lines a table's shape keeps: the header lines a tool writes, not a log.
inline constexpr std::size_t kMaxComments = 16;

// The start of speccal's header lines that list its flagged bins.
inline constexpr std::string_view kFlaggedPrefix = "# flagged: ";

// What one pass over a table shows about its kind.
struct TableShape {
  std::int64_t rows = 0;
  int columns = 0;  // fields per row; every row has the same number
  bool tab_separated = false;
  int decimals[4] = {-1, -1, -1, -1};   // digits after the point per column; -1 when none has one
  double first_key = 0.0;               // the first column of the first row
  double min_key = 0.0, max_key = 0.0;  // the smallest and largest value of the first column
  std::vector<std::string> comments;    // the first kMaxComments comment lines ("# ...")
  std::vector<std::int64_t> flagged;    // the bins of every "# flagged: B B ..." line (speccal's flags)
  double value_sum = 0.0;               // sum of the second column (a level table sums to 512)
  std::int64_t finite_values = 0;       // rows whose second column is a number, not nan
};

// Reads a whole table; lines starting with '#' are comments. Throws ToolError naming `name` for a row that is not
// a row of numbers or whose field count differs from the first row's.
TableShape scan_table(TableReader& table, const std::string& name);

// The kind a shape belongs to, or nothing when it matches none.
std::optional<TableKind> recognise_table(const TableShape& shape);

}  // namespace iq
