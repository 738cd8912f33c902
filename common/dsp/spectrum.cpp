// Averaged power spectrum: accumulation and table.
#include "dsp/spectrum.hpp"

#include <algorithm>

#include "io/capture_format.hpp"
#include "dsp/fft.hpp"
#include "dsp/spectrum_power.hpp"
#include "arith/precision.hpp"
#include "io/text_format.hpp"
#include "dsp/chunk_workers.hpp"

namespace iq {

SpectrumAccumulator::SpectrumAccumulator(std::int32_t points)
    : points_(points), sums_(static_cast<std::size_t>(points), 0.0) {}

void SpectrumAccumulator::frame_power(std::span<const double> frame, std::span<float> power) {
  frame_power_fastest(frame.data(), power.data(), power.size());
}

void SpectrumAccumulator::add_power(std::span<const float> power, std::size_t first, std::size_t last) {
  for (std::size_t k = first; k < last; ++k) {
    sums_[k] = static_cast<double>(static_cast<extended>(sums_[k]) + power[k]);
  }
}

void SpectrumAccumulator::add_frame(std::span<const double> frame) {
  std::vector<float> power(sums_.size());
  frame_power(frame, power);
  add_power(power, 0, power.size());
}

void SpectrumAccumulator::write_table(OutputFile& table, std::int64_t frames) const {
  const std::int32_t half = points_ / 2;
  const auto frames_single = static_cast<float>(frames);
  std::string lines;
  for (std::int32_t i = 0; i < points_; ++i) {
    const std::size_t bin = static_cast<std::size_t>(i < half ? i + half : i - half);
    const auto sum_single = static_cast<float>(sums_[bin]);
    const auto value = static_cast<double>(static_cast<extended>(sum_single) / frames_single);
    lines += cformat("%ld    %3.3f\n", static_cast<long>(i - half), value);
    if (lines.size() > (1u << 16)) {
      table.write(lines);
      lines.clear();
    }
  }
  table.write(lines);
}

void normalise_frame(std::span<const std::uint8_t> bytes, std::span<double> frame) {
  for (std::size_t k = 0; k < bytes.size(); ++k) frame[k] = kNormalisedCu8[bytes[k]];
}

SpectrumAccumulator accumulate_spectrum(CaptureReader& capture, std::int32_t points,
                                        std::int64_t frames, unsigned threads) {
  SpectrumAccumulator spectrum(points);
  if (frames <= 0) return spectrum;
  const FftPlan plan(points, -1);
  const auto n = static_cast<std::size_t>(points);
  ChunkWorkers workers(static_cast<unsigned>(
      std::min<std::int64_t>(frames, threads > 0 ? threads : worker_thread_count())));
  // A batch of frames is read, transformed side by side (kFftLanes at a time, in shares that
  // each keep their own lane work space), then added bin range by bin range.
  constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
  const std::size_t batch = std::max<std::size_t>(kFftLanes * workers.threads(), kBatchBytes / (2 * n));
  const std::size_t transform_shares = std::min<std::size_t>((batch + kFftLanes - 1) / kFftLanes, 2 * workers.threads());
  std::vector<FftLaneWork> lane_work(transform_shares);
  std::vector<std::uint8_t> bytes(batch * 2 * n);
  std::vector<double> frame(batch * 2 * n);
  std::vector<float> power(batch * n);
  for (std::int64_t done = 0; done < frames;) {
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(frames - done, static_cast<std::int64_t>(batch)));
    capture.read(std::span(bytes.data(), count * 2 * n));
    const auto groups = static_cast<std::int64_t>((count + kFftLanes - 1) / kFftLanes);
    workers.run(transform_shares, [&](std::size_t c) {
      const ItemRange share = share_of(groups, static_cast<std::int64_t>(c), static_cast<std::int64_t>(transform_shares));
      for (auto g = static_cast<std::size_t>(share.begin); g < static_cast<std::size_t>(share.end); ++g) {
        const std::size_t first = g * kFftLanes;
        const std::size_t last = std::min(count, first + kFftLanes);
        double* group[kFftLanes];
        for (std::size_t f = first; f < last; ++f) {
          group[f - first] = frame.data() + f * 2 * n;
          normalise_frame(std::span(bytes.data() + f * 2 * n, 2 * n), std::span(group[f - first], 2 * n));
        }
        plan.transform_lanes(std::span(group, last - first), lane_work[c]);
        for (std::size_t f = first; f < last; ++f) {
          SpectrumAccumulator::frame_power(std::span(frame.data() + f * 2 * n, 2 * n),
                                           std::span(power.data() + f * n, n));
        }
      }
    });
    const unsigned shares = workers.threads();
    workers.run(shares, [&](std::size_t c) {
      const ItemRange bins = share_of(points, static_cast<std::int64_t>(c), shares);
      for (std::size_t f = 0; f < count; ++f) {
        spectrum.add_power(std::span(power.data() + f * n, n), static_cast<std::size_t>(bins.begin),
                           static_cast<std::size_t>(bins.end));
      }
    });
    done += static_cast<std::int64_t>(count);
  }
  return spectrum;
}

}  // namespace iq
