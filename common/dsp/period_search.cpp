// SPDX-License-Identifier: MIT
// The sub-integrations of a period search, the shift-and-add of each trial and its statistics.
#include "dsp/period_search.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

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
        trials == 1 ? widen(0.0) : static_cast<extended>(2 * j - (trials - 1)) / static_cast<extended>(trials - 1);
    periods.push_back(
        static_cast<double>(static_cast<extended>(period_ms) * (1 + static_cast<extended>(span) * offset)));
  }
  return periods;
}

std::int64_t tree_slots(std::int64_t subints) {
  std::int64_t slots = 1;
  while (slots < subints) slots *= 2;
  return slots;
}

namespace {

// The drift of the phase in bins over `samples` samples at a trial period, to the nearest whole
// bin. Double suffices for the rounding: which way a drift of exactly half a bin goes is within
// the smear the search allows anyway.
std::int64_t rounded_drift(const FoldGeometry& geometry, extended samples, double trial_period_ms) {
  const auto trial = static_cast<extended>(trial_period_ms);
  const extended drift =
      samples * static_cast<extended>(geometry.res) * ((trial - static_cast<extended>(geometry.periodf)) / trial);
  return static_cast<std::int64_t>(std::nearbyint(static_cast<double>(drift)));
}

}  // namespace

TrialShift trial_shift(const FoldGeometry& geometry, const SubintSplit& split, double trial_period_ms) {
  const extended slot_length = static_cast<extended>(split.samples) / static_cast<extended>(split.subints);
  const auto slots = static_cast<extended>(tree_slots(split.subints));
  return {rounded_drift(geometry, split.middle(0), trial_period_ms),
          rounded_drift(geometry, slots * slot_length, trial_period_ms)};
}

std::vector<std::int64_t> tree_shifts(std::int64_t drift, std::int64_t slots) {
  std::vector<std::int64_t> shifts(static_cast<std::size_t>(slots), 0);
  int levels = 0;
  while ((std::int64_t{1} << levels) < slots) ++levels;
  // magnitude[l]: the drift of the groups of 2^l slots.
  std::vector<std::int64_t> magnitude(static_cast<std::size_t>(levels) + 1);
  magnitude[static_cast<std::size_t>(levels)] = drift < 0 ? -drift : drift;
  for (int l = levels - 1; l >= 0; --l) magnitude[l] = magnitude[l + 1] / 2;
  const std::int64_t sign = drift < 0 ? -1 : 1;
  for (int l = 0; l < levels; ++l) {
    const std::int64_t offset = magnitude[l + 1] - magnitude[l];
    const std::size_t half = std::size_t{1} << l;
    for (std::size_t i = 0; i < half; ++i) shifts[half + i] = shifts[i] + sign * offset;
  }
  return shifts;
}

