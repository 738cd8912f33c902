// SPDX-License-Identifier: MIT
// The phase-to-bin rule of the folding tools and the boundary search that lets a fold assign
// whole runs of samples to one bin.
#include "dsp/fold_geometry.hpp"

#include <algorithm>
#include <cmath>

#include "arith/precision.hpp"

namespace iq {

namespace {

// 2^63: the first phase that no longer fits a signed 64-bit integer.
constexpr double kPhaseLimit = 9223372036854775808.0;

}  // namespace

FoldGeometry fold_geometry(double clock_mhz, std::int32_t points, double period_ms) {
  FoldGeometry g;
  g.clck = static_cast<float>(widen(1.0) / static_cast<extended>(clock_mhz));
  g.points = points;
  g.periodf = period_ms;
  g.dt = static_cast<double>(static_cast<extended>(period_ms) / static_cast<extended>(points));
  g.res = static_cast<double>(static_cast<extended>(g.clck) / (static_cast<extended>(g.dt) * widen(1000.0)));
  return g;
}

double FoldGeometry::phase_value(std::int64_t s) const {
  const auto index = static_cast<double>(s);
  return static_cast<double>(static_cast<extended>(index) * static_cast<extended>(res));
}

bool FoldGeometry::phase_fits(std::int64_t last) const {
  const double value = phase_value(last);
  return value >= 0.0 && value < kPhaseLimit;
}

std::int64_t FoldGeometry::next_boundary(std::int64_t s, std::int64_t limit) const {
  const std::int64_t p = phase(s);
  // The phase never decreases with s, so the samples whose phase exceeds p form a tail; the
  // estimate (p + 1) / res lands within a sample or two of its start, and a galloping then
  // binary search with the direct rule makes the answer exact wherever the estimate lands.
  // Invariant: phase(lo) <= p; hi is `limit` or a sample with phase(hi) > p.
  std::int64_t lo = s;
  std::int64_t hi = limit;
  const extended estimate = ceil_ext((static_cast<extended>(p) + 1) / static_cast<extended>(res));
  if (estimate < static_cast<extended>(limit)) {
    const std::int64_t guess = std::max(s + 1, static_cast<std::int64_t>(estimate));
    if (phase(guess) > p) {
      hi = guess;
    } else {
      lo = guess;
      for (std::int64_t step = 1;; step *= 2) {
        if (step >= limit - lo) break;  // hi stays `limit`
        if (phase(lo + step) > p) {
          hi = lo + step;
          break;
        }
        lo += step;
      }
    }
  }
  while (hi - lo > 1) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (phase(mid) > p) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return hi;
}

}  // namespace iq
