// SPDX-License-Identifier: MIT
// How far a run of blocks may reach past a capture's end, how much of it is padding, and which
// words of a capture command can name the capture. What the tools print for them is in the
// golden corpus.
#include <gtest/gtest.h>

#include <utility>
#include <string>

#include "io/capture_reach.hpp"
#include "runs/capture_command.hpp"

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

TEST(CaptureNameTest, AWordTheShellWouldChangeOrThatNamesNoCaptureIsRefused) {
  for (const char* word : {"cap.bin", "obs/2024-01-02.cu8", "./capture", "a+b=c,d%e@f^g.bin"}) {
    EXPECT_EQ(capture_name_fault(word), "") << word;
  }
  const std::pair<std::string, const char*> refused[] = {
      {"", "it is empty"},
      {"iqgrab", "it has no full stop"},
      {"60", "it has no full stop"},
      {"~", "it holds '~'"},  // the shell's syntax is named before a missing full stop
      {"cap.bin\t-n", "it holds '\\x09'"},
      {"cap.bin\n", "it holds '\\x0a'"},
      {"cap.bin\r", "it holds '\\x0d'"},
      {"cap.bin\v", "it holds '\\x0b'"},
      {"cap.bin\f", "it holds '\\x0c'"}};
  for (const auto& [word, fault] : refused) {
    EXPECT_EQ(capture_name_fault(word).rfind(fault, 0), 0u) << word << ": " << capture_name_fault(word);
  }
  // Every character the shell would read as its own syntax, anywhere in the word.
  for (const char c : std::string("~$'\"`\\;|&<>*?[]{}()#")) {
    const std::string word = "cap" + std::string(1, c) + ".bin";
    EXPECT_EQ(capture_name_fault(word).rfind(std::string("it holds '") + c + "'", 0), 0u) << word;
  }
}

}  // namespace
}  // namespace iq
