// SPDX-License-Identifier: MIT
// The one loop that reads a capture or a live stream and hands its bytes, in whole frames, to
// the signal code: a batch at a time, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "io/capture_reader.hpp"
#include "io/live_input.hpp"

namespace iq {

// Reads the bytes of a batch's frames from frame `first` of the batch on into `bytes` (whole
// frames). Several threads may call it at once for different frames.
using FrameFill = std::function<void(std::size_t first, std::span<std::uint8_t> bytes)>;

// What takes the frames.
class FrameConsumer {
 public:
  virtual ~FrameConsumer() = default;
  // The most frames the next batch may hold (at least 1).
  virtual std::size_t batch_frames() = 0;
  // Where the bytes of a batch of `count` frames go when they are read in sequence.
  virtual std::span<std::uint8_t> room(std::size_t count) = 0;
  // Takes the next `count` frames: their bytes are in room(count) when `fill` is empty, else
  // the consumer reads them through `fill` before it uses them.
  virtual void take(std::size_t count, const FrameFill& fill) = 0;
  // Whether the consumer reads through `fill` (on its worker threads, each the frames it is
  // about to use): only then are frames read at their offsets.
  virtual bool reads_through_fill() const { return false; }
};

// Hands the next `frames` frames of `frame_bytes` bytes of `capture` to `consumer`, bytes past
// the end read as 255. Where the capture can seek and the consumer reads through a fill, each
// batch is read at its offsets while the capture's read position (and progress line) moves on
// by the batch; otherwise the batch is read in sequence.
void pump_frames(CaptureReader& capture, std::size_t frame_bytes, std::int64_t frames, FrameConsumer& consumer);

// Hands the whole frames of `stream` to `consumer` as they come in, until the stream ends. As
// for a capture file, whose length is counted one byte long, a stream that ends one byte short
// of a whole frame still gives that frame, its missing byte read as 255.
void pump_stream(LiveInput& stream, std::size_t frame_bytes, FrameConsumer& consumer);

}  // namespace iq
