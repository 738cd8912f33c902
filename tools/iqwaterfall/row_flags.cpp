// SPDX-License-Identifier: MIT
// Flagging a waterfall's rows by their total power as the rows are written.
#include "row_flags.hpp"

#include "io/text_format.hpp"

namespace iq {

std::string row_flags_header(const OutlierOptions& options) {
  return cformat(
      "# flagged rows: total power more than %g MADs from the median of %zu rows; a line \"# flagged row R: "
      "...\" follows the blocks once row R is decided, at most %zu rows later\n",
      options.k, options.window, options.window / 2);
}

std::string flagged_row_line(const RunningOutlierFlags::Decision& decision) {
  return cformat("# flagged row %lld: total power %.9g, median %.9g and MAD %.9g of rows %lld to %lld\n",
                 static_cast<long long>(decision.index), decision.value, decision.test.median, decision.test.mad,
                 static_cast<long long>(decision.first), static_cast<long long>(decision.last));
}

double row_total_power(const SpectrumAccumulator& row, std::int64_t frames_per_row) {
  double total = 0.0;
  for (std::int32_t line = 0; line < row.points(); ++line) total += row.line_mean(line, frames_per_row);
  return total;
}

RowFlagWriter::RowFlagWriter(OutputFile& table, const OutlierOptions& options)
    : table_(table), flags_(options.k, options.window) {}

void RowFlagWriter::add(const SpectrumAccumulator& row, std::int64_t frames_per_row) {
  if (const auto decision = flags_.add(row_total_power(row, frames_per_row))) write(*decision);
}

void RowFlagWriter::finish() {
  for (const auto& decision : flags_.finish()) write(decision);
}

void RowFlagWriter::write(const RunningOutlierFlags::Decision& decision) {
  if (!decision.test.flagged) return;
  table_.write(flagged_row_line(decision));
  ++flagged_;
}

}  // namespace iq
