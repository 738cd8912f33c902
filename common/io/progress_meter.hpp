// SPDX-License-Identifier: MIT
// A one-line progress indicator on a terminal: percent done, reading speed and time left, for
// tools that read a capture for longer than about a second. It writes to a file descriptor
// (standard error) only, so console lines and tables stay exactly as they are. A run stopped by
// SIGINT, SIGTERM or SIGHUP erases the line before it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace iq {

class ProgressMeter {
 public:
  // Seconds on a clock that never goes back.
  using Clock = std::function<double()>;
  static double steady_seconds();

  // Nothing shows before `kQuietSeconds` have passed; after that the line is redrawn at most
  // every `kRedrawSeconds`.
  static constexpr double kQuietSeconds = 1.0;
  static constexpr double kRedrawSeconds = 0.25;

  ProgressMeter(int fd, std::string label, std::int64_t total_bytes, Clock clock);
  // Erases the line if it was shown.
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // A meter on standard error when that is a terminal and there is something to read;
  // nothing otherwise. An empty `clock` means steady_seconds.
  static std::unique_ptr<ProgressMeter> on_terminal(std::string label, std::int64_t total_bytes, Clock clock = {});

  // Tells the meter that `done_bytes` of the total have been consumed. Reaching the total
  // erases the line.
  void update(std::int64_t done_bytes);

  // The label of a file's line: its name without the folders.
  static std::string label_for(const std::string& path);

  // The text of the line: "<label>  42%  118.3 MB/s  0:07 left".
  static std::string line(const std::string& label, std::int64_t done_bytes, std::int64_t total_bytes,
                          double elapsed_seconds);

 private:
  void put(const std::string& text);
  void erase();

  int fd_;
  std::string label_;
  std::int64_t total_;
  Clock clock_;
  double start_;
  double last_draw_ = -1.0;
  std::size_t shown_width_ = 0;
  bool finished_ = false;
};

}  // namespace iq
