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
  const auto bins = static_cast<std::size_t>(bins_);
  profile.sums.assign(bins, 0.0);
  profile.counts.assign(bins, 0);
  double* out_sums = profile.sums.data();
  std::int64_t* out_counts = profile.counts.data();
  for (std::int64_t k = 0; k < subints_; ++k) {
    const double* row_sums = sums_.data() + static_cast<std::size_t>(k) * bins;
    const std::int64_t* row_counts = counts_.data() + static_cast<std::size_t>(k) * bins;
    const auto shift = static_cast<std::size_t>(shifts[static_cast<std::size_t>(k)]);
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

SearchResult search_periods(const SubintTable& table, const FoldGeometry& geometry,
                            const SubintSplit& split, std::span<const double> periods_ms,
                            double mean, double variance) {
  SearchResult result;
  const auto subints = static_cast<std::size_t>(table.subints());
  std::vector<std::int32_t> shifts(subints);
  std::vector<std::int32_t> previous;
  std::vector<std::size_t> run_start(periods_ms.size());
  std::vector<std::int32_t> best_shifts;
  Profile profile;
  ProfileStatistics stats;
  for (std::size_t j = 0; j < periods_ms.size(); ++j) {
    for (std::size_t k = 0; k < subints; ++k) {
      shifts[k] = subint_shift(geometry, split, static_cast<std::int64_t>(k), periods_ms[j]);
    }
    if (j == 0 || shifts != previous) {
      // Trials whose shifts are all equal have the same profile: it is formed once.
      table.shifted_sum(shifts, profile);
      stats = profile_statistics(profile, mean, variance);
      ++result.distinct;
      run_start[j] = j;
      previous = shifts;
    } else {
      run_start[j] = run_start[j - 1];
    }
    result.trials.push_back({periods_ms[j], stats});
    if (j == 0 || stats.chi2 > result.trials[result.best].statistics.chi2) {
      result.best = j;
      best_shifts = shifts;
    }
  }
  if (!periods_ms.empty()) {
    // The best profile holds for a run of trials; its middle is the best estimate of the period.
    std::size_t end = result.best + 1;
    while (end < periods_ms.size() && run_start[end] == run_start[result.best]) ++end;
    result.best = (run_start[result.best] + end - 1) / 2;
    table.shifted_sum(best_shifts, result.best_profile);
  }
  return result;
}

}  // namespace iq
