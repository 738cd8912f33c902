// SPDX-License-Identifier: MIT
// iqdump: a range of blocks of a capture as a text table, one line per complex sample.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

#include "cli/arguments.hpp"

namespace iq {

// The value a byte is dumped as: the byte in single precision, (value - 127.5) / 128 rounded
// back to single precision.
float dump_value(std::uint8_t byte);

// Writes the dump lines "%lld\t%1.4f\t%1.4f\n" (sample number, I, Q) without a printf call per
// line: each byte has one text per column, formatted once, and the sample number is written
// by std::to_chars.
class DumpFormatter {
 public:
  DumpFormatter();

  // The lines of the complex samples in `bytes` (I, Q, I, Q, ...; an odd last byte is
  // ignored), numbered from `first_sample`. The text stays valid until the next call.
  std::string_view lines(std::span<const std::uint8_t> bytes, std::int64_t first_sample);

 private:
  // A column's text for one byte: the tab, the value and, for Q, the newline. Copied as a whole
  // array (one wide move), then the write position advances by `size`.
  struct ValueText {
    std::array<char, 16> chars{};
    std::size_t size = 0;
  };
  static constexpr std::size_t kMaxNumberChars = 20;  // "-9223372036854775808"
  static constexpr std::size_t kMaxLineChars = kMaxNumberChars + 2 * 8 + 1;
  std::array<ValueText, 256> i_texts_;
  std::array<ValueText, 256> q_texts_;
  std::vector<char> buffer_;
};

// iqdump <Infile> <Outfile> <first block> <end block (exclusive)>
int run_iqdump(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
