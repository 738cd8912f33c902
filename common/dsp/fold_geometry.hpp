// SPDX-License-Identifier: MIT
// Where a sample falls in a folding period: the bin width and the phase-to-bin rule of the
// folding tools.
//
// Sample s lies at s * clck microseconds after the first sample; the period is cut into
// `points` bins of dt milliseconds, so the phase advances by res = clck / (dt * 1000) bins per
// sample. The bin of sample s is the phase s * res (multiplied in extended precision, rounded
// to double), truncated to a 64-bit integer, modulo `points`. Rounding at exact bin
// boundaries decides the bin, so every value here is rounded exactly where it is stored.
#pragma once

#include <cstdint>

namespace iq {

// The largest number of bins a fold takes.
inline constexpr std::int32_t kMaxFoldPoints = 8192;

struct FoldGeometry {
  float clck = 0.0f;        // sample period in microseconds: 1 / clock rate, single precision
  std::int32_t points = 0;  // bins across one period
  double periodf = 0.0;     // period in milliseconds
  double dt = 0.0;          // bin width in milliseconds: periodf / points
  double res = 0.0;         // bins the phase advances per sample: clck / (dt * 1000)

  // The phase of sample s in bins, rounded to double.
  double phase_value(std::int64_t s) const;
  // The phase truncated to a whole number of bins. Defined while phase_value(s) < 2^63
  // (see phase_fits).
  std::int64_t phase(std::int64_t s) const { return static_cast<std::int64_t>(phase_value(s)); }
  // The bin of sample s, 0 .. points - 1.
  std::int32_t bin(std::int64_t s) const { return static_cast<std::int32_t>(phase(s) % points); }
  // Whether the phase of every sample up to `last` fits a signed 64-bit bin number (the phase
  // never decreases, so the last sample decides).
  bool phase_fits(std::int64_t last) const;

  // The first sample after s whose whole phase exceeds that of s, found from an estimate
  // and checked with the direct rule, so that every sample in [s, result) has the bin of s.
  // Returns `limit` when no sample before `limit` (exclusive) changes bin; the phase is
  // evaluated only below `limit`. Requires 0 <= s < limit.
  std::int64_t next_boundary(std::int64_t s, std::int64_t limit) const;
};

// The derived values of a fold from the clock rate (MHz), the bin count and the period (ms).
FoldGeometry fold_geometry(double clock_mhz, std::int32_t points, double period_ms);

}  // namespace iq
