// SPDX-License-Identifier: MIT
// Frames of a capture transformed one by one into rows of channel power.
#include "flow/capture_channels.hpp"

#include <memory>
#include <vector>

#include "dsp/fft.hpp"
#include "dsp/spectrum.hpp"

namespace iq {

ChannelRows capture_channel_rows(CaptureReader& capture, std::int32_t channels) {
  capture.seek(0);
  const auto n = static_cast<std::size_t>(channels);
  const auto plan = std::make_shared<FftPlan>(channels, -1);
  return [&capture, plan, n, bytes = std::vector<std::uint8_t>(2 * n), frame = std::vector<double>(2 * n),
          power = std::vector<float>(n)](std::span<double> row) mutable {
    capture.read(bytes);
    normalise_frame(bytes, frame);
    plan->transform(frame.data());
    SpectrumAccumulator::frame_power(frame, power);
    // Row position c holds table line n - 1 - c; line l is bin l + n/2 below the middle and
    // l - n/2 from it on.
    for (std::size_t c = 0; c < n; ++c) {
      const std::size_t line = n - 1 - c;
      row[c] = power[line < n / 2 ? line + n / 2 : line - n / 2];
    }
  };
}

}  // namespace iq
