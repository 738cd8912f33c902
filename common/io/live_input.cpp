// SPDX-License-Identifier: MIT
// Reading a live stream that a signal may end.
#include "io/live_input.hpp"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// The signal that ended the stream; a handler may only touch a lock-free atomic.
std::atomic<int> stop_signal_seen{0};
std::atomic<bool> live_input_exists{false};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void note_stop_signal(int signal_number) { stop_signal_seen.store(signal_number); }

}  // namespace

LiveInput::LiveInput(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw ToolError(system_error_text("Can't read " + name_, errno));
  if (S_ISDIR(info.st_mode)) throw ToolError("Can't read " + name_ + ": it is a folder");
  id_ = FileId{info.st_dev, info.st_ino};
  if (live_input_exists.exchange(true)) throw ToolError("a second live stream in one run");
  stop_signal_seen.store(0);

  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal_number : kStopSignals) sigaddset(&stops, signal_number);
  ::pthread_sigmask(SIG_BLOCK, &stops, &previous_mask_);
  wait_mask_ = previous_mask_;
  for (std::size_t s = 0; s < 3; ++s) {
    struct sigaction current {};
    ::sigaction(kStopSignals[s], nullptr, &current);
    // A signal the user's shell ignores (nohup, a background job) stays ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    taken_[s] = ::sigaction(kStopSignals[s], &action, &previous_actions_[s]) == 0;
    if (taken_[s]) sigdelset(&wait_mask_, kStopSignals[s]);
  }
}

LiveInput::~LiveInput() {
  // The mask first: a signal that came since the last read still reaches the harmless handler
  // instead of the previous one, which might end the process after the table was kept.
  ::pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
  for (std::size_t s = 0; s < 3; ++s) {
    if (taken_[s]) ::sigaction(kStopSignals[s], &previous_actions_[s], nullptr);
  }
  live_input_exists.store(false);
}

int LiveInput::stop_signal() const { return stop_signal_seen.load(); }

std::size_t LiveInput::read(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size() && !ended_) {
    // The stop signals are open only inside ppoll, so one that comes while the frames are
    // worked on waits there and ends the stream at the next read.
    pollfd wait{fd_, POLLIN, 0};
    if (stop_signal_seen.load() == 0 && ::ppoll(&wait, 1, nullptr, &wait_mask_) < 0 && errno != EINTR) {
      throw ToolError(system_error_text("Can't read " + name_, errno));
    }
    if (stop_signal_seen.load() != 0) {
      ended_ = true;
      break;
    }
    const ssize_t got = ::read(fd_, out.data() + done, out.size() - done);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
      bytes_read_ += got;
    } else if (got == 0) {
      ended_ = true;
    } else if (errno != EINTR && errno != EAGAIN) {
      throw ToolError(system_error_text("Can't read " + name_, errno));
    }
  }
  return done;
}

}  // namespace iq
