// SPDX-License-Identifier: MIT
// A period search by sub-integrations: the capture is folded once at the nominal period into
// consecutive sub-integrations, and the profile at each trial period near it is the sum of the
// sub-integrations shifted by the whole number of bins that the pulse drifts by at that period.
// Each trial profile is compared with a flat one (chi-square) with the noise measured on the
// samples themselves.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "arith/precision.hpp"
#include "dsp/chunk_workers.hpp"
#include "dsp/fold_geometry.hpp"
#include "dsp/folding.hpp"

namespace iq {

// The most bins x sub-integrations (these rounded up to a power of two) a search holds: 4194304
// cells of a double sum and a 64-bit count, 64 MiB for the sub-integrations and as much for the
// drift tree.
inline constexpr std::int64_t kMaxSearchCells = std::int64_t{1} << 22;

// The noise of one sample's power, from the folds of all samples: their power sums and the
// sums of their squared powers (Folder with power_squares).
class PowerMoments {
 public:
  void add(const Folder& folder);
  std::int64_t samples() const { return samples_; }
  // Mean power per sample, and the variance of one sample's power about it.
  double mean() const;
  double variance() const;

 private:
  std::int64_t samples_ = 0;
  extended power_ = 0;         // sum of the powers
  extended square_units_ = 0;  // sum of the squared powers, in units of 2^-32
};

// Consecutive parts of the folded samples 0 .. samples - 1: part k holds the samples from
// first(k) to first(k + 1) - 1, as equal as whole samples allow.
struct SubintSplit {
  std::int64_t samples = 0;
  std::int64_t subints = 1;
  std::int64_t first(std::int64_t k) const { return (samples / subints) * k + (samples % subints) * k / subints; }
  // The middle of part k in samples (a half-sample for an even length).
  extended middle(std::int64_t k) const {
    return (static_cast<extended>(first(k)) + static_cast<extended>(first(k + 1) - 1)) / 2;
  }
};

// The bins by which the pulse drifts across one sub-integration at the edge of the span (the
// trial period furthest from the nominal one in drift rate: nominal / (1 - span)).
double edge_smear_bins(const FoldGeometry& geometry, const SubintSplit& split, double span);
// The fewest sub-integrations whose edge smear stays below one bin (at most `samples`).
std::int64_t default_subints(const FoldGeometry& geometry, std::int64_t samples, double span);

// The trial periods in ms: `trials` evenly spaced from period * (1 - span) to
// period * (1 + span) (the nominal period alone for one trial).
std::vector<double> trial_periods(double period_ms, double span, std::int64_t trials);

// How a trial period shifts the sub-integrations. The profiles of all trials come from a drift
// tree over `slots` = the least power of two >= subints (the slots past the last
// sub-integration are empty): sub-integration k is shifted by offset + tree_shifts(drift)[k]
// bins (modulo bins). The offset is the drift of the phase at the middle sample of
// sub-integration 0, middle(0) * res * (1 - nominal / trial), to the nearest whole bin; the
// drift is that across all slots at the mean sub-integration length,
// slots * (samples / subints) * res * (1 - nominal / trial), to the nearest whole bin.
struct TrialShift {
  std::int64_t offset = 0;
  std::int64_t drift = 0;
};
std::int64_t tree_slots(std::int64_t subints);
TrialShift trial_shift(const FoldGeometry& geometry, const SubintSplit& split, double trial_period_ms);

// The tree's shift of every slot for a drift, along the line of drift / slots bins per slot:
// with M_L = |drift| and M_l = M_(l+1) / 2 (rounded down) the drift of the groups of 2^l
// slots, the level that joins two groups of 2^l slots into one shifts the second by
// M_(l+1) - M_l; slot k is shifted by the sum over the levels whose bit k has, sign(drift)
// times. No slot strays from k * drift / slots by more than about 0.5 + log2(slots) / 6 bins
// (2.5 for 4096 slots; the straight shift-and-add of each trial would keep within 0.5).
std::vector<std::int64_t> tree_shifts(std::int64_t drift, std::int64_t slots);
// The shifts of a trial's sub-integrations, each 0 .. bins - 1.
std::vector<std::int32_t> trial_shifts(const FoldGeometry& geometry, const SubintSplit& split,
                                       double trial_period_ms);

// A trial's profile: per-bin sums and counts of the shifted sub-integrations.
struct Profile {
  std::vector<double> sums;
  std::vector<std::int64_t> counts;
};

// How far a profile is from flat, with the noise of one sample's power known.
struct ProfileStatistics {
  double chi2 = 0.0;          // sum over bins of count * (mean - overall mean)^2 / variance
  std::int32_t dof = 0;       // bins with samples, less one
  double reduced_chi2 = 0.0;  // chi2 / dof (0 without a degree of freedom)
  double peak_snr = 0.0;      // largest (mean - overall mean) / (sigma / sqrt(count))
  std::int32_t peak_bin = 0;
};
ProfileStatistics profile_statistics(const Profile& profile, double mean, double variance);

// The on-pulse window of a profile: from the peak bin outwards (wrapping round) while a bin's
// excess over the overall mean stays above half the peak's. Phases in turns, [first, last).
struct OnPulse {
  double first_phase = 0.0;
  double last_phase = 0.0;
  double peak_phase = 0.0;  // the middle of the peak bin
};
OnPulse on_pulse(const Profile& profile, double mean, std::int32_t peak_bin);

// The sub-integrations of one search: `subints` rows of `bins` sums and counts.
class SubintTable {
 public:
  SubintTable(std::int32_t bins, std::int64_t subints);
  std::span<double> sums(std::int64_t k);
  std::span<std::int64_t> counts(std::int64_t k);
  std::span<const double> sums(std::int64_t k) const;
  std::span<const std::int64_t> counts(std::int64_t k) const;
  std::int32_t bins() const { return bins_; }
  std::int64_t subints() const { return subints_; }

