// SPDX-License-Identifier: MIT
// The interrupt handler that removes temporary outputs and erases the progress line.
#include "io/interrupt_cleanup.hpp"

#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <mutex>

namespace iq::interrupt {

namespace {

constexpr std::size_t kTempSlots = 16;
std::array<std::atomic<const char*>, kTempSlots> temp_slots{};
constexpr std::size_t kFolderSlots = 4;
std::array<std::atomic<const char*>, kFolderSlots> folder_slots{};
constexpr std::size_t kChildSlots = 4;
std::array<std::atomic<pid_t>, kChildSlots> child_slots{};

std::atomic<int> progress_fd{-1};
std::atomic<std::size_t> progress_width{0};

constexpr std::array<char, 128> kBlanks = [] {
  std::array<char, 128> blanks{};
  blanks.fill(' ');
  return blanks;
}();

// Only async-signal-safe calls: write, kill, unlink, rmdir, signal, raise.
void write_all(int fd, const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, text, size);
    if (done <= 0) return;
    text += done;
    size -= static_cast<std::size_t>(done);
  }
}

void erase_progress_line() {
  const int fd = progress_fd.load();
  std::size_t width = progress_width.exchange(0);
  if (fd < 0 || width == 0) return;
  write_all(fd, "\r", 1);
  while (width > 0) {
    const std::size_t piece = width < kBlanks.size() ? width : kBlanks.size();
    write_all(fd, kBlanks.data(), piece);
    width -= piece;
  }
  write_all(fd, "\r", 1);
}

extern "C" void clean_up_and_reraise(int signal_number) {
  erase_progress_line();
  for (auto& slot : child_slots) {
    if (const pid_t child = slot.load(); child > 0) ::kill(child, SIGTERM);
  }
  for (auto& slot : temp_slots) {
    if (const char* temp = slot.load()) ::unlink(temp);
  }
  for (auto& slot : folder_slots) {
    if (const char* folder = slot.load()) ::rmdir(folder);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void install_cleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int signal_number : kSignals) {
      struct sigaction action {};
      if (::sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
      action = {};
      action.sa_handler = clean_up_and_reraise;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal_number, &action, nullptr);
    }
  });
}

sigset_t cleanup_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal_number : kSignals) sigaddset(&signals, signal_number);
  return signals;
}

namespace {

// Puts `value` into the first empty slot (one holding `empty`), or takes it out again.
template <typename T, std::size_t N>
void put_in_slot(std::array<std::atomic<T>, N>& slots, T value, T empty) {
  install_cleanup();
  for (auto& slot : slots) {
    T expected = empty;
    if (slot.compare_exchange_strong(expected, value)) return;
  }
}

template <typename T, std::size_t N>
void take_from_slot(std::array<std::atomic<T>, N>& slots, T value, T empty) {
  for (auto& slot : slots) {
    T expected = value;
    if (slot.compare_exchange_strong(expected, empty)) return;
  }
}

}  // namespace

void register_temp(const char* path) { put_in_slot<const char*>(temp_slots, path, nullptr); }
void unregister_temp(const char* path) { take_from_slot<const char*>(temp_slots, path, nullptr); }
void register_temp_folder(const char* path) { put_in_slot<const char*>(folder_slots, path, nullptr); }
void unregister_temp_folder(const char* path) { take_from_slot<const char*>(folder_slots, path, nullptr); }
void register_child(pid_t child) { put_in_slot<pid_t>(child_slots, child, 0); }
void unregister_child(pid_t child) { take_from_slot<pid_t>(child_slots, child, 0); }

void set_progress_line(int fd, std::size_t width) {
  if (width > 0) install_cleanup();
  progress_width.store(0);
  progress_fd.store(fd);
  progress_width.store(width);
}

}  // namespace iq::interrupt
