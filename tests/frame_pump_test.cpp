// SPDX-License-Identifier: MIT
// The frame pump: a capture read at offsets by the consumer's threads and one read in sequence
// (a pipe, or a consumer that does not read through the fill) hand over the same bytes in the
// same batches and leave the read position after the frames; a live stream hands over its
// whole frames in batches the consumer limits, a last one a byte short completed with 255.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "flow/frame_pump.hpp"
#include "io/capture_reader.hpp"
#include "io/live_input.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// Keeps every byte it is handed, and the size of every batch. Through the fill, it reads a
// batch in two parts on two threads, the second part first. `limit(frames taken so far)`, when
// given, bounds the next batch.
class Recorder final : public FrameConsumer {
 public:
  Recorder(std::size_t frame_bytes, std::size_t batch, bool through_fill,
           std::function<std::size_t(std::size_t)> limit = {})
      : frame_bytes_(frame_bytes),
        batch_(batch),
        through_fill_(through_fill),
        limit_(std::move(limit)),
        room_(batch * frame_bytes) {}
  std::size_t batch_frames() override { return limit_ ? std::min(batch_, limit_(taken_)) : batch_; }
  std::span<std::uint8_t> room(std::size_t count) override { return std::span(room_).first(count * frame_bytes_); }
  void take(std::size_t count, const FrameFill& fill) override {
    if (fill) {
      EXPECT_TRUE(through_fill_);
      const std::size_t half = count / 2;
      std::thread second(
          [&] { fill(half, std::span(room_).subspan(half * frame_bytes_, (count - half) * frame_bytes_)); });
      second.join();
      fill(0, std::span(room_).first(half * frame_bytes_));
    }
    bytes.insert(bytes.end(), room_.begin(), room_.begin() + static_cast<std::ptrdiff_t>(count * frame_bytes_));
    batches.push_back(count);
    taken_ += count;
  }
  bool reads_through_fill() const override { return through_fill_; }

  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> batches;

 private:
  std::size_t frame_bytes_;
  std::size_t batch_;
  bool through_fill_;
  std::function<std::size_t(std::size_t)> limit_;
  std::vector<std::uint8_t> room_;
  std::size_t taken_ = 0;
};

// A pipe whose reading end is returned; a thread writes `bytes` in pieces of 77 and closes it.
int pipe_of(const std::vector<std::uint8_t>& bytes, std::thread& writer) {
  int ends[2];
  if (::pipe(ends) != 0) return -1;
  writer = std::thread([&bytes, fd = ends[1]] {
    for (std::size_t at = 0; at < bytes.size(); at += 77) {
      if (::write(fd, bytes.data() + at, std::min<std::size_t>(77, bytes.size() - at)) <= 0) break;
    }
    ::close(fd);
  });
  return ends[0];
}

TEST(FramePump, OffsetsAndSequenceHandOverTheSameFramesAndMoveTheReadPosition) {
  test::ScratchDir dir;
  constexpr std::size_t kFrameBytes = 12;
  constexpr std::int64_t kFrames = 100;
  // Five bytes already read, then 99 frames and 7 bytes: the last frame ends in 255s.
  const auto bytes = test::random_bytes(5 + 99 * kFrameBytes + 7, 4);
  test::write_bytes(dir.path("cap.bin"), bytes);
  std::vector<std::uint8_t> expected(bytes.begin() + 5, bytes.end());
  expected.resize(kFrames * kFrameBytes, 255);
  const std::vector<std::size_t> batches = {16, 16, 16, 16, 16, 16, 4};
  struct Case {
    bool pipe;
    bool through_fill;
  };
  for (const Case c : {Case{false, true}, Case{false, false}, Case{true, true}, Case{true, false}}) {
    std::thread writer;
    const std::string path = c.pipe ? "/dev/fd/" + std::to_string(pipe_of(bytes, writer)) : dir.path("cap.bin");
    auto capture = CaptureReader::open(path, 64);
    ASSERT_TRUE(capture.has_value());
    EXPECT_EQ(capture->reads_at_offsets(), !c.pipe);
    for (int k = 0; k < 5; ++k) capture->next_byte();
    Recorder recorder(kFrameBytes, 16, c.through_fill);
    pump_frames(*capture, kFrameBytes, kFrames - 1, recorder);
    EXPECT_EQ(capture->next_byte(), bytes[5 + 99 * kFrameBytes])
        << "pipe " << c.pipe << ", fill " << c.through_fill;
    capture->skip(kFrameBytes - 1);
    pump_frames(*capture, kFrameBytes, 1, recorder);
    EXPECT_EQ(capture->next_byte(), 255);
    if (writer.joinable()) writer.join();
    std::vector<std::uint8_t> got = recorder.bytes;
    // The frame the reader stepped over by hand comes from the second pump.
    EXPECT_EQ(std::vector(got.begin(), got.begin() + 99 * kFrameBytes),
              std::vector(expected.begin(), expected.begin() + 99 * kFrameBytes));
    EXPECT_EQ(std::vector(got.end() - kFrameBytes, got.end()), std::vector<std::uint8_t>(kFrameBytes, 255));
    std::vector<std::size_t> both = batches;
    both.back() = 3;
    both.push_back(1);
    EXPECT_EQ(recorder.batches, both) << "pipe " << c.pipe << ", fill " << c.through_fill;
  }
}

TEST(FramePump, AStreamGivesItsWholeFramesAndALastOneAByteShort) {
  constexpr std::size_t kFrameBytes = 10;
  // Stream length past 23 whole frames, and the frames handed over.
  const std::vector<std::pair<std::size_t, std::size_t>> cases = {
      {0, 23}, {kFrameBytes - 1, 24}, {kFrameBytes - 2, 23}};
  for (const auto& [extra, frames] : cases) {
    const auto bytes = test::random_bytes(23 * kFrameBytes + extra, 8);
    std::thread writer;
    const int fd = pipe_of(bytes, writer);
    std::vector<std::uint8_t> got;
    std::vector<std::size_t> batches;
    {
      LiveInput stream(fd, "the pipe");
      // Batches of at most 8 frames, and never past a row of 5.
      Recorder recorder(kFrameBytes, 8, false, [](std::size_t taken) { return 5 - taken % 5; });
      pump_stream(stream, kFrameBytes, recorder);
      got = recorder.bytes;
      batches = recorder.batches;
    }
    writer.join();
    ::close(fd);
    std::vector<std::uint8_t> expected = bytes;
    expected.resize(frames * kFrameBytes, 255);
    EXPECT_EQ(got, expected) << extra << " bytes past the whole frames";
    std::size_t taken = 0;
    for (const std::size_t b : batches) {
      EXPECT_LE(taken % 5 + b, 5u) << "a batch past a row, after " << taken << " frames";
      taken += b;
    }
    EXPECT_EQ(taken, frames);
  }
}

}  // namespace
}  // namespace iq