  // The profile with sub-integration k shifted by shifts[k] bins: its bin b takes the
  // sub-integration's bin (b + shifts[k]) mod bins.
  void shifted_sum(std::span<const std::int32_t> shifts, Profile& profile) const;
  // The same for several profiles at once, profile t with the shifts
  // shifts[t * subints() .. (t + 1) * subints() - 1]: each row of the table is read once for
  // all of them while it is in the cache. Every profile is added up in the same order as by
  // shifted_sum, so the sums are the same.
  void shifted_sums(std::span<const std::int32_t> shifts, std::span<Profile> profiles) const;

 private:
  std::int32_t bins_;
  std::int64_t subints_;
  std::vector<double> sums_;
  std::vector<std::int64_t> counts_;
};

// One line of the search table.
struct TrialResult {
  double period_ms = 0.0;
  ProfileStatistics statistics;
};

// Every trial of a search, and the best one.
struct SearchResult {
  std::vector<TrialResult> trials;
  std::size_t best = 0;       // the trial of largest chi2 (the middle one of a run of equal shifts)
  std::int64_t distinct = 0;  // trials whose shifts differ from the trial before
  // Whether, of trials that differ, the run of the best holds the first or the last: the
  // period may then lie outside the trials.
  bool best_at_edge = false;
  Profile best_profile;
};

// Evaluates every trial period against the sub-integrations with the shifts of trial_shifts:
// the trials whose drifts lie in one band of `slots` drifts share one drift tree, built in
// place on a copy of the table in log2(slots) levels, each level joining pairs of groups for
// every drift of the band. A band with so few trials that the tree would cost more adds their
// shifted sub-integrations directly. The work is shared out over `workers` when given; the
// results do not depend on it, nor on the way a profile is formed, as long as the sums are
// exact (whole multiples of 2^-16 below 2^37 in all).
SearchResult search_periods(const SubintTable& table, const FoldGeometry& geometry, const SubintSplit& split,
                            std::span<const double> periods_ms, double mean, double variance,
                            ChunkWorkers* workers = nullptr);

}  // namespace iq
