// The period search's parts against plain transcriptions: the fold with squared powers, the
// noise moments, the sub-integration split and its smear, the trial grid, the shift-and-add of
// every trial against a sample-by-sample assignment, and the statistics of a profile.
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
std::uint64_t power_units(std::uint8_t i, std::uint8_t q) {
  const std::int64_t di = 2 * i - 255;
  const std::int64_t dq = 2 * q - 255;
  return static_cast<std::uint64_t>(di * di + dq * dq);
}

// Folds `bytes` into sub-integrations as cyclesearch does, in chunks of `chunk` samples.
SubintTable fold_into_subints(const std::vector<std::uint8_t>& bytes, const FoldGeometry& g,
                              const SubintSplit& split, PowerMoments& moments, std::int64_t chunk) {
  SubintTable table(g.points, split.subints);
  for (std::int64_t k = 0; k < split.subints; ++k) {
    Folder folder(g, FoldedValue::power, split.first(k), true);
    for (std::int64_t s = split.first(k); s < split.first(k + 1); s += chunk) {
      const std::int64_t end = std::min(s + chunk, split.first(k + 1));
      folder.fold_samples(std::span(bytes).subspan(2 * s, 2 * (end - s)));
    }
    std::copy(folder.sums().begin(), folder.sums().end(), table.sums(k).begin());
    std::copy(folder.counts().begin(), folder.counts().end(), table.counts(k).begin());
    moments.add(folder);
  }
  return table;
}

TEST(PeriodSearchTest, FoldWithSquaresKeepsTheSumsAndCountsTheSquares) {
  const auto bytes = test::random_bytes(2 * 150000, 5);
  for (const double start : {0.0, 0.1, 68719476736.0 * 16 + 0.5}) {
    double plain = start;
    double with_squares = start;
    add_run(FoldedValue::power, plain, bytes);
    const std::uint64_t squares = add_power_run_with_squares(with_squares, bytes);
    EXPECT_EQ(with_squares, plain) << start;
    std::uint64_t expected = 0;
    for (std::size_t k = 0; k < bytes.size(); k += 2) {
      const std::uint64_t u = power_units(bytes[k], bytes[k + 1]);
      expected += u * u;
    }
    EXPECT_EQ(squares, expected);
  }
}

