// SPDX-License-Identifier: MIT
// How far a run of blocks may reach past a capture's end, and how much of it is padding. What
// the tools print of them, and which words of a capture command can name the capture, are in
// the golden corpus.
#include <gtest/gtest.h>

#include <string>

#include "io/capture_reach.hpp"

namespace iq {
namespace {

constexpr std::int64_t kBlock = 16384;

TEST(CaptureReachTest, EveryBlockBeforeTheEndAndOneWhollyPastIt) {
  const struct {
    std::int64_t length, first, blocks;
  } cases[] = {
      {0, 0, 1},                    // an empty capture: one block, all padding
      {1, 0, 2},                    // one byte: its block, then one past it
      {kBlock, 0, 2},               // a whole block ends exactly at the end
      {kBlock + 1, 0, 3},           // one byte more starts a second, padded block
      {48000, 2 * kBlock, 2},       // from the capture's last, partial block
      {48000, 3 * kBlock, 1},       // from the first block wholly past the end
      {48000, 1000 * kBlock, 1},    // far past the end: still one
      {48000, 34000, 2},            // a run that does not start on a block boundary
      {48000, 47999, 2},            // from the last byte
      {48000, 48000, 1},            // from the end itself
      {4294981394, 4294981294, 2},  // beyond 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(blocks_within_reach(c.length, c.first), c.blocks) << c.length << " bytes from " << c.first;
  }
}

TEST(CaptureReachTest, PaddingIsWhatLiesPastTheEnd) {
  const struct {
    std::int64_t length, first, bytes, padding;
  } cases[] = {
      {48000, 0, 2 * kBlock, 0},                // wholly inside
      {48000, 0, 48000, 0},                     // up to the last byte
      {48000, 0, 48001, 1},                     // one byte past
      {48000, 2 * kBlock, kBlock, 1152},        // the last block's padding
      {48000, 214000, 2 * kBlock, 2 * kBlock},  // a start past the end: all of it
      {0, 0, kBlock, kBlock},                   // an empty capture
      {48000, 0, 0, 0},                         // nothing asked
      {48000, 0, -kBlock, 0},                   // a negative count asks nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(padding_bytes(c.length, c.first, c.bytes), c.padding)
        << c.bytes << " bytes from " << c.first << " of " << c.length;
  }
}

}  // namespace
}  // namespace iq
