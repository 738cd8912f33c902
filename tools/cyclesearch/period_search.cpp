// The sub-integrations of a period search, the shift-and-add of each trial and its statistics.
#include "period_search.hpp"

#include <algorithm>
#include <cmath>

namespace iq {

namespace {

constexpr double kUnitsPerPower = 65536.0;

}  // namespace

void PowerMoments::add(const Folder& folder) {
  samples_ += folder.folded();
  for (const double sum : folder.sums()) power_ += static_cast<extended>(sum);
  square_units_ += folder.power_square_units();
}

double PowerMoments::mean() const {
  if (samples_ == 0) return 0.0;
  return static_cast<double>(power_ / static_cast<extended>(samples_));
}

double PowerMoments::variance() const {
  if (samples_ == 0) return 0.0;
  const auto n = static_cast<extended>(samples_);
  const extended mean_power = power_ / n;
  const extended mean_square = square_units_ / n / (widen(kUnitsPerPower) * widen(kUnitsPerPower));
  return static_cast<double>(mean_square - mean_power * mean_power);
}

double edge_smear_bins(const FoldGeometry& geometry, const SubintSplit& split, double span) {
  const std::int64_t longest = (split.samples + split.subints - 1) / split.subints;
  return static_cast<double>(longest) * geometry.res * span / (1.0 - span);
}

std::int64_t default_subints(const FoldGeometry& geometry, std::int64_t samples, double span) {
  if (samples < 1) return 1;
  const double estimate = std::floor(static_cast<double>(samples) * geometry.res * span / (1.0 - span)) + 1.0;
  auto subints = static_cast<std::int64_t>(std::min(estimate, static_cast<double>(samples)));
  while (subints < samples && edge_smear_bins(geometry, {samples, subints}, span) >= 1.0) ++subints;
  return subints;
}

std::vector<double> trial_periods(double period_ms, double span, std::int64_t trials) {
  std::vector<double> periods;
  periods.reserve(static_cast<std::size_t>(trials));
  for (std::int64_t j = 0; j < trials; ++j) {
    const extended offset =
        trials == 1 ? widen(0.0)
                    : static_cast<extended>(2 * j - (trials - 1)) / static_cast<extended>(trials - 1);
    periods.push_back(static_cast<double>(static_cast<extended>(period_ms) *
                                          (1 + static_cast<extended>(span) * offset)));
  }
  return periods;
}

std::int32_t subint_shift(const FoldGeometry& geometry, const SubintSplit& split, std::int64_t k,
                          double trial_period_ms) {
  const auto trial = static_cast<extended>(trial_period_ms);
  const extended drift = split.middle(k) * static_cast<extended>(geometry.res) *
                         ((trial - static_cast<extended>(geometry.periodf)) / trial);
  // Double suffices for the rounding: the shift is a whole number of bins, and which way a
  // drift of exactly half a bin goes is within the smear the search allows anyway.
  const auto whole = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(drift)));
  const std::int64_t bins = geometry.points;
  return static_cast<std::int32_t>(((whole % bins) + bins) % bins);
}

ProfileStatistics profile_statistics(const Profile& profile, double mean, double variance) {
  ProfileStatistics stats;
  std::int32_t filled = 0;
  bool first = true;
  for (std::size_t b = 0; b < profile.sums.size(); ++b) {
    const auto count = static_cast<double>(profile.counts[b]);
    if (count == 0.0) continue;
    ++filled;
    const double excess = profile.sums[b] - count * mean;
    const double noise = count * variance;
    const double chi = noise > 0.0 ? excess / std::sqrt(noise) : 0.0;
    stats.chi2 += chi * chi;
    if (first || chi > stats.peak_snr) {
      stats.peak_snr = chi;
      stats.peak_bin = static_cast<std::int32_t>(b);
      first = false;
    }
  }
  stats.dof = std::max(filled - 1, 0);
  stats.reduced_chi2 = stats.dof > 0 ? stats.chi2 / stats.dof : 0.0;
  return stats;
}

OnPulse on_pulse(const Profile& profile, double mean, std::int32_t peak_bin) {
  const auto bins = static_cast<std::int64_t>(profile.sums.size());
  const auto excess = [&](std::int64_t b) {
    const auto i = static_cast<std::size_t>(((b % bins) + bins) % bins);
    const auto count = static_cast<double>(profile.counts[i]);
    return count > 0.0 ? profile.sums[i] / count - mean : -INFINITY;
  };
  const double half = excess(peak_bin) / 2.0;
  std::int64_t first = peak_bin;
  std::int64_t last = peak_bin;
  while (last - first + 1 < bins && excess(first - 1) > half) --first;
  while (last - first + 1 < bins && excess(last + 1) > half) ++last;
  OnPulse window;
  const std::int64_t first_bin = ((first % bins) + bins) % bins;
  window.first_phase = static_cast<double>(first_bin) / static_cast<double>(bins);
  window.last_phase = static_cast<double>(first_bin + (last - first + 1)) / static_cast<double>(bins);
  window.peak_phase = (peak_bin + 0.5) / static_cast<double>(bins);
  return window;
}

