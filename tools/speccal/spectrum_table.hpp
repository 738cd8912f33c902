// SPDX-License-Identifier: MIT
// The spectrum tables speccal reads: a bin number and a value a line, with the tuning of any
// header line, and the check that two tables hold the same bins.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/capture_metadata.hpp"
#include "io/capture_reader.hpp"

namespace iq {

// Bins and their values; calibrated spectra are held the same way.
struct Spectrum {
  std::int64_t first_bin = 0;
  std::vector<double> values;
  std::int64_t bin(std::size_t i) const { return first_bin + static_cast<std::int64_t>(i); }
};

struct SpectrumTable : Spectrum {
  std::string name;
  FileId id;
  // The rate and centre of a header line's sample_rate_hz= and centre_frequency_hz=, the start
  // and site of its start_utc= and site=, if any.
  CaptureMetadata header;
  // How long the table's frames took: a waterfall row's frames (frames_per_row=, each as many
  // samples as the table has bins), or speccal's seconds=.
  std::optional<std::int64_t> frames;
  std::optional<double> seconds;
  // The seconds from the start to the middle of the frames, when the rate (the header's, or
  // `rate_hz` when given) tells it; 0 otherwise.
  double middle_seconds(std::optional<double> rate_hz) const;
};

// Reads a spectrum table: lines of a bin number and a finite value, the bins running up by
// one. Comment lines ("#") and blank lines are passed over, so a waterfall of one row reads as
// a spectrum; a second row is refused. Anything else is refused in one line naming the table.
SpectrumTable read_spectrum(const std::string& name);

// A ToolError naming both tables (after "option <option>: " when one is given) unless they hold
// the same number of bins from the same bin.
void require_same_bins(const SpectrumTable& a, const SpectrumTable& b, const char* option = nullptr);

}  // namespace iq
