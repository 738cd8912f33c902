// The period search's parts against plain transcriptions: the fold with squared powers and the
// noise moments, the sub-integration split and its smear, the trial grid, the drift tree's
// shifts, every trial's profile against assigning each sample to its trial bin, and the
// statistics of a profile.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/chunk_workers.hpp"
#include "dsp/folding.hpp"
#include "period_search.hpp"
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

TEST(PeriodSearchTest, FoldWithSquaresAndNoiseMoments) {
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
  PowerMoments moments;
  fold_into_subints(bytes, fold_geometry(2.4, 50, 1.0), {200000, 7}, moments);
  std::uint64_t total = 0;
  for (std::int64_t s = 0; s < 200000; ++s) total += power_units(bytes, s);
  const double mean = static_cast<double>(total) / 65536.0 / 200000;
  double variance = 0.0;
  for (std::int64_t s = 0; s < 200000; ++s) variance += std::pow(static_cast<double>(power_units(bytes, s)) / 65536.0 - mean, 2) / 200000;
  EXPECT_EQ(moments.samples(), 200000);
  EXPECT_NEAR(moments.mean(), mean, 1e-14 * mean);
  EXPECT_NEAR(moments.variance(), variance, 1e-12 * variance);
}

TEST(PeriodSearchTest, SplitsSmearAndTrialGrid) {
  for (const auto& [samples, subints] : {std::pair<std::int64_t, std::int64_t>{10, 3}, {1000003, 7}, {5, 5},
                                        {(std::int64_t{1} << 62) + 3, 4194304}}) {
    const SubintSplit split{samples, subints};
    EXPECT_EQ(split.first(subints), samples);
    for (const std::int64_t k : {std::int64_t{0}, subints / 2, subints - 1}) {
      EXPECT_LE(std::abs(split.first(k + 1) - split.first(k) - samples / subints), 1) << k;
    }
  }
  struct Smear {
    double clock;
    std::int32_t bins;
    double period;
    std::int64_t samples;
    double span;
  };
  for (const Smear c : {Smear{2.4, 100, 33.7, 24000000, 0.0002}, Smear{2.4, 32, 1.0, 4800000, 0.001},
                        Smear{0.1, 64, 2000.0, 4000000, 0.001}, Smear{2.4, 8192, 1.0, 2400000, 1e-6}}) {
    const FoldGeometry g = fold_geometry(c.clock, c.bins, c.period);
    const std::int64_t k = default_subints(g, c.samples, c.span);
    EXPECT_LT(edge_smear_bins(g, {c.samples, k}, c.span), 1.0) << c.period;
    EXPECT_TRUE(k == 1 || edge_smear_bins(g, {c.samples, k - 1}, c.span) >= 1.0) << c.period;
  }
  const auto periods = trial_periods(33.7, 0.0002, 1001);
  ASSERT_EQ(periods.size(), 1001u);
  EXPECT_EQ(periods.front(), 33.7 * (1 - 0.0002));
  EXPECT_EQ(periods[500], 33.7);
  EXPECT_DOUBLE_EQ(periods.back(), 33.7 * (1 + 0.0002));
  for (std::size_t j = 1; j < periods.size(); ++j) EXPECT_GT(periods[j], periods[j - 1]);
  EXPECT_EQ(trial_periods(2.5, 0.1, 1), std::vector<double>{2.5});
}

TEST(PeriodSearchTest, TreeShiftsFollowTheDriftLine) {
  using Shifts = std::vector<std::int64_t>;
  // Drift 5 over 8 slots: groups of 4 take 2, of 2 take 1, single slots 0.
  EXPECT_EQ(tree_shifts(5, 8), (Shifts{0, 1, 1, 2, 3, 4, 4, 5}));
  EXPECT_EQ(tree_shifts(-3, 4), (Shifts{0, -1, -2, -3}));
  EXPECT_EQ(tree_shifts(9, 2), (Shifts{0, 5}));
  EXPECT_EQ(tree_shifts(7, 1), Shifts{0});
  for (const std::int64_t slots : {std::int64_t{4}, std::int64_t{64}, std::int64_t{4096}}) {
    const double bound = 0.5 + std::log2(static_cast<double>(slots)) / 6;
    for (const std::int64_t drift : {std::int64_t{1}, std::int64_t{-7}, slots - 1, -slots / 3, 3 * slots + 5, -37 * slots - 11}) {
      const Shifts shifts = tree_shifts(drift, slots);
      for (std::int64_t k = 0; k < slots; ++k) {
        ASSERT_LE(std::fabs(static_cast<double>(shifts[k] * slots - k * drift)) / static_cast<double>(slots), bound) << slots << " " << drift << " " << k;
      }
    }
  }
  // One bin per 1000 samples at the nominal period; 5 sub-integrations of 2000 samples in 8 slots.
  const FoldGeometry g = fold_geometry(1.0, 8, 8.0);
  const SubintSplit split{10000, 5};
  const TrialShift nominal = trial_shift(g, split, 8.0);
  EXPECT_EQ(nominal.offset, 0);
  EXPECT_EQ(nominal.drift, 0);
  const TrialShift slower = trial_shift(g, split, 8.0 / (1 - 0.1));  // 0.1 bin per 1000 samples
  EXPECT_EQ(slower.offset, 0);   // 0.09995 at sample 999.5
  EXPECT_EQ(slower.drift, 2);    // 1.6 over 8 slots of 2000
  EXPECT_EQ(trial_shift(g, split, 8.0 / 1.1).drift, -2);
  EXPECT_EQ(trial_shift(g, split, 8.0 / (1 - 0.6)).offset, 1);
  EXPECT_EQ(trial_shifts(g, split, 8.0 / 1.1), (std::vector<std::int32_t>{0, 0, 7, 7, 7}));
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
    const SearchResult threaded = search_periods(table, g, split, periods, moments.mean(), moments.variance(), &workers);
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
        EXPECT_EQ(result->trials[j].period_ms, periods[j]);
        ASSERT_EQ(result->trials[j].statistics.chi2, want.chi2) << c.bins << " " << j;
        EXPECT_EQ(result->trials[j].statistics.peak_bin, want.peak_bin);
        EXPECT_EQ(result->trials[j].statistics.dof, want.dof);
      }
      if (j == plain.best) {
        EXPECT_EQ(plain.best_profile.sums, profile.sums);
        EXPECT_EQ(plain.best_profile.counts, profile.counts);
      }
    }
    EXPECT_EQ(threaded.best, plain.best);
  }
}