SubintTable::SubintTable(std::int32_t bins, std::int64_t subints)
    : bins_(bins),
      subints_(subints),
      sums_(static_cast<std::size_t>(bins) * static_cast<std::size_t>(subints), 0.0),
      counts_(sums_.size(), 0) {}

std::span<double> SubintTable::sums(std::int64_t k) {
  return std::span(sums_).subspan(static_cast<std::size_t>(k) * bins_, static_cast<std::size_t>(bins_));
}

std::span<std::int64_t> SubintTable::counts(std::int64_t k) {
  return std::span(counts_).subspan(static_cast<std::size_t>(k) * bins_, static_cast<std::size_t>(bins_));
}

void SubintTable::shifted_sum(std::span<const std::int32_t> shifts, Profile& profile) const {
  shifted_sums(shifts, std::span(&profile, 1));
}

void SubintTable::shifted_sums(std::span<const std::int32_t> shifts, std::span<Profile> profiles) const {
  const auto bins = static_cast<std::size_t>(bins_);
  const auto subints = static_cast<std::size_t>(subints_);
  for (Profile& profile : profiles) {
    profile.sums.assign(bins, 0.0);
    profile.counts.assign(bins, 0);
  }
  for (std::size_t k = 0; k < subints; ++k) {
    const double* row_sums = sums_.data() + k * bins;
    const std::int64_t* row_counts = counts_.data() + k * bins;
    for (std::size_t t = 0; t < profiles.size(); ++t) {
      double* out_sums = profiles[t].sums.data();
      std::int64_t* out_counts = profiles[t].counts.data();
      const auto shift = static_cast<std::size_t>(shifts[t * subints + k]);
      // Bin b takes the row's bin b + shift: the row's tail first, then its head wrapped round.
      const std::size_t tail = bins - shift;
      for (std::size_t b = 0; b < tail; ++b) {
        out_sums[b] += row_sums[b + shift];
        out_counts[b] += row_counts[b + shift];
      }
      for (std::size_t b = tail; b < bins; ++b) {
        out_sums[b] += row_sums[b - tail];
        out_counts[b] += row_counts[b - tail];
      }
    }
  }
}

namespace {

// Trials whose profiles are formed together, sharing each row of the table while it is cached.
constexpr std::size_t kTrialBlock = 8;

void fill_shifts(const FoldGeometry& geometry, const SubintSplit& split, double period_ms,
                 std::span<std::int32_t> shifts) {
  for (std::size_t k = 0; k < shifts.size(); ++k) {
    shifts[k] = subint_shift(geometry, split, static_cast<std::int64_t>(k), period_ms);
  }
}

}  // namespace

SearchResult search_periods(const SubintTable& table, const FoldGeometry& geometry,
                            const SubintSplit& split, std::span<const double> periods_ms,
                            double mean, double variance, ChunkWorkers* workers) {
  SearchResult result;
  const auto subints = static_cast<std::size_t>(table.subints());
  // Trials whose shifts are all equal have the same profile: only the first of each run (its
  // representative) is formed.
  std::vector<std::size_t> representatives;
  std::vector<std::size_t> run_of(periods_ms.size());
  std::vector<std::int32_t> shifts(subints);
  std::vector<std::int32_t> previous;
  for (std::size_t j = 0; j < periods_ms.size(); ++j) {
    fill_shifts(geometry, split, periods_ms[j], shifts);
    if (j == 0 || shifts != previous) {
      representatives.push_back(j);
      previous = shifts;
    }
    run_of[j] = representatives.size() - 1;
  }
  std::vector<ProfileStatistics> statistics(representatives.size());
  const std::size_t blocks = (representatives.size() + kTrialBlock - 1) / kTrialBlock;
  const auto block_task = [&](std::size_t block) {
    const std::size_t first = block * kTrialBlock;
    const std::size_t count = std::min(kTrialBlock, representatives.size() - first);
    std::vector<std::int32_t> block_shifts(count * subints);
    for (std::size_t t = 0; t < count; ++t) {
      fill_shifts(geometry, split, periods_ms[representatives[first + t]],
                  std::span(block_shifts).subspan(t * subints, subints));
    }
    std::vector<Profile> profiles(count);
    table.shifted_sums(block_shifts, profiles);
    for (std::size_t t = 0; t < count; ++t) statistics[first + t] = profile_statistics(profiles[t], mean, variance);
  };
  if (workers != nullptr) {
    workers->run(blocks, block_task);
  } else {
    for (std::size_t block = 0; block < blocks; ++block) block_task(block);
  }

  result.distinct = static_cast<std::int64_t>(representatives.size());
  for (std::size_t j = 0; j < periods_ms.size(); ++j) {
    result.trials.push_back({periods_ms[j], statistics[run_of[j]]});
    if (j == 0 || result.trials[j].statistics.chi2 > result.trials[result.best].statistics.chi2) result.best = j;
  }
  if (!periods_ms.empty()) {
    // The best profile holds for a run of trials; its middle is the best estimate of the period.
    std::size_t end = result.best + 1;
    while (end < periods_ms.size() && run_of[end] == run_of[result.best]) ++end;
    result.best = (representatives[run_of[result.best]] + end - 1) / 2;
    fill_shifts(geometry, split, periods_ms[result.best], shifts);
    table.shifted_sum(shifts, result.best_profile);
  }
  return result;
}

}  // namespace iq
