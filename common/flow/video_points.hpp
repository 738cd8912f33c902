// SPDX-License-Identifier: MIT
// Video points of a capture, read through the frame pump in fixed memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dsp/video_detection.hpp"
#include "io/capture_reader.hpp"
#include "io/read_buffer.hpp"

namespace iq {

// Reads consecutive video points from a capture; a point may span any number of reads. Bytes
// past the end of the capture read as 255.
class VideoPointReader {
 public:
  VideoPointReader(CaptureReader& capture, const VideoDetector& detector);

  // Detects the next values.size() points.
  void read(std::span<double> values);

 private:
  CaptureReader& capture_;
  VideoDetector detector_;
  VideoPointSums sums_;
  ReadBuffer chunk_;
};

}  // namespace iq
