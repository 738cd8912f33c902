// SPDX-License-Identifier: MIT
// Video points of a capture: the pump's samples into the point sums.
#include "flow/video_points.hpp"

#include "flow/frame_pump.hpp"

namespace iq {

namespace {

constexpr std::size_t kChunkSamples = std::size_t{1} << 15;

// Takes samples (frames of one complex sample) a chunk at a time into the point sums.
class PointFeed final : public FrameConsumer {
 public:
  PointFeed(VideoPointSums& sums, ReadBuffer& chunk, std::span<double> values)
      : sums_(sums), chunk_(chunk), values_(values) {}
  std::size_t batch_frames() override { return kChunkSamples; }
  std::span<std::uint8_t> room(std::size_t count) override { return std::span(chunk_).first(2 * count); }
  void take(std::size_t count, const FrameFill&) override {
    next_ = sums_.add(std::span(chunk_).first(2 * count), values_, next_);
  }

 private:
  VideoPointSums& sums_;
  ReadBuffer& chunk_;
  std::span<double> values_;
  std::size_t next_ = 0;
};

}  // namespace

VideoPointReader::VideoPointReader(CaptureReader& capture, const VideoDetector& detector)
    : capture_(capture), detector_(detector), sums_(detector), chunk_(2 * kChunkSamples) {}

void VideoPointReader::read(std::span<double> values) {
  PointFeed feed(sums_, chunk_, values);
  pump_frames(capture_, 2, static_cast<std::int64_t>(values.size()) * detector_.samples_per_point, feed);
}

}  // namespace iq
