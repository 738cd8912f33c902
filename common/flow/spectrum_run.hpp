// SPDX-License-Identifier: MIT
// The averaged spectrum of a capture's frames, fed by the frame pump, and its table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dsp/spectrum.hpp"
#include "flow/frame_pump.hpp"
#include "io/capture_reader.hpp"
#include "io/output_file.hpp"

namespace iq {

// Takes a pump's frames into `batches`, which reads them through the fill on its workers and
// transforms them; then add(count) puts the powers of the batch's frames [0, count) where they
// belong (batches.add). With `limit`, no batch holds more frames than limit() says.
class SpectrumFeed final : public FrameConsumer {
 public:
  SpectrumFeed(SpectrumFrames& batches, std::function<void(std::size_t)> add,
               std::function<std::int64_t()> limit = {})
      : batches_(batches), add_(std::move(add)), limit_(std::move(limit)) {}

  std::size_t batch_frames() override;
  std::span<std::uint8_t> room(std::size_t count) override { return batches_.bytes(count); }
  void take(std::size_t count, const FrameFill& fill) override;
  bool reads_through_fill() const override { return true; }

 private:
  SpectrumFrames& batches_;
  std::function<void(std::size_t)> add_;
  std::function<std::int64_t()> limit_;
};

// Reads `frames` consecutive frames of N complex samples from `capture` (bytes past the end
// read as 255), transforms each with the forward FFT and accumulates its power. Frames are
// read (where the input can seek) and transformed on `threads` workers (default:
// worker_thread_count()); the powers are still added to every bin in frame order, so the result
// does not depend on the thread count.
SpectrumAccumulator accumulate_spectrum(CaptureReader& capture, std::int32_t points, std::int64_t frames,
                                        unsigned threads = 0);

// out_dat: writes N lines "%ld    %3.3f\n" from bin -N/2 to N/2 - 1, each the bin's line_mean.
void write_spectrum_table(OutputFile& table, const SpectrumAccumulator& spectrum, std::int64_t frames);
// How a spectrum line prints its value: "%3.3f" as iqspec does, or "%.17g", every digit of the
// double, for the tables that keep a weak capture's powers whole.
enum class SpectrumDigits { kThreeDecimals, kAll };
// The lines [first, last) of that table (line 0 is bin -N/2), appended to `text`.
void append_spectrum_lines(std::string& text, const SpectrumAccumulator& spectrum, std::int64_t frames,
                           std::int32_t first, std::int32_t last,
                           SpectrumDigits digits = SpectrumDigits::kThreeDecimals);

}  // namespace iq
