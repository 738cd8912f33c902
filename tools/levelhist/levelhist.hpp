// SPDX-License-Identifier: MIT
// levelhist: how often each byte value occurs in a capture, as the mean count per 512 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"

namespace iq {

using LevelCounts = std::array<std::int64_t, 256>;

// Counts byte values at memory speed. Consecutive bytes go to different count arrays, so a
// run of equal bytes (the usual case in a quiet capture) does not make each increment wait for
// the store of the one before; the arrays are summed when the totals are asked for. The arrays
// hold 32-bit counts (half the cache of 64-bit ones) and are moved into 64-bit totals every
// `flush_bytes` bytes, long before a lane could overflow.
class LevelCounter {
 public:
  static constexpr std::size_t kDefaultFlushBytes = std::size_t{1} << 31;
  explicit LevelCounter(std::size_t flush_bytes = kDefaultFlushBytes);

  void add(std::span<const std::uint8_t> bytes);
  LevelCounts totals() const;

 private:
  static constexpr std::size_t kLanes = 8;
  void count(std::span<const std::uint8_t> bytes);
  void flush();

  std::size_t flush_bytes_;
  std::size_t pending_bytes_ = 0;  // counted into the lanes since the last flush
  std::array<std::array<std::uint32_t, 256>, kLanes> lanes_{};
  LevelCounts flushed_{};
};

// The counts of the next `bytes` bytes of `capture` (255 past its end). Where it can seek, the
// worker threads read and count parts of `part_bytes` at their offsets; the counts are integers,
// so their totals are those of one count in sequence.
LevelCounts count_levels(CaptureReader& capture, std::int64_t bytes,
                         std::int64_t part_bytes = std::int64_t{1} << 22);

// The table: for each byte value v from 0 to 255 the line "%d    %3.3f\n" with the level
// v - 128 and the count rounded to single precision over the chunk count (0 / 0 when there is
// no whole chunk).
std::string level_table(const LevelCounts& counts, std::int64_t chunks);

// levelhist <Infile> <Outfile>
int run_levelhist(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
