// SPDX-License-Identifier: MIT
// A capture cut into frequency channels frame by frame, as rows of channel power for the
// pulsar series' reader.
#pragma once

#include <cstdint>

#include "io/capture_reader.hpp"
#include "io/pulsar_files.hpp"

namespace iq {

// One row per frame of `channels` points of `capture`, from its first byte on: the power of
// each bin as the spectrum adds it (|X_k|^2 in single precision), highest frequency first.
ChannelRows capture_channel_rows(CaptureReader& capture, std::int32_t channels);

}  // namespace iq