TEST(PeriodSearchTest, ProfileStatisticsAndOnPulseWindow) {
  // Mean power 1, variance 4 per sample: a bin of n samples whose mean is off by d adds
  // n d^2 / 4 to chi2 and has the S/N d sqrt(n) / 2.
  struct Case {
    std::vector<double> sums;
    std::vector<std::int64_t> counts;
    double chi2;
    std::int32_t dof;
    double peak_snr;
    std::int32_t peak_bin;
    double first_phase;
    double last_phase;
  };
  const std::vector<std::int64_t> n4(4, 10000);
  const Case cases[] = {
      {{10000, 10000, 10000, 10000}, n4, 0.0, 3, 0.0, 0, 0.0, 0.25},
      {{10000, 12000, 10000, 8000}, n4, 200.0, 3, 10.0, 1, 0.25, 0.5},
      // An empty bin has no mean and no degree of freedom; the window stops there.
      {{40000, 0, 10000, 30000}, {10000, 0, 10000, 10000}, 32500.0, 2, 150.0, 0, 0.75, 1.25},
      // The window wraps round from the last bin to the first.
      {{13000, 10000, 10000, 10000, 10000, 12500, 10000, 12000}, std::vector<std::int64_t>(8, 10000), 481.25, 7,
       15.0, 0, 0.875, 1.125},
  };
  for (const Case& c : cases) {
    Profile profile{c.sums, c.counts};
    const ProfileStatistics s = profile_statistics(profile, 1.0, 4.0);
    EXPECT_DOUBLE_EQ(s.chi2, c.chi2);
    EXPECT_EQ(s.dof, c.dof);
    EXPECT_DOUBLE_EQ(s.reduced_chi2, c.chi2 / c.dof);
    EXPECT_DOUBLE_EQ(s.peak_snr, c.peak_snr);
    EXPECT_EQ(s.peak_bin, c.peak_bin);
    const OnPulse window = on_pulse(profile, 1.0, s.peak_bin);
    EXPECT_DOUBLE_EQ(window.first_phase, c.first_phase);
    EXPECT_DOUBLE_EQ(window.last_phase, c.last_phase);
    EXPECT_DOUBLE_EQ(window.peak_phase, (c.peak_bin + 0.5) / static_cast<double>(c.sums.size()));
  }
  // A capture without noise (constant bytes) has no chi2 rather than 0 / 0.
  const ProfileStatistics flat = profile_statistics({{5, 5}, {10, 10}}, 0.5, 0.0);
  EXPECT_EQ(flat.chi2, 0.0);
  EXPECT_EQ(flat.peak_snr, 0.0);
}

TEST(PeriodSearchTest, BestTrialIsTheMiddleOfItsRunAndDistinctTrialsAreCounted) {
  // One sub-integration with a pulse in bin 2, another with it in bin 3: the trials that shift
  // the second back by one bin line the pulses up.
  const FoldGeometry g = fold_geometry(1.0, 8, 8.0);  // one bin per millisecond, 1000 samples
  const SubintSplit split{16000, 2};                  // two periods of 8000 samples each
  SubintTable table(8, 2);
  for (std::int64_t k = 0; k < 2; ++k) {
    for (int b = 0; b < 8; ++b) {
      table.counts(k)[b] = 1000;
      table.sums(k)[b] = b == 2 + k ? 1500.0 : 1000.0;
    }
  }
  // Over +-10 % the drift across the two slots, 16 * (1 - 8 / trial), is -2 .. +1 bins: the
  // second slot shifted by -1 (drifts -2 and -1), 0 or +1: three distinct profiles, the last
  // one aligned, from 16 (1 - 1 / (1 + x)) >= 0.5.
  const auto periods = trial_periods(8.0, 0.1, 401);
  const SearchResult result = search_periods(table, g, split, periods, 1.0, 1.0);
  EXPECT_EQ(result.distinct, 3);
  EXPECT_EQ(result.best_profile.sums[2], 3000.0);
  EXPECT_EQ(result.best, (265u + 400u) / 2);  // x >= 1 / 31 from trial 265 on
  EXPECT_EQ(trial_shifts(g, split, periods[264])[1], 0);
  EXPECT_EQ(trial_shifts(g, split, periods[265])[1], 1);
}

}  // namespace
}  // namespace iq
