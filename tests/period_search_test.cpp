// SPDX-License-Identifier: MIT
// The period search's parts against plain transcriptions: the fold with squared powers, the
// sub-integration split, the drift tree's shifts, and every trial's profile against assigning
// each sample to its trial bin. The statistics, the noise, the default sub-integrations and the
// trial grid show in the golden cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/chunk_workers.hpp"
#include "dsp/folding.hpp"
#include "dsp/period_search.hpp"
#include "dsp/power_units.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// 65536 times a sample's power.
std::uint64_t power_units(const std::vector<std::uint8_t>& bytes, std::int64_t s) {
  const std::int64_t di = 2 * bytes[2 * s] - 255;
  const std::int64_t dq = 2 * bytes[2 * s + 1] - 255;
  return static_cast<std::uint64_t>(di * di + dq * dq);
}

// Folds `bytes` into sub-integrations as cyclesearch does, in chunks of 4099 samples.
SubintTable fold_into_subints(const std::vector<std::uint8_t>& bytes, const FoldGeometry& g,
                              const SubintSplit& split, PowerMoments& moments) {
  SubintTable table(g.points, split.subints);
  for (std::int64_t k = 0; k < split.subints; ++k) {
    Folder folder(g, FoldedValue::power, split.first(k), true);
    for (std::int64_t s = split.first(k); s < split.first(k + 1); s += 4099) {
      const std::int64_t end = std::min(s + 4099, split.first(k + 1));
      folder.fold_samples(std::span(bytes).subspan(2 * s, 2 * (end - s)));
    }
    std::copy(folder.sums().begin(), folder.sums().end(), table.sums(k).begin());
    std::copy(folder.counts().begin(), folder.counts().end(), table.counts(k).begin());
    moments.add(folder);
  }
  return table;
}

TEST(PeriodSearchTest, FoldWithSquaresKeepsTheSumsAndCountsTheSquares) {
  const auto bytes = test::random_bytes(2 * 200000, 4);
  for (const double start : {0.0, 68719476736.0 * 16 + 0.5}) {
    double plain = start;
    double with_squares = start;
    add_run(FoldedValue::power, plain, bytes);
    const std::uint64_t squares = add_power_run_with_squares(with_squares, bytes);
    EXPECT_EQ(with_squares, plain) << start;
    std::uint64_t expected = 0;
    for (std::int64_t s = 0; s < 200000; ++s) expected += power_units(bytes, s) * power_units(bytes, s);
    EXPECT_EQ(squares, expected);
  }
}

// On every vector target: the largest powers (bytes 0 and 255) in runs long enough to fill a
// lane to its limit, mixed bytes, and lengths that end inside a vector or on an odd byte.
TEST(PeriodSearchTest, PowerSquaresInVectorsEqualOneSampleAtATime) {
  std::vector<std::vector<std::uint8_t>> runs = {std::vector<std::uint8_t>(40000, 0),
                                                 std::vector<std::uint8_t>(40001, 255),
                                                 test::random_bytes(8193, 5),
                                                 test::random_bytes(37, 6),
                                                 {}};
  for (std::size_t k = 0; k < 3000; ++k) runs.back().push_back(k % 3 == 0 ? 0 : k % 3 == 1 ? 255 : 127);
  test::for_each_vector_target([&](const std::string& target) {
    for (const auto& run : runs) {
      std::uint64_t plain_squares = 1;
      std::uint64_t squares = 1;
      const std::uint64_t plain = power_units_and_squares_plain(run.data(), run.size(), plain_squares);
      EXPECT_EQ(power_units_and_squares(run.data(), run.size(), squares), plain) << target << ", " << run.size();
      EXPECT_EQ(squares, plain_squares) << target << ", " << run.size();
    }
  });
  std::uint64_t squares = 0;
  const std::uint8_t sample[] = {0, 255, 7};
  EXPECT_EQ(power_units_and_squares_plain(sample, 3, squares), 130050u);
  EXPECT_EQ(squares, std::uint64_t{130050} * 130050);
}

TEST(PeriodSearchTest, SplitsIntoPartsOfEqualLengthWithoutOverflow) {
  for (const auto& [samples, subints] : {std::pair<std::int64_t, std::int64_t>{10, 3},
                                         {1000003, 7},
                                         {5, 5},
                                         {(std::int64_t{1} << 62) + 3, 4194304}}) {
    const SubintSplit split{samples, subints};
    EXPECT_EQ(split.first(subints), samples);
    for (const std::int64_t k : {std::int64_t{0}, subints / 2, subints - 1}) {
      const std::int64_t extra = split.first(k + 1) - split.first(k) - samples / subints;
      EXPECT_TRUE(extra == 0 || extra == 1) << k;
    }
  }
}

