// SPDX-License-Identifier: MIT
// Averaged power spectrum of frames of N complex samples: each transformed, its squared
// magnitudes summed per bin, and the mean of each bin in table order, negative frequencies first.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "dsp/cache_line.hpp"
#include "dsp/chunk_workers.hpp"
#include "dsp/fft.hpp"
#include "dsp/fft_lanes.hpp"
#include "arith/precision.hpp"

namespace iq {

// The largest transform of the spectrum tables: iqspec's limit, which iqwaterfall shares so
// that each of its rows is a table iqspec can write.
inline constexpr std::int32_t kSpectrumMaxPoints = 131072;

// Per-bin sums of frame power (sum_dat), and the means the table shows (out_dat).
class SpectrumAccumulator {
 public:
  explicit SpectrumAccumulator(std::int32_t points);

  // sum_dat: adds |X_k|^2 of one transformed frame (2N doubles, real first) to bin k. Each
  // squared magnitude is rounded to single precision before it is added to the double sum.
  void add_frame(std::span<const double> frame);

  // The two halves of add_frame, for frames transformed side by side: the single-precision
  // power of every bin of one frame, and the addition of such powers to bins [first, last).
  static void frame_power(std::span<const double> frame, std::span<float> power);
  void add_power(std::span<const float> power, std::size_t first, std::size_t last);
  // Adds the powers of frames [first_lane, last_lane) of a group in lane layout (the power of
  // bin k of frame l at group[kFftLanes k + l]) to bins [first, last), frame by frame.
  void add_lane_powers(const float* group, std::size_t first_lane, std::size_t last_lane, std::size_t first,
                       std::size_t last);

  // The value of table line `line` (0 is bin -N/2, N - 1 is bin N/2 - 1) after `frames`
  // frames: the bin's sum rounded to single precision over the frame count rounded to single
  // precision, divided in extended precision.
  double line_mean(std::int32_t line, std::int64_t frames) const {
    const std::int32_t half = points_ / 2;
    const auto bin = static_cast<std::size_t>(line < half ? line + half : line - half);
    const auto sum_single = static_cast<float>(sums_[bin]);
    return static_cast<double>(static_cast<extended>(sum_single) / static_cast<float>(frames));
  }

  // Sets every sum back to zero, for the next spectrum of a series.
  void clear();

  const std::vector<double>& sums() const { return sums_; }
  std::int32_t points() const { return points_; }

 private:
  std::int32_t points_;
  std::vector<double> sums_;
};

// Transforms batches of frames side by side on worker threads and adds their powers to a
// SpectrumAccumulator. The caller fills a batch's bytes (2N per frame) however it reads them;
// powers reach every bin in frame order whatever the batch and thread counts, so any split of
// a run of frames into batches and spectra gives the sums of the plain frame-by-frame loop.
class SpectrumFrames {
 public:
  // The largest transform that takes the plain evaluation (dsp/fft_bound.hpp); larger ones prove
  // every butterfly. The bound grows as the square root of the points, and with it the share of
  // bins to redo: past 8192 points the proven butterflies are faster (measured on x86-64).
  static constexpr std::size_t kPlainMostPoints = 8192;
  // `frames`: how many frames the run will transform at most (fewer threads for a short run),
  // or a negative count when that is not known. threads: 0 means worker_thread_count().
  SpectrumFrames(std::int32_t points, std::int64_t frames, unsigned threads = 0);

  // The most frames one batch holds.
  std::size_t batch_frames() const { return batch_; }
  // Room for the bytes of `count` frames (count <= batch_frames()).
  std::span<std::uint8_t> bytes(std::size_t count) { return std::span(bytes_.data(), count * 2 * n_); }
  // Normalises and transforms the first `count` frames of the batch and keeps their powers.
  // With `fill`, each worker first has the bytes of its frames read: fill(first, bytes) puts
  // the bytes of the batch's frames from `first` on into `bytes` (whole frames).
  using FrameFill = std::function<void(std::size_t, std::span<std::uint8_t>)>;
  void transform(std::size_t count, const FrameFill& fill = {});
  // Adds the powers of the batch's frames [first, last) to `spectrum`, in frame order.
  void add(SpectrumAccumulator& spectrum, std::size_t first, std::size_t last);

  ChunkWorkers& workers() { return workers_; }

 private:
  std::size_t n_;
  FftPlan plan_;
  ChunkWorkers workers_;
  std::size_t batch_;
  std::size_t transform_shares_;
  std::vector<FftLaneWork> lane_work_;
  CacheLineBytes bytes_;  // read() fills it: a cache line apart, it is copied several times faster
  std::vector<std::vector<double>> frame_;  // per share: one frame, for frames the lanes do not take
  std::vector<std::vector<float>> frame_power_;
  std::vector<float> power_;  // groups of kFftLanes frames, each in lane layout
  // Whether the groups take the plain transform, proven frame by frame (transform_plain).
  bool plain_ = false;
  // Whether larger transforms take the proven vector butterflies rather than the x87 unit frame
  // by frame (dsp/fft_lanes.hpp, fft_vector_fused).
  bool proven_lanes_ = false;
  // Transforms the group of frames [first, last) of the batch one by one, powers to `power`.
  void transform_frames(std::size_t share, std::size_t first, std::size_t last, float* power);
  // Transforms a group of frames side by side in plain double arithmetic; the powers of a frame
  // not proven to be the defined ones are redone by transform_frames.
  void transform_plain(std::size_t share, std::size_t first, std::size_t count, float* power);
  // Unproven bins of a group redone one by one; more, and the group's frames are redone whole.
  static constexpr std::size_t kMostPointRedos = 16;
};

// Normalises 2N capture bytes into the frame layout the FFT takes (I real, Q imaginary).
void normalise_frame(std::span<const std::uint8_t> bytes, std::span<double> frame);

// The power of one bin, RN24(RN64(RN64(re re) + RN64(im im))), from double arithmetic where
// that is proven; false (power untouched) otherwise. Proof: with re and im zero or of a
// magnitude from 2^-500 to 2^500, m1 = RN53(re re), m2 = RN53(im im) and s = RN53(m1 + m2)
// carry relative errors of 2^-53 each, the extended value Y two of 2^-64, all terms being
// non-negative; so |Y - s| < 2^-51 (m1 + m2) <= 2^-51 (1 + 2^-52) s, and s - E and s + E,
// E = 2^-50 s, rounded to double still enclose Y. Where both round to the same single value
// (RN24 is monotonic), so does Y. One bin in about 2^26 is declined.
bool bin_power_double(double re, double im, float& power);

}  // namespace iq
