// SPDX-License-Identifier: MIT
// iqwaterfall's row flags: each row's total power judged against its neighbouring rows', the
// flagged rows noted in comment lines between the rows as soon as they are decided.
#pragma once

#include <cstdint>
#include <string>

#include "cli/outlier_options.hpp"
#include "dsp/outlier_flags.hpp"
#include "dsp/spectrum.hpp"
#include "io/output_file.hpp"

namespace iq {

// The header line that says how rows are flagged and where the flags stand.
std::string row_flags_header(const OutlierOptions& options);

// The comment line of a flagged row: "# flagged row R: total power P, median M and MAD D of
// rows A to B".
std::string flagged_row_line(const RunningOutlierFlags::Decision& decision);

// A row's total power: the sum of its bins' mean powers, from the lowest bin up.
double row_total_power(const SpectrumAccumulator& row, std::int64_t frames_per_row);

class RowFlagWriter {
 public:
  RowFlagWriter(OutputFile& table, const OutlierOptions& options);
  // Takes the row just written; writes the flag line of the row it decides, if flagged.
  void add(const SpectrumAccumulator& row, std::int64_t frames_per_row);
  // Writes the flag lines of the rows left undecided when the rows end.
  void finish();
  std::int64_t flagged() const { return flagged_; }

 private:
  void write(const RunningOutlierFlags::Decision& decision);

  OutputFile& table_;
  RunningOutlierFlags flags_;
  std::int64_t flagged_ = 0;
};

}  // namespace iq
