// SPDX-License-Identifier: MIT
// Reading a live stream (a capture program's output on a pipe) that ends at its end of file or
// when the user stops the run with SIGINT, SIGTERM or SIGHUP: the signal ends the stream, not
// the process, so that what was read before it can be finished and kept.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <span>

#include "io/capture_reader.hpp"

namespace iq {

class LiveInput {
 public:
  // Takes over SIGINT, SIGTERM and SIGHUP (those not set to be ignored) until destroyed: they
  // are blocked in the calling thread, and so in every thread it starts afterwards, and are
  // taken only while read() waits for data. One LiveInput at a time; construct it before the
  // worker threads. Throws ToolError when `fd` cannot be read.
  LiveInput(int fd, std::string name);
  // Gives the signals back: the mask and handlers as they were.
  ~LiveInput();
  LiveInput(const LiveInput&) = delete;
  LiveInput& operator=(const LiveInput&) = delete;

  // Fills `out` from the stream; fewer bytes only when the stream has ended (its end of file
  // or a stop signal). Returns the number of bytes read. Throws ToolError on a read error.
  std::size_t read(std::span<std::uint8_t> out);

  bool ended() const { return ended_; }
  // The signal that stopped the stream, or 0.
  int stop_signal() const;
  std::int64_t bytes_read() const { return bytes_read_; }
  // Device and inode of the stream, so that an output cannot name it.
  FileId id() const { return id_; }

 private:
  int fd_;
  std::string name_;
  FileId id_;
  sigset_t previous_mask_;
  sigset_t wait_mask_;  // the mask while waiting for data: the taken signals open
  struct sigaction previous_actions_[3];
  bool taken_[3] = {false, false, false};
  bool ended_ = false;
  std::int64_t bytes_read_ = 0;
};

}  // namespace iq
