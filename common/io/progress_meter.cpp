// SPDX-License-Identifier: MIT
// The terminal progress line.
#include "io/progress_meter.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include "io/interrupt_cleanup.hpp"
#include "io/text_format.hpp"

namespace iq {

double ProgressMeter::steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ProgressMeter::ProgressMeter(int fd, std::string label, std::int64_t total_bytes, Clock clock)
    : fd_(fd), label_(std::move(label)), total_(total_bytes), clock_(std::move(clock)), start_(clock_()) {}

ProgressMeter::~ProgressMeter() { erase(); }

std::unique_ptr<ProgressMeter> ProgressMeter::on_terminal(std::string label, std::int64_t total_bytes,
                                                          Clock clock) {
  if (total_bytes <= 0 || ::isatty(STDERR_FILENO) != 1) return nullptr;
  if (!clock) clock = steady_seconds;
  return std::make_unique<ProgressMeter>(STDERR_FILENO, std::move(label), total_bytes, std::move(clock));
}

std::string ProgressMeter::label_for(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProgressMeter::line(const std::string& label, std::int64_t done_bytes, std::int64_t total_bytes,
                                double elapsed_seconds) {
  const std::int64_t done = std::clamp<std::int64_t>(done_bytes, 0, total_bytes);
  const double fraction = total_bytes > 0 ? static_cast<double>(done) / static_cast<double>(total_bytes) : 1.0;
  const double rate = elapsed_seconds > 0.0 ? static_cast<double>(done) / elapsed_seconds : 0.0;
  std::string text =
      cformat("%s  %3d%%  %.1f MB/s", label.c_str(), static_cast<int>(fraction * 100.0), rate / 1e6);
  if (rate > 0.0) {
    const auto left = static_cast<long long>(std::ceil(static_cast<double>(total_bytes - done) / rate));
    if (left >= 3600) {
      text += cformat("  %lld:%02lld:%02lld left", left / 3600, left / 60 % 60, left % 60);
    } else {
      text += cformat("  %lld:%02lld left", left / 60, left % 60);
    }
  }
  return text;
}

void ProgressMeter::update(std::int64_t done_bytes) {
  if (finished_) return;
  if (done_bytes >= total_) {
    erase();
    finished_ = true;
    return;
  }
  const double now = clock_();
  const double elapsed = now - start_;
  if (elapsed < kQuietSeconds || (last_draw_ >= 0.0 && now - last_draw_ < kRedrawSeconds)) return;
  last_draw_ = now;
  std::string text = line(label_, done_bytes, total_, elapsed);
  const std::size_t width = text.size();
  if (width < shown_width_) text.append(shown_width_ - width, ' ');  // cover a longer old line
  shown_width_ = width;
  text.insert(text.begin(), '\r');
  put(text);
  interrupt::set_progress_line(fd_, shown_width_);
}

void ProgressMeter::erase() {
  if (shown_width_ == 0) return;
  std::string blank(shown_width_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  interrupt::set_progress_line(fd_, 0);
  put(blank);
  shown_width_ = 0;
}

// The indicator is a courtesy: a terminal that cannot take it does not fail the tool.
void ProgressMeter::put(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<std::size_t>(wrote);
  }
}

}  // namespace iq
