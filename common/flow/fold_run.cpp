// SPDX-License-Identifier: MIT
// Folding a capture: the pump's samples in chunks, and the profile table.
#include "flow/fold_run.hpp"

#include <string>
#include <vector>

#include "flow/frame_pump.hpp"
#include "io/read_buffer.hpp"
#include "io/text_format.hpp"

namespace iq {

namespace {

// Takes samples (frames of one complex sample) a chunk at a time into a Folder.
class FoldFeed final : public FrameConsumer {
 public:
  explicit FoldFeed(Folder& folder) : folder_(folder) {}
  std::size_t batch_frames() override { return kChunkSamples; }
  std::span<std::uint8_t> room(std::size_t count) override {
    chunk_.resize(2 * count);
    return chunk_;
  }
  void take(std::size_t count, const FrameFill&) override {
    folder_.fold_samples(std::span(chunk_).first(2 * count));
  }

 private:
  static constexpr std::size_t kChunkSamples = std::size_t{1} << 16;
  Folder& folder_;
  ReadBuffer chunk_;
};

}  // namespace

void fold_capture(Folder& folder, CaptureReader& capture, std::int64_t samples) {
  FoldFeed feed(folder);
  pump_frames(capture, 2, samples, feed);
}

void write_fold_table(OutputFile& table, std::span<const double> sums, std::span<const std::int64_t> counts) {
  std::string lines;
  for (std::size_t i = 0; i < sums.size(); ++i) {
    lines += cformat("%ld    %3.5f   %lld\n", static_cast<long>(i), fold_mean(sums[i], counts[i]),
                     static_cast<long long>(counts[i]));
    if (lines.size() > (1u << 16)) {
      table.write(lines);
      lines.clear();
    }
  }
  table.write(lines);
}

}  // namespace iq