TEST(PeriodSearchTest, TreeShiftsFollowTheDriftLine) {
  using Shifts = std::vector<std::int64_t>;
  // Drift 5 over 8 slots: groups of 4 take 2, of 2 take 1, single slots 0.
  EXPECT_EQ(tree_shifts(5, 8), (Shifts{0, 1, 1, 2, 3, 4, 4, 5}));
  EXPECT_EQ(tree_shifts(-3, 4), (Shifts{0, -1, -2, -3}));
  EXPECT_EQ(tree_shifts(9, 2), (Shifts{0, 5}));
  for (const std::int64_t slots : {std::int64_t{4}, std::int64_t{64}, std::int64_t{4096}}) {
    const double bound = 0.5 + std::log2(static_cast<double>(slots)) / 6;
    for (const std::int64_t drift :
         {std::int64_t{1}, std::int64_t{-7}, slots - 1, -slots / 3, 3 * slots + 5, -37 * slots - 11}) {
      const Shifts shifts = tree_shifts(drift, slots);
      for (std::int64_t k = 0; k < slots; ++k) {
        ASSERT_LE(std::fabs(static_cast<double>(shifts[k] * slots - k * drift)) / static_cast<double>(slots),
                  bound)
            << slots << " " << drift << " " << k;
      }
    }
  }
  // One bin per 1000 samples at the nominal period; 8 sub-integrations of 2000 samples.
  const FoldGeometry g = fold_geometry(1.0, 8, 8.0);
  const SubintSplit split{16000, 8};
  // At 8 / (1 - x) ms the phase drifts by x bins per 1000 samples: 999.5 x at the middle of the
  // first, 16 x over the 8 slots.
  const struct {
    double x;
    std::int64_t offset, drift;
  } trials[] = {{0.0, 0, 0}, {0.1, 0, 2}, {-0.1, 0, -2}, {0.6, 1, 10}};
  for (const auto& t : trials) {
    EXPECT_EQ(trial_shift(g, split, 8.0 / (1 - t.x)).offset, t.offset) << t.x;
    EXPECT_EQ(trial_shift(g, split, 8.0 / (1 - t.x)).drift, t.drift) << t.x;
  }
  EXPECT_EQ(trial_shifts(g, split, 8.0 / 1.1), (std::vector<std::int32_t>{0, 0, 7, 7, 7, 7, 6, 6}));
}

TEST(PeriodSearchTest, EveryTrialIsItsShiftsAppliedToEverySample) {
  const auto bytes = test::random_bytes(2 * 300000, 9);
  struct Case {
    double clock;
    std::int32_t bins;
    double period;
    std::int64_t subints;
    double span;
    std::int64_t trials;
  };
  // A tree of 16 slots in two bands; drifts of many bands, few trials each (direct sums); 1024
  // bins, whose upper levels are joined one level at a time; one slot.
  for (const Case c : {Case{2.4, 37, 0.9, 13, 0.01, 40}, Case{2.0, 61, 1.0, 3, 0.3, 9},
                       Case{2.4, 1024, 9.0, 50, 0.002, 30}, Case{3.2, 8, 5.0, 1, 0.1, 5}}) {
    const FoldGeometry g = fold_geometry(c.clock, c.bins, c.period);
    const SubintSplit split{300000 / c.bins * c.bins, c.subints};
    PowerMoments moments;
    const SubintTable table = fold_into_subints(bytes, g, split, moments);
    const auto periods = trial_periods(c.period, c.span, c.trials);
    ChunkWorkers workers(2);
    const SearchResult plain = search_periods(table, g, split, periods, moments.mean(), moments.variance());
    const SearchResult threaded =
        search_periods(table, g, split, periods, moments.mean(), moments.variance(), &workers);
    ASSERT_EQ(plain.trials.size(), periods.size());
    for (std::size_t j = 0; j < periods.size(); ++j) {
      const std::vector<std::int32_t> shifts = trial_shifts(g, split, periods[j]);
      Profile profile{std::vector<double>(c.bins), std::vector<std::int64_t>(c.bins)};
      std::vector<std::uint64_t> units(c.bins, 0);
      std::int64_t k = 0;
      for (std::int64_t s = 0; s < split.samples; ++s) {
        while (s >= split.first(k + 1)) ++k;
        const std::int64_t bin = ((g.bin(s) - shifts[k]) % c.bins + c.bins) % c.bins;
        units[bin] += power_units(bytes, s);
        ++profile.counts[bin];
      }
      for (std::int32_t b = 0; b < c.bins; ++b) profile.sums[b] = static_cast<double>(units[b]) / 65536.0;
      const ProfileStatistics want = profile_statistics(profile, moments.mean(), moments.variance());
      for (const SearchResult* result : {&plain, &threaded}) {
        const ProfileStatistics& got = result->trials[j].statistics;
        ASSERT_EQ(got.chi2, want.chi2) << c.bins << " " << j;
        EXPECT_EQ(std::pair(got.peak_bin, got.dof), std::pair(want.peak_bin, want.dof));
      }
      if (j == plain.best) {
        EXPECT_EQ(plain.best_profile.sums, profile.sums);
        EXPECT_EQ(plain.best_profile.counts, profile.counts);
      }
    }
  }
}

}  // namespace
}  // namespace iq
