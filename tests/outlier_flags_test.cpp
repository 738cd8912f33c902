// SPDX-License-Identifier: MIT
// The interference flags: what departs from the running median by more than K MADs, judged the
// same whether the series is whole (speccal's bins) or arrives a value at a time (iqwaterfall's
// rows), also at both ends of the stream and for series shorter than the window.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/outlier_flags.hpp"

namespace iq {
namespace {

TEST(OutlierFlags, MedianAndFlagsOfAWholeSeries) {
  EXPECT_EQ(median_of({5.0, 1.0, 3.0}), 3.0);
  EXPECT_EQ(median_of({4.0, 1.0, 3.0, 10.0}), 3.5);
  EXPECT_TRUE(std::isnan(median_of({})));
  std::vector<double> ramp;
  for (int i = 0; i < 100; ++i) ramp.push_back(i);
  ramp[50] += 10.0;  // median 51, MAD 2 about it: 9 above
  const std::vector<bool> spike = outlier_flags(ramp, 3.0, 7);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(spike[i], i == 50) << i;
  // A window wider than the values: median 3, MAD 2; values 0 and 6 depart by 3.
  const std::vector<double> seven{0, 1, 2, 3, 4, 5, 6};
  const std::pair<double, std::vector<bool>> cases[] = {
      {1.5, {false, false, false, false, false, false, false}},
      {1.4, {true, false, false, false, false, false, true}},
      {0.6, {true, true, false, false, false, true, true}},
  };
  for (const auto& [k, expected] : cases) EXPECT_EQ(outlier_flags(seven, k, 101), expected) << k;
}

// Every value is decided once, in order, half a window after it arrives (the rest at the end),
// against the same window and with the same verdict as the whole series gives.
TEST(OutlierFlags, AStreamIsJudgedAsTheWholeSeriesHalfAWindowLate) {
  std::mt19937 random(11);
  std::normal_distribution<double> noise(100.0, 2.0);
  for (const std::size_t window : {3u, 5u, 9u, 21u}) {
    const auto half = static_cast<std::int64_t>(window / 2);
    for (std::int64_t length = 0; length <= 30; ++length) {
      std::vector<double> series;
      for (std::int64_t i = 0; i < length; ++i) series.push_back(noise(random) + (i % 7 == 3 ? 40.0 : 0.0));
      const std::vector<bool> whole = outlier_flags(series, 4.0, window);
      RunningOutlierFlags running(4.0, window);
      std::vector<RunningOutlierFlags::Decision> decisions;
      for (std::int64_t i = 0; i < length; ++i) {
        const auto decision = running.add(series[static_cast<std::size_t>(i)]);
        ASSERT_EQ(decision.has_value(), i >= half) << window << " " << i;
        if (decision) EXPECT_EQ(decision->index, i - half);
        if (decision) decisions.push_back(*decision);
      }
      for (const auto& decision : running.finish()) decisions.push_back(decision);
      ASSERT_EQ(decisions.size(), series.size()) << window << " " << length;
      for (std::size_t i = 0; i < decisions.size(); ++i) {
        const auto& d = decisions[i];
        const auto at = static_cast<std::int64_t>(i);
        EXPECT_EQ(d.index, at);
        EXPECT_EQ(d.value, series[i]);
        EXPECT_EQ(d.first, std::max<std::int64_t>(0, at - half));
        EXPECT_EQ(d.last, std::min(length - 1, at + half));
        EXPECT_EQ(d.test.flagged, whole[i]) << window << " " << length << " " << i;
      }
    }
  }
}

TEST(OutlierFlags, TheTestReportsTheWindowsMedianAndMad) {
  const std::vector<double> window{1.0, 2.0, 4.0, 8.0, 30.0};
  const struct {
    double value, k;
    bool flagged;
  } cases[] = {{30.0, 8.0, true}, {30.0, 9.0, false}, {-5.0, 2.9, true}, {-5.0, 3.0, false}, {4.0, 0.1, false}};
  for (const auto& c : cases) {
    const OutlierTest test = outlier_test(window, c.value, c.k);
    EXPECT_EQ(test.median, 4.0);
    EXPECT_EQ(test.mad, 3.0);  // |v - 4|: 3, 2, 0, 4, 26
    EXPECT_EQ(test.flagged, c.flagged) << c.value << " " << c.k;
  }
}

}  // namespace
}  // namespace iq
