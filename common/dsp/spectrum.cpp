// SPDX-License-Identifier: MIT
// Averaged power spectrum: accumulation and the batches transformed side by side.
#include "dsp/spectrum.hpp"

#include <algorithm>
#include <bit>

#include "dsp/capture_format.hpp"
#include "dsp/spectrum_power.hpp"
#include "dsp/fft.hpp"
#include "dsp/fft_bound.hpp"
#include "arith/extended_sum.hpp"
#include "arith/precision.hpp"
#include "dsp/chunk_workers.hpp"

namespace iq {

SpectrumAccumulator::SpectrumAccumulator(std::int32_t points)
    : points_(points), sums_(static_cast<std::size_t>(points), 0.0) {}

bool bin_power_double(double re, double im, float& power) {
  constexpr std::uint64_t kMagnitude = 0x7fffffffffffffffu;
  constexpr auto kLeast = std::bit_cast<std::uint64_t>(0x1p-500);
  constexpr auto kMost = std::bit_cast<std::uint64_t>(0x1p500);
  const std::uint64_t re_bits = std::bit_cast<std::uint64_t>(re) & kMagnitude;
  const std::uint64_t im_bits = std::bit_cast<std::uint64_t>(im) & kMagnitude;
  // Bits minus one: zero wraps to the top and passes the lower limit.
  if (re_bits - 1 < kLeast - 1 || im_bits - 1 < kLeast - 1 || re_bits > kMost || im_bits > kMost) return false;
  const double s = re * re + im * im;
  const double bound = s * 0x1p-50;
  const auto below = std::bit_cast<std::uint32_t>(static_cast<float>(s - bound));
  const auto above = std::bit_cast<std::uint32_t>(static_cast<float>(s + bound));
  if (below != above) return false;
  power = std::bit_cast<float>(below);
  return true;
}

void SpectrumAccumulator::frame_power(std::span<const double> frame, std::span<float> power) {
  frame_power_fastest(frame.data(), power.data(), power.size());
}

void SpectrumAccumulator::add_power(std::span<const float> power, std::size_t first, std::size_t last) {
  for (std::size_t k = first; k < last; ++k) {
    if constexpr (kHardwareExtended) {
      sums_[k] = static_cast<double>(static_cast<extended>(sums_[k]) + power[k]);
    } else {
      sums_[k] = add_extended(sums_[k], power[k]);  // the same sum, proven in double
    }
  }
}

void SpectrumAccumulator::add_lane_powers(const float* group, std::size_t first_lane, std::size_t last_lane,
                                          std::size_t first, std::size_t last) {
  // Frame by frame through the bins: the bins' sums are independent, so their additions overlap.
  for (std::size_t l = first_lane; l < last_lane; ++l) {
    for (std::size_t k = first; k < last; ++k) {
      const float power = group[kFftLanes * k + l];
      if constexpr (kHardwareExtended) {
        sums_[k] = static_cast<double>(static_cast<extended>(sums_[k]) + power);
      } else {
        sums_[k] = add_extended(sums_[k], power);  // the same sum, proven in double
      }
    }
  }
}

void SpectrumAccumulator::add_frame(std::span<const double> frame) {
  std::vector<float> power(sums_.size());
  frame_power(frame, power);
  add_power(power, 0, power.size());
}

void SpectrumAccumulator::clear() { std::fill(sums_.begin(), sums_.end(), 0.0); }

void normalise_frame(std::span<const std::uint8_t> bytes, std::span<double> frame) {
  for (std::size_t k = 0; k < bytes.size(); ++k) frame[k] = kNormalisedCu8[bytes[k]];
}

namespace {

// No more threads than frames when the run's length is known.
unsigned thread_count(std::int64_t frames, unsigned threads) {
  return frames < 0 ? threads : static_cast<unsigned>(std::clamp<std::int64_t>(frames, 1, threads));
}

}  // namespace

SpectrumFrames::SpectrumFrames(std::int32_t points, std::int64_t frames, unsigned threads)
    : n_(static_cast<std::size_t>(points)),
      plan_(points, -1),
      workers_(thread_count(frames, threads > 0 ? threads : worker_thread_count())) {
  // kFftLanes frames at least per thread, and about a mebibyte of capture bytes per batch.
  constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
  batch_ = std::max<std::size_t>(kFftLanes * workers_.threads(), kBatchBytes / (2 * n_));
  transform_shares_ = std::min<std::size_t>((batch_ + kFftLanes - 1) / kFftLanes, 2 * workers_.threads());
  lane_work_.resize(transform_shares_);
  bytes_.resize(batch_ * 2 * n_);
  frame_.assign(transform_shares_, std::vector<double>(2 * n_));
  frame_power_.assign(transform_shares_, std::vector<float>(n_));
  power_.resize((batch_ + kFftLanes - 1) / kFftLanes * kFftLanes * n_);
  plain_ = plan_.lanes_serve_bytes() && n_ <= kPlainMostPoints;
  proven_lanes_ = plan_.lanes_serve_bytes() && (!kHardwareExtended || fft_vector_fused());
}

void SpectrumFrames::transform_frames(std::size_t share, std::size_t first, std::size_t last, float* power) {
  const std::size_t n = n_;
  std::vector<double>& frame = frame_[share];
  std::vector<float>& frame_power = frame_power_[share];
  for (std::size_t f = first; f < last; ++f) {
    normalise_frame(std::span(bytes_.data() + f * 2 * n, 2 * n), frame);
    plan_.transform(frame.data());
    SpectrumAccumulator::frame_power(frame, frame_power);
    for (std::size_t k = 0; k < n; ++k) power[kFftLanes * k + f - first] = frame_power[k];
  }
}

void SpectrumFrames::transform_plain(std::size_t share, std::size_t first, std::size_t count, float* power) {
  double norms[kFftLanes];
  const std::uint8_t* bytes = bytes_.data() + first * 2 * n_;
  const double* data = plan_.transform_bytes_plain(bytes, 2 * n_, count, lane_work_[share], norms);
  double distance[kFftLanes] = {};
  for (std::size_t l = 0; l < count; ++l) distance[l] = plan_.plain_bound(norms[l]);
  std::uint32_t unproven[kMostPointRedos];
  const std::size_t found = lane_power_near(data, n_, count, distance, power, unproven, kMostPointRedos);
  if (found == 0) return;
  // A bin too near a rounding boundary of single precision is redone exactly: alone, through the
  // butterflies it depends on, or with its whole frame when its frame has many such bins.
  if (found > kMostPointRedos) {
    // The list is cut short: any frame of the group may have more.
    for (std::size_t l = 0; l < count; ++l) transform_frames(share, first + l, first + l + 1, power + l);
    return;
  }
  for (std::size_t i = 0; i < found; ++i) {
    const std::size_t k = unproven[i] / kFftLanes;
    const std::size_t l = unproven[i] % kFftLanes;
    const auto [re, im] = plan_.transform_bytes_point(bytes + l * 2 * n_, k, frame_[share]);
    const double bin[2] = {re, im};
    frame_power_extended(bin, power + unproven[i], 1);
  }
}

void SpectrumFrames::transform(std::size_t count, const FrameFill& fill) {
  const std::size_t n = n_;
  const auto groups = static_cast<std::int64_t>((count + kFftLanes - 1) / kFftLanes);
  // kFftLanes frames at a time side by side, in shares that each keep their own lane work space.
  workers_.run(transform_shares_, [&](std::size_t c) {
    const ItemRange share =
        share_of(groups, static_cast<std::int64_t>(c), static_cast<std::int64_t>(transform_shares_));
    for (auto g = static_cast<std::size_t>(share.begin); g < static_cast<std::size_t>(share.end); ++g) {
      const std::size_t first = g * kFftLanes;
      const std::size_t last = std::min(count, first + kFftLanes);
      float* power = power_.data() + first * n;
      const std::uint8_t* group[kFftLanes];
      if (fill) fill(first, std::span(bytes_.data() + first * 2 * n, (last - first) * 2 * n));
      for (std::size_t f = first; f < last; ++f) group[f - first] = bytes_.data() + f * 2 * n;
      if (plain_) {
        transform_plain(c, first, last - first, power);
        continue;
      }
      const auto frames = std::span(group, last - first);
      const double* data = proven_lanes_ ? plan_.transform_bytes_lanes(frames, lane_work_[c]) : nullptr;
      if (data != nullptr) {
        lane_power_fastest(data, n, power);
      } else {
        transform_frames(c, first, last, power);
      }
    }
  });
}

void SpectrumFrames::add(SpectrumAccumulator& spectrum, std::size_t first, std::size_t last) {
  // Each thread takes a range of bins through all the frames, so every bin sums in frame order.
  const unsigned shares = workers_.threads();
  workers_.run(shares, [&](std::size_t c) {
    const ItemRange bins = share_of(static_cast<std::int64_t>(n_), static_cast<std::int64_t>(c), shares);
    for (std::size_t f = first; f < last;) {
      const std::size_t group = f / kFftLanes;
      const std::size_t end = std::min(last, (group + 1) * kFftLanes);
      spectrum.add_lane_powers(power_.data() + group * kFftLanes * n_, f - group * kFftLanes,
                               end - group * kFftLanes, static_cast<std::size_t>(bins.begin),
                               static_cast<std::size_t>(bins.end));
      f = end;
    }
  });
}

}  // namespace iq
