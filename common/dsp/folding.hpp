// SPDX-License-Identifier: MIT
// Period folding: every complex sample of a capture goes to the bin of the period it falls in
// (FoldGeometry); each bin sums the samples' amplitude or power and counts them, and gives the
// mean the table shows.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "arith/precision.hpp"
#include "dsp/fold_geometry.hpp"

namespace iq {

// What a sample contributes to its bin.
enum class FoldedValue {
  amplitude,  // sqrt(I^2 + Q^2)
  power,      // I^2 + Q^2
};

// The folded value of one sample from its I and Q bytes: the components normalised in single
// precision, I^2 + Q^2 in double (exact), and for the amplitude its square root in double.
double folded_value(FoldedValue kind, std::uint8_t i_byte, std::uint8_t q_byte);

// Adds the folded values of the samples in `iq` (interleaved I and Q bytes) to `sum` one after
// the other, each addition in extended precision rounded to double. Power sums that stay exact
// in double are added as one integer total, which gives the same double.
void add_run(FoldedValue kind, double& sum, std::span<const std::uint8_t> iq);
// add_run of the power that also returns the sum of the squares of the samples' powers in
// units of 2^-32 (a sample's power is a whole number u of 2^-16; this is the sum of u^2, exact
// for up to 2^30 samples). The sum it leaves is the one add_run leaves.
std::uint64_t add_power_run_with_squares(double& sum, std::span<const std::uint8_t> iq);

// The mean of a bin as the tables show it: the sum in single precision over the count in single
// precision, divided in extended precision (0 / 0 for an empty bin).
inline double fold_mean(double sum, std::int64_t count) {
  return static_cast<double>(static_cast<extended>(static_cast<float>(sum)) / static_cast<float>(count));
}

// The per-bin sums and counts of one fold, filled with a capture's samples in file order.
class Folder {
 public:
  // A fold whose first sample is sample `first_sample` of the capture (its phase follows from
  // that index), so that consecutive parts of one capture can be folded into separate tables.
  // With `power_squares` (for the power), the fold also sums the squares of the powers, for
  // the noise of the profile.
  Folder(const FoldGeometry& geometry, FoldedValue kind, std::int64_t first_sample = 0,
         bool power_squares = false);

  // Folds the complex samples in `iq` (interleaved I and Q bytes), the next ones in file order:
  // sample indices continue from the samples folded so far, and the sums do not depend on how
  // the samples are split into calls. Requires geometry().phase_fits(index of the last sample).
  void fold_samples(std::span<const std::uint8_t> iq);
  // Empties the fold and starts it again at sample `first_sample`, as a new Folder would, but
  // keeping its buffers: for many short folds in a row.
  void restart(std::int64_t first_sample);

  const FoldGeometry& geometry() const { return geometry_; }
  const std::vector<double>& sums() const { return sums_; }
  const std::vector<std::int64_t>& counts() const { return counts_; }
  // The bin of the last folded sample (0 before the first).
  std::int32_t last_bin() const { return last_bin_; }
  // The number of samples folded.
  std::int64_t folded() const { return next_ - first_; }
  // The index of the next sample to fold.
  std::int64_t next_sample() const { return next_; }
  // With power_squares: the sum over the folded samples of u^2, u being a sample's power in
  // units of 2^-16 (exact below 2^64); otherwise 0.
  extended power_square_units() const { return square_units_; }

 private:
  FoldGeometry geometry_;
  FoldedValue kind_;
  std::vector<double> sums_;
  std::vector<std::int64_t> counts_;
  std::int32_t last_bin_ = 0;
  std::int64_t first_ = 0;
  std::int64_t next_ = 0;
  bool power_squares_ = false;
  extended square_units_ = 0;
};

}  // namespace iq
