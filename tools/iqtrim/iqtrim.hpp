// SPDX-License-Identifier: MIT
// iqtrim: writes a cut of a capture that starts at a chosen sample, counted from sample 7000
// (the origin of lagscan's lags), and holds a chosen number of blocks.
#pragma once

#include <cstdint>
#include <ostream>

#include "cli/arguments.hpp"

namespace iq {

// The copy moves in transfers of 32768 bytes while more than 32767 bytes remain, then one last
// transfer of the rest, which is 0 bytes when the length is a multiple of 32768.
class TransferSchedule {
 public:
  static constexpr std::int64_t kTransferBytes = 32768;
  explicit TransferSchedule(std::int64_t bytes) : left_(bytes) {}
  bool done() const { return done_; }
  // Size of the next transfer (0 or more).
  std::int64_t next();

 private:
  std::int64_t left_;
  bool done_ = false;
};

// iqtrim <Oldfile> <Newfile> <No 8192 IQ blocks> <Align address>
int run_iqtrim(const ToolArgs& args, std::ostream& out, std::ostream& err);

}  // namespace iq
