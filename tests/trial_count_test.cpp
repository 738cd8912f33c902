// SPDX-License-Identifier: MIT
// cyclesearch's count of independent trials: resolution elements, capped by the trials computed.
#include <gtest/gtest.h>

#include "trial_count.hpp"

namespace iq {
namespace {

TEST(TrialCount, CountsResolutionElementsUpToTheTrialsComputed) {
  const struct {
    double from, to, resolution;
    std::int64_t computed, expected;
  } cases[] = {
      {10.0, 10.1, 0.01, 1000, 11},                               // trials finer than the resolution: its elements
      {10.0, 10.1, 0.0099, 1000, 11},                             // a part of an element more is not counted
      {10.0, 10.1, 0.03, 5, 4},       {10.0, 10.1, 0.001, 9, 9},  // trials coarser than it: each one independent
      {5.0, 5.0, 0.1, 1, 1},                                      // one trial
      {0.0, 60.0, 7.5, 16, 9},   // DMs 0 to 60 by 4 where 7.5 move the pulse one bin
      {0.0, 60.0, 0.0, 16, 16},  // no resolution known: every trial
      {0.0, 1.0, 1e-300, 0, 1},  // never fewer than one
  };
  for (const auto& c : cases) {
    EXPECT_EQ(independent_trials(c.from, c.to, c.resolution, c.computed), c.expected)
        << c.from << " " << c.to << " " << c.resolution << " " << c.computed;
  }
}

}  // namespace
}  // namespace iq
