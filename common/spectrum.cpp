// Averaged power spectrum: accumulation and table.
#include "spectrum.hpp"

#include "capture_format.hpp"
#include "fft.hpp"
#include "precision.hpp"
#include "text_format.hpp"

namespace iq {

SpectrumAccumulator::SpectrumAccumulator(std::int32_t points)
    : points_(points), sums_(static_cast<std::size_t>(points), 0.0) {}

void SpectrumAccumulator::add_frame(std::span<const double> frame) {
  for (std::size_t k = 0; k < sums_.size(); ++k) {
    const extended re = frame[2 * k];
    const extended im = frame[2 * k + 1];
    const float power = static_cast<float>(re * re + im * im);
    sums_[k] = static_cast<double>(static_cast<extended>(sums_[k]) + power);
  }
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
                                        std::int64_t frames) {
  SpectrumAccumulator spectrum(points);
  const FftPlan plan(points, -1);
  std::vector<std::uint8_t> bytes(2 * static_cast<std::size_t>(points));
  std::vector<double> frame(bytes.size());
  for (std::int64_t f = 0; f < frames; ++f) {
    capture.read(bytes);
    normalise_frame(bytes, frame);
    plan.transform(frame.data());
    spectrum.add_frame(frame);
  }
  return spectrum;
}

}  // namespace iq
