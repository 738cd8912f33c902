// SPDX-License-Identifier: MIT
// Conventions of a capture file: headerless interleaved unsigned 8-bit I and Q samples.
#pragma once

#include <array>
#include <cstdint>

namespace iq {

// One block: 8192 complex samples, 16384 bytes.
inline constexpr std::int64_t kBlockSamples = 8192;
inline constexpr std::int64_t kBlockBytes = 2 * kBlockSamples;

// The value a byte read past the end of a capture takes (EOF truncated to 8 bits).
inline constexpr std::uint8_t kPastEndByte = 255;

// Normalised component value (b - 127.5) / 128. Exact in double and in float: the values are
// odd multiples of 1/256 between -0.99609375 and +0.99609375, and none is zero.
constexpr double normalise_cu8(std::uint8_t b) { return (static_cast<double>(b) - 127.5) / 128.0; }

// The 256 normalised values, indexed by byte, for inner loops.
inline constexpr std::array<double, 256> kNormalisedCu8 = [] {
  std::array<double, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = normalise_cu8(static_cast<std::uint8_t>(b));
  return table;
}();

}  // namespace iq
