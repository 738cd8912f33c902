// SPDX-License-Identifier: MIT
// The frame pump: batches read at offsets by the consumer's threads, or in sequence.
#include "flow/frame_pump.hpp"

#include <algorithm>
#include <atomic>

#include "dsp/capture_format.hpp"

namespace iq {

namespace {

// One batch read at its offsets through the consumer's fill, starting at byte `start`.
void take_at_offsets(CaptureReader& capture, std::int64_t start, std::size_t frame_bytes, std::size_t count,
                     FrameConsumer& consumer) {
  std::atomic<int> failure{0};
  consumer.take(count, [&](std::size_t first, std::span<std::uint8_t> bytes) {
    const int error = capture.read_at(start + static_cast<std::int64_t>(first * frame_bytes), bytes);
    if (error != 0) failure = error;
  });
  if (failure != 0) capture.fail_read(failure);
  capture.skip(static_cast<std::int64_t>(count * frame_bytes));  // the read position and progress line
}

}  // namespace

void pump_frames(CaptureReader& capture, std::size_t frame_bytes, std::int64_t frames, FrameConsumer& consumer) {
  // Read at offsets, each worker reads its own frames just before it uses them: the reading is
  // shared by the cores instead of leaving all but one idle, and the bytes are still in cache.
  const bool at_offsets = consumer.reads_through_fill() && capture.reads_at_offsets();
  const std::int64_t start = at_offsets ? capture.position() : 0;
  for (std::int64_t done = 0; done < frames;) {
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(frames - done, static_cast<std::int64_t>(consumer.batch_frames())));
    if (at_offsets) {
      take_at_offsets(capture, start + done * static_cast<std::int64_t>(frame_bytes), frame_bytes, count,
                      consumer);
    } else {
      capture.read(consumer.room(count));
      consumer.take(count, {});
    }
    done += static_cast<std::int64_t>(count);
  }
}

void pump_stream(LiveInput& stream, std::size_t frame_bytes, FrameConsumer& consumer) {
  while (!stream.ended()) {
    const std::span<std::uint8_t> bytes = consumer.room(consumer.batch_frames());
    const std::size_t got = stream.read(bytes);
    std::size_t whole = got / frame_bytes;
    if (frame_bytes > 1 && got % frame_bytes == frame_bytes - 1) {
      bytes[got] = kPastEndByte;
      ++whole;
    }
    if (whole > 0) consumer.take(whole, {});
  }
}

}  // namespace iq