std::vector<std::int32_t> trial_shifts(const FoldGeometry& geometry, const SubintSplit& split,
                                       double trial_period_ms) {
  const TrialShift trial = trial_shift(geometry, split, trial_period_ms);
  const std::vector<std::int64_t> tree = tree_shifts(trial.drift, tree_slots(split.subints));
  const std::int64_t bins = geometry.points;
  std::vector<std::int32_t> shifts(static_cast<std::size_t>(split.subints));
  for (std::size_t k = 0; k < shifts.size(); ++k) {
    shifts[k] = static_cast<std::int32_t>((((trial.offset + tree[k]) % bins) + bins) % bins);
  }
  return shifts;
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

std::span<const double> SubintTable::sums(std::int64_t k) const {
  return std::span(sums_).subspan(static_cast<std::size_t>(k) * bins_, static_cast<std::size_t>(bins_));
}

std::span<const std::int64_t> SubintTable::counts(std::int64_t k) const {
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

// Trials whose profiles are formed together by direct sums, sharing each row of the table while
// it is cached.
constexpr std::size_t kTrialBlock = 8;
// The rows of a group that the lower levels of a tree join while they stay in the cache.
constexpr std::size_t kCachedBytes = std::size_t{1} << 20;

std::int64_t modulo(std::int64_t value, std::int64_t bins) { return ((value % bins) + bins) % bins; }

// Calls task(c) for every c in [0, chunks), over the workers when there are any.
void share_out(ChunkWorkers* workers, std::size_t chunks, const std::function<void(std::size_t)>& task) {
  if (workers != nullptr) {
    workers->run(chunks, task);
  } else {
    for (std::size_t c = 0; c < chunks; ++c) task(c);
  }
}

// out[b] = left[b] + right[(b + shift) mod bins]; out may be left.
template <typename T>
void add_rolled(T* out, const T* left, const T* right, std::size_t shift, std::size_t bins) {
  const std::size_t tail = bins - shift;
  for (std::size_t b = 0; b < tail; ++b) out[b] = left[b] + right[b + shift];
  for (std::size_t b = tail; b < bins; ++b) out[b] = left[b] + right[b - tail];
}

// One band of a drift tree, built in place: drifts sign * (band * slots + i), i in
// [0, slots). At level l the groups of 2^l slots hold the drifts band * 2^l + i, i in [0, 2^l),
// each in one of the group's positions: where[l][i]. The join of two groups of n positions at
// child drift c leaves drift 2c in the left child's position and 2c + 1 in the right child's.
// A position's sums and counts live in a row of storage (row_of); a join writes the right
// child's new row into a spare one and swaps the two, so that no row is copied aside.
class DriftBand {
 public:
  DriftBand(const SubintTable& table, std::int64_t slots, std::size_t spares)
      : table_(table),
        bins_(static_cast<std::size_t>(table.bins())),
        slots_(slots),
        sums_(static_cast<std::size_t>(slots + static_cast<std::int64_t>(spares)) * bins_),
        counts_(sums_.size()),
        row_of_(static_cast<std::size_t>(slots)) {
    where_.push_back({0});
    while ((std::int64_t{1} << (levels_)) < slots) {
      const std::vector<std::int64_t>& child = where_.back();
      const auto n = static_cast<std::int64_t>(child.size());
      std::vector<std::int64_t> parent(2 * child.size());
      for (std::size_t r = 0; r < child.size(); ++r) {
        parent[2 * r] = child[r];
        parent[2 * r + 1] = n + child[r];
      }
      where_.push_back(std::move(parent));
      ++levels_;
    }
  }
  void build(std::int64_t sign, std::int64_t band, ChunkWorkers* workers) {
    sign_ = sign;
    band_ = band;
    for (std::int64_t k = 0; k < slots_; ++k) row_of_[static_cast<std::size_t>(k)] = k;
    spares_.clear();
    for (std::int64_t row = slots_; row < static_cast<std::int64_t>(sums_.size() / bins_); ++row)
      spares_.push_back(row);
    // The lower levels group by group while the group stays in the cache, copying the group's
    // sub-integrations first; then the upper levels one after the other over the whole tree.
    int cached = 0;
    while (cached < levels_ && (std::size_t{2} << cached) * bins_ * 16 <= kCachedBytes) ++cached;
    const std::int64_t group = std::int64_t{1} << cached;
    share_out(workers, static_cast<std::size_t>(slots_ / group), [&](std::size_t g) {
      const std::int64_t first = static_cast<std::int64_t>(g) * group;
      copy_rows(first, group);
      std::int64_t spare = take_spare();
      for (int level = 1; level <= cached; ++level) {
        const std::int64_t n = std::int64_t{1} << (level - 1);
        for (std::int64_t base = first; base < first + group; base += 2 * n) {
          for (std::int64_t r = 0; r < n; ++r) join(level, base, r, spare);
        }
      }
      give_spare(spare);
    });
    for (int level = cached + 1; level <= levels_; ++level) {
      const std::int64_t n = std::int64_t{1} << (level - 1);
      const std::int64_t joins = slots_ / 2;
      const std::int64_t chunks = std::min<std::int64_t>(joins, 64);
      share_out(workers, static_cast<std::size_t>(chunks), [&](std::size_t c) {
        std::int64_t spare = take_spare();
        const ItemRange range = share_of(joins, static_cast<std::int64_t>(c), chunks);
        for (std::int64_t i = range.begin; i < range.end; ++i) join(level, i / n * 2 * n, i % n, spare);
        give_spare(spare);
      });
    }
  }

  // The profile of drift sign * (band * slots + i) shifted by `offset` more bins.
  void profile(std::int64_t i, std::int64_t offset, Profile& out) const {
    const std::size_t row = at(where_.back()[static_cast<std::size_t>(i)]);
    const auto shift = static_cast<std::size_t>(modulo(offset, static_cast<std::int64_t>(bins_)));
    out.sums.resize(bins_);
    out.counts.resize(bins_);
    const std::size_t tail = bins_ - shift;
    std::copy(sums_.begin() + row + shift, sums_.begin() + row + bins_, out.sums.begin());
    std::copy(sums_.begin() + row, sums_.begin() + row + shift, out.sums.begin() + tail);
    std::copy(counts_.begin() + row + shift, counts_.begin() + row + bins_, out.counts.begin());
    std::copy(counts_.begin() + row, counts_.begin() + row + shift, out.counts.begin() + tail);
  }

 private:
  // The first cell of the row that holds position `position`.
  std::size_t at(std::int64_t position) const {
    return static_cast<std::size_t>(row_of_[static_cast<std::size_t>(position)]) * bins_;
  }

  std::int64_t take_spare() {
    const std::lock_guard lock(spare_mutex_);
    const std::int64_t row = spares_.back();
    spares_.pop_back();
    return row;
  }
  void give_spare(std::int64_t row) {
    const std::lock_guard lock(spare_mutex_);
    spares_.push_back(row);
  }

  // Positions first .. first + count - 1 from the table's sub-integrations, empty past the last.
  void copy_rows(std::int64_t first, std::int64_t count) {
    for (std::int64_t k = first; k < first + count; ++k) {
      const std::size_t row = at(k);
      if (k < table_.subints()) {
        const std::span<const double> sums = table_.sums(k);
        const std::span<const std::int64_t> counts = table_.counts(k);
        std::copy(sums.begin(), sums.end(), sums_.begin() + row);
        std::copy(counts.begin(), counts.end(), counts_.begin() + row);
      } else {
        std::fill_n(sums_.begin() + row, bins_, 0.0);
        std::fill_n(counts_.begin() + row, bins_, 0);
      }
    }
  }

  // Joins child drift r of the two groups of 2^(level - 1) slots starting at slot `base`.
  void join(int level, std::int64_t base, std::int64_t r, std::int64_t& spare) {
    const std::int64_t n = std::int64_t{1} << (level - 1);
    if (base >= table_.subints()) return;  // both groups empty, and every drift of them too
    const std::int64_t left_position =
        base + where_[static_cast<std::size_t>(level - 1)][static_cast<std::size_t>(r)];
    const std::int64_t right_position = left_position + n;
    double* left_sums = sums_.data() + at(left_position);
    std::int64_t* left_counts = counts_.data() + at(left_position);
    double* right_sums = sums_.data() + at(right_position);
    std::int64_t* right_counts = counts_.data() + at(right_position);
    if (base + n >= table_.subints()) {  // the right group is empty: both drifts are the left one
      std::copy_n(left_sums, bins_, right_sums);
      std::copy_n(left_counts, bins_, right_counts);
      return;
    }
    // Drift 2c shifts the right group by c, drift 2c + 1 by c + 1 (c = the child drift).
    const std::int64_t child = band_ * n + r;
    const auto bins = static_cast<std::int64_t>(bins_);
    const auto even_shift = static_cast<std::size_t>(modulo(sign_ * child, bins));
    const auto odd_shift = static_cast<std::size_t>(modulo(sign_ * (child + 1), bins));
    const std::size_t odd = static_cast<std::size_t>(spare) * bins_;
    add_rolled(sums_.data() + odd, left_sums, right_sums, odd_shift, bins_);
    add_rolled(counts_.data() + odd, left_counts, right_counts, odd_shift, bins_);
    add_rolled(left_sums, left_sums, right_sums, even_shift, bins_);
    add_rolled(left_counts, left_counts, right_counts, even_shift, bins_);
    std::swap(row_of_[static_cast<std::size_t>(right_position)], spare);
  }

  const SubintTable& table_;
  std::size_t bins_;
  std::int64_t slots_;
  int levels_ = 0;
  std::vector<std::vector<std::int64_t>> where_;
  std::vector<double> sums_;
  std::vector<std::int64_t> counts_;
  std::vector<std::int64_t> row_of_;
  std::vector<std::int64_t> spares_;
  std::mutex spare_mutex_;
  std::int64_t sign_ = 1;
  std::int64_t band_ = 0;
};

}  // namespace

namespace {

// Trials whose shifts are all equal have the same profile: only the first of each run (its
// representative) is formed. run_of[j]: the run of trial j.
void find_runs(const FoldGeometry& geometry, const SubintSplit& split, std::span<const double> periods_ms,
               std::vector<std::size_t>& representatives, std::vector<std::size_t>& run_of) {
  std::vector<std::int32_t> previous;
  for (std::size_t j = 0; j < periods_ms.size(); ++j) {
    std::vector<std::int32_t> shifts = trial_shifts(geometry, split, periods_ms[j]);
    if (j == 0 || shifts != previous) {
      representatives.push_back(j);
      previous = std::move(shifts);
    }
    run_of[j] = representatives.size() - 1;
  }
}

// What the evaluation of every band of a search reads.
struct SearchInputs {
  const SubintTable& table;
  const FoldGeometry& geometry;
  const SubintSplit& split;
  std::span<const double> periods_ms;  // of the representatives
  double mean;
  double variance;
  ChunkWorkers* workers;
};

// The statistics of the trials `members` of a band from their shifted sub-integrations added
// directly, kTrialBlock trials at a time.
void direct_statistics(const SearchInputs& in, const std::vector<std::size_t>& members,
                       std::vector<ProfileStatistics>& statistics) {
  const std::size_t blocks = (members.size() + kTrialBlock - 1) / kTrialBlock;
  share_out(in.workers, blocks, [&](std::size_t block) {
    const std::size_t first = block * kTrialBlock;
    const std::size_t count = std::min(kTrialBlock, members.size() - first);
    std::vector<std::int32_t> block_shifts;
    for (std::size_t m = first; m < first + count; ++m) {
      const auto shifts = trial_shifts(in.geometry, in.split, in.periods_ms[members[m]]);
      block_shifts.insert(block_shifts.end(), shifts.begin(), shifts.end());
    }
    std::vector<Profile> profiles(count);
    in.table.shifted_sums(block_shifts, profiles);
    for (std::size_t m = 0; m < count; ++m) {
      statistics[members[first + m]] = profile_statistics(profiles[m], in.mean, in.variance);
    }
  });
}

// The statistics of the trials `members` of band (sign, band) from the band's drift tree.
void tree_statistics(const SearchInputs& in, std::optional<DriftBand>& tree, std::int64_t sign, std::int64_t band,
                     const std::vector<std::size_t>& members, const std::vector<TrialShift>& trial,
                     std::vector<ProfileStatistics>& statistics) {
  const std::int64_t slots = tree_slots(in.table.subints());
  if (!tree) tree.emplace(in.table, slots, in.workers != nullptr ? in.workers->threads() : 1);
  tree->build(sign, band, in.workers);
  const std::size_t chunks = std::min<std::size_t>(members.size(), 64);
  share_out(in.workers, chunks, [&](std::size_t c) {
    Profile profile;
    const ItemRange range = share_of(static_cast<std::int64_t>(members.size()), static_cast<std::int64_t>(c),
                                     static_cast<std::int64_t>(chunks));
    for (std::int64_t m = range.begin; m < range.end; ++m) {
      const std::size_t t = members[static_cast<std::size_t>(m)];
      const std::int64_t magnitude = trial[t].drift < 0 ? -trial[t].drift : trial[t].drift;
      tree->profile(magnitude - band * slots, trial[t].offset, profile);
      statistics[t] = profile_statistics(profile, in.mean, in.variance);
    }
  });
}

// The statistics of every representative, band of drifts by band: a band with so few trials
// that its tree would cost more adds their shifted sub-integrations directly.
std::vector<ProfileStatistics> band_statistics(const SearchInputs& in) {
  // The representatives by band of drifts: (sign, band) -> indices into in.periods_ms.
  const std::int64_t slots = tree_slots(in.table.subints());
  std::vector<TrialShift> trial(in.periods_ms.size());
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::size_t>> bands;
  for (std::size_t t = 0; t < in.periods_ms.size(); ++t) {
    trial[t] = trial_shift(in.geometry, in.split, in.periods_ms[t]);
    const std::int64_t drift = trial[t].drift;
    bands[{drift < 0 ? -1 : 1, (drift < 0 ? -drift : drift) / slots}].push_back(t);
  }

  std::vector<ProfileStatistics> statistics(in.periods_ms.size());
  std::optional<DriftBand> tree;
  const auto levels = static_cast<std::int64_t>(std::bit_width(static_cast<std::uint64_t>(slots)) - 1);
  for (const auto& [key, members] : bands) {
    if (static_cast<std::int64_t>(members.size()) * in.table.subints() <= slots * levels) {
      direct_statistics(in, members, statistics);
    } else {
      tree_statistics(in, tree, key.first, key.second, members, trial, statistics);
    }
  }
  return statistics;
}

}  // namespace

SearchResult search_periods(const SubintTable& table, const FoldGeometry& geometry, const SubintSplit& split,
                            std::span<const double> periods_ms, double mean, double variance,
                            ChunkWorkers* workers) {
  std::vector<std::size_t> representatives;
  std::vector<std::size_t> run_of(periods_ms.size());
  find_runs(geometry, split, periods_ms, representatives, run_of);
  std::vector<double> representative_periods;
  for (const std::size_t j : representatives) representative_periods.push_back(periods_ms[j]);
  const std::vector<ProfileStatistics> statistics =
      band_statistics({table, geometry, split, representative_periods, mean, variance, workers});

  SearchResult result;
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
    const std::size_t best_run = run_of[result.best];
    result.best_at_edge = result.distinct > 1 && (best_run == run_of.front() || best_run == run_of.back());
    table.shifted_sum(trial_shifts(geometry, split, periods_ms[result.best]), result.best_profile);
  }
  return result;
}

}  // namespace iq