TEST(PeriodSearchTest, SplitsSmearAndTrialGrid) {
  struct Split {
    std::int64_t samples;
    std::int64_t subints;
  };
  for (const Split c : {Split{10, 3}, Split{1000003, 7}, Split{5, 5}, Split{1, 1}, Split{(std::int64_t{1} << 62) + 3, 4194304}}) {
    const SubintSplit split{c.samples, c.subints};
    EXPECT_EQ(split.first(0), 0);
    EXPECT_EQ(split.first(c.subints), c.samples);
    for (const std::int64_t k : {std::int64_t{0}, c.subints / 2, c.subints - 1}) {
      const std::int64_t length = split.first(k + 1) - split.first(k);
      EXPECT_TRUE(length == c.samples / c.subints || length == c.samples / c.subints + 1) << k;
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
    if (k > 1) {
      EXPECT_GE(edge_smear_bins(g, {c.samples, k - 1}, c.span), 1.0) << c.period;
    }
  }
  const auto periods = trial_periods(33.7, 0.0002, 1001);
  ASSERT_EQ(periods.size(), 1001u);
  EXPECT_EQ(periods.front(), 33.7 * (1 - 0.0002));
  EXPECT_EQ(periods[500], 33.7);
  EXPECT_DOUBLE_EQ(periods.back(), 33.7 * (1 + 0.0002));
  for (std::size_t j = 1; j < periods.size(); ++j) EXPECT_GT(periods[j], periods[j - 1]);
  EXPECT_EQ(trial_periods(2.5, 0.1, 1), std::vector<double>{2.5});
}

TEST(PeriodSearchTest, ShiftAndAddMatchesAssigningEverySampleToItsTrialBin) {
  const auto bytes = test::random_bytes(2 * 300000, 9);
  struct Case {
    double clock;
    std::int32_t bins;
    double period;
    std::int64_t subints;
    double span;
  };
  for (const Case c : {Case{2.4, 37, 0.9, 13, 0.01}, Case{2.0, 100, 1.0, 40, 0.002}, Case{3.2, 8, 5.0, 1, 0.1},
                       Case{2.4, 64, 0.3, 300000, 0.0005}}) {
    const FoldGeometry g = fold_geometry(c.clock, c.bins, c.period);
    const std::int64_t samples = 300000 / c.bins * c.bins;
    const SubintSplit split{samples, c.subints};
    PowerMoments moments;
    const SubintTable table = fold_into_subints(bytes, g, split, moments, 4099);
    for (const double trial : trial_periods(c.period, c.span, 5)) {
      std::vector<std::int32_t> shifts;
      for (std::int64_t k = 0; k < c.subints; ++k) shifts.push_back(subint_shift(g, split, k, trial));
      Profile profile;
      table.shifted_sum(shifts, profile);
      // Every sample to the bin its phase at the trial period gives it, from its
      // sub-integration's drift.
      std::vector<std::uint64_t> units(c.bins, 0);
      std::vector<std::int64_t> counts(c.bins, 0);
      std::int64_t k = 0;
      for (std::int64_t s = 0; s < samples; ++s) {
        while (s >= split.first(k + 1)) ++k;
        const auto drift = static_cast<double>(split.middle(k) * static_cast<extended>(g.res) *
                                               ((static_cast<extended>(trial) - c.period) / trial));
        const std::int64_t shift = static_cast<std::int64_t>(std::nearbyint(drift));
        const std::int64_t bin = (((g.bin(s) - shift) % c.bins) + c.bins) % c.bins;
        units[bin] += power_units(bytes[2 * s], bytes[2 * s + 1]);
        ++counts[bin];
      }
      for (std::int32_t b = 0; b < c.bins; ++b) {
        ASSERT_EQ(profile.sums[b], static_cast<double>(units[b]) / 65536.0) << c.period << " " << trial << " " << b;
        ASSERT_EQ(profile.counts[b], counts[b]);
      }
    }
  }
}

TEST(PeriodSearchTest, BlockedAndThreadedTrialsEqualOneProfileAtATime) {
  const auto bytes = test::random_bytes(2 * 200000, 13);
  const FoldGeometry g = fold_geometry(2.4, 61, 0.7);
  const SubintSplit split{200000 / 61 * 61, 29};
  PowerMoments moments;
  const SubintTable table = fold_into_subints(bytes, g, split, moments, 65536);
  const auto periods = trial_periods(0.7, 0.003, 37);  // 37 trials: blocks of 8 and a remainder
  ChunkWorkers workers(2);
  for (ChunkWorkers* pool : {static_cast<ChunkWorkers*>(nullptr), &workers}) {
    const SearchResult result = search_periods(table, g, split, periods, moments.mean(), moments.variance(), pool);
    ASSERT_EQ(result.trials.size(), periods.size());
    for (std::size_t j = 0; j < periods.size(); ++j) {
      std::vector<std::int32_t> shifts;
      for (std::int64_t k = 0; k < split.subints; ++k) shifts.push_back(subint_shift(g, split, k, periods[j]));
      Profile profile;
      table.shifted_sum(shifts, profile);
      const ProfileStatistics want = profile_statistics(profile, moments.mean(), moments.variance());
      EXPECT_EQ(result.trials[j].period_ms, periods[j]);
      EXPECT_EQ(result.trials[j].statistics.chi2, want.chi2) << j;
      EXPECT_EQ(result.trials[j].statistics.peak_snr, want.peak_snr) << j;
      EXPECT_EQ(result.trials[j].statistics.dof, want.dof) << j;
    }
  }
}

TEST(PeriodSearchTest, NoiseMomentsOfTheFoldedSamples) {
  const auto bytes = test::random_bytes(2 * 200000, 4);
  const FoldGeometry g = fold_geometry(2.4, 50, 1.0);
  PowerMoments moments;
  fold_into_subints(bytes, g, {200000, 7}, moments, 65536);
  double mean = 0.0;
  for (std::size_t k = 0; k < bytes.size(); k += 2) mean += static_cast<double>(power_units(bytes[k], bytes[k + 1])) / 65536.0;
  mean /= 200000;
  double variance = 0.0;
  for (std::size_t k = 0; k < bytes.size(); k += 2) {
    const double d = static_cast<double>(power_units(bytes[k], bytes[k + 1])) / 65536.0 - mean;
    variance += d * d;
  }
  variance /= 200000;
  EXPECT_EQ(moments.samples(), 200000);
  EXPECT_NEAR(moments.mean(), mean, 1e-14 * mean);
  EXPECT_NEAR(moments.variance(), variance, 1e-12 * variance);
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
      table.sums(k)[b] = 1000.0;
    }
  }
  table.sums(0)[2] = 1500.0;
  table.sums(1)[3] = 1500.0;
  // Over +-10 % the first half's middle (sample 3999.5) drifts by less than half a bin, the
  // second's (11999.5) by -1, 0 or +1 bin: three distinct profiles, the last one aligned.
  const auto periods = trial_periods(8.0, 0.1, 401);
  const SearchResult result = search_periods(table, g, split, periods, 1.0, 1.0);
  EXPECT_EQ(result.distinct, 3);
  const auto& best = result.trials[result.best];
  EXPECT_EQ(subint_shift(g, split, 0, best.period_ms), 0);
  EXPECT_EQ(subint_shift(g, split, 1, best.period_ms), 1);
  EXPECT_EQ(result.best_profile.sums[2], 3000.0);
  // The best trial lies in the middle of the run of trials with these shifts.
  std::size_t first = result.best;
  while (first > 0 && subint_shift(g, split, 1, periods[first - 1]) == 1) --first;
  EXPECT_EQ(result.best, (first + periods.size() - 1) / 2);
  EXPECT_EQ(first, 287u);  // drift 11999.5 * f >= 0.5: f = 0.0417, 0.435 of the span
}

}  // namespace
}  // namespace iq
