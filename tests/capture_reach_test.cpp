// SPDX-License-Identifier: MIT
// How far a run of blocks may reach past a capture's end, how much of it is padding, and which
// words of a capture command can name the capture. What the tools print for them is in the
// golden corpus.
#include <gtest/gtest.h>

#include <sstream>
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

TEST(CaptureReachTest, PaddingIsToldInSamplesAndBytes) {
  const struct {
    std::int64_t padding;
    const char* samples;
  } cases[] = {{16384, "its last 8192 samples are padding (16384 bytes of value 255)"},
               {1153, "its last 577 samples are padding (1153 bytes of value 255)"},  // half a sample counts
               {1, "its last 1 samples are padding (1 bytes of value 255)"}};
  for (const auto& c : cases) {
    std::ostringstream err;
    report_padding(err, "iqdump", "out.txt", "in.bin", c.padding);
    EXPECT_EQ(err.str(), std::string("iqdump: out.txt runs past the end of in.bin: ") + c.samples + "\n");
  }
}

TEST(CaptureNameTest, AWordTheShellWouldChangeOrThatNamesNoCaptureIsRefused) {
  const struct {
    const char* word;
    const char* fault;  // the start of the reason; empty when the word can name a capture
  } cases[] = {
      {"cap.bin", ""},
      {"obs/2024-01-02.cu8", ""},
      {"./capture", ""},  // a full stop anywhere will do: its table is ./capture.txt
      {"a+b=c,d%e@f^g.bin", ""},
      {"", "it is empty"},
      {"iqgrab", "it has no full stop"},
      {"60", "it has no full stop"},
      {"~/cap.bin", "it holds '~'"},
      {"$HOME/cap.bin", "it holds '$'"},
      {"'cap.bin'", "it holds '''"},
      {"\"cap.bin\"", "it holds '\"'"},
      {"`date`.bin", "it holds '`'"},
      {"cap\\ x.bin", "it holds '\\'"},
      {"cap.bin;", "it holds ';'"},
      {"cap.bin|tee", "it holds '|'"},
      {"cap.bin&&", "it holds '&'"},
      {"cap.bin<x", "it holds '<'"},
      {"cap.bin>log", "it holds '>'"},
      {"cap*.bin", "it holds '*'"},
      {"cap?.bin", "it holds '?'"},
      {"cap[1].bin", "it holds '['"},
      {"cap].bin", "it holds ']'"},
      {"{a,b}.bin", "it holds '{'"},
      {"cap}.bin", "it holds '}'"},
      {"(cap).bin", "it holds '('"},
      {"cap).bin", "it holds ')'"},
      {"#cap.bin", "it holds '#'"},
      {"cap.bin\t-n", "it holds '\\x09'"},
      {"cap.bin\n", "it holds '\\x0a'"},
      {"cap.bin\r", "it holds '\\x0d'"},
      {"cap.bin\v", "it holds '\\x0b'"},
      {"cap.bin\f", "it holds '\\x0c'"},
      {"~", "it holds '~'"},  // the shell's syntax is named before a missing full stop
  };
  for (const auto& c : cases) {
    const std::string fault = capture_name_fault(c.word);
    if (*c.fault == '\0') {
      EXPECT_EQ(fault, "") << c.word;
    } else {
      EXPECT_EQ(fault.rfind(c.fault, 0), 0u) << c.word << ": " << fault;
    }
  }
}

TEST(CaptureNameTest, TheCommandIsRefusedNamingTheWordTaken) {
  const struct {
    const char* command;
    const char* said;  // part of the refusal; empty when the command is accepted
  } cases[] = {
      {"iqgrab cap.bin -g 40", ""},
      {"true cap.bin && cp in/sky.bin cap.bin", ""},
      {"sudo iqgrab cap.bin", "'iqgrab', but it has no full stop"},
      {"timeout 60 iqgrab cap.bin", "'60', but it has no full stop"},
      {"iqgrab  cap.bin", "'', but it is empty"},
      {"iqgrab", "'', but it is empty"},
      {"iqgrab ~/cap.bin", "'~/cap.bin', but it holds '~'"},
      {"iqgrab --seconds 1 cap.bin", "the capture file must follow the program's name (found '--seconds' there)"},
  };
  for (const auto& c : cases) {
    std::string refusal;
    try {
      check_capture_command(c.command);
    } catch (const ToolError& e) {
      refusal = e.what();
    }
    if (*c.said == '\0') {
      EXPECT_EQ(refusal, "") << c.command;
    } else {
      EXPECT_NE(refusal.find(c.said), std::string::npos) << c.command << ": " << refusal;
      EXPECT_EQ(refusal.rfind(std::string("capture command '") + c.command + "'", 0), 0u) << refusal;
    }
  }
}

}  // namespace
}  // namespace iq
