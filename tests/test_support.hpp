// SPDX-License-Identifier: MIT
// Helpers for tests: a scratch folder, capture files, in-process tool runs, a driven clock, and
// the harness that holds every fast path against its plain twin.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "cli/tool_main.hpp"
#include "time/clock.hpp"

namespace iq::test {

// A fresh folder per test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path(const std::string& name) const { return root_ + "/" + name; }

 private:
  std::string root_;
};

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> random_bytes(std::size_t count, std::uint32_t seed);
// A file of `count` bytes, all equal to `value`.
void write_constant(const std::string& path, std::size_t count, std::uint8_t value);
std::string read_text(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);
bool exists(const std::string& path);

struct RunResult {
  int status = -1;
  std::string out, err;
};
// Runs a tool's function in-process with string streams for its console.
RunResult run_tool(ToolFunction* tool, const std::vector<std::string>& args);
// Runs a command line through the shell; `out` holds its standard output and error together.
RunResult run_program(const std::string& command_line);

// The bytes of a value or of a container's elements: results compared bit for bit.
template <typename T>
std::string bytes_of(const T& value) {
  if constexpr (requires {
                  value.data();
                  value.size();
                }) {
    return {reinterpret_cast<const char*>(value.data()), value.size() * sizeof(*value.data())};
  } else {
    return {reinterpret_cast<const char*>(&value), sizeof value};
  }
}

// A fast path against its plain twin: `make(rng, trial)` draws an input for each of `trials`
// trials, and `fast(input)` and `plain(input)` must give the same bits. Stops at the first
// difference, naming the trial.
template <typename Make, typename Fast, typename Plain>
void expect_twins(const std::string& what, int trials, Make make, Fast fast, Plain plain) {
  std::mt19937_64 rng(static_cast<std::uint64_t>(trials));
  for (int trial = 0; trial < trials; ++trial) {
    auto input = make(rng, trial);
    auto twin = input;
    if (bytes_of(fast(input)) != bytes_of(plain(twin))) {
      ADD_FAILURE() << what << ": the fast path differs from the plain one in trial " << trial;
      return;
    }
  }
}

// A SIGPROC header built by hand from the format's description: a keyword is its int32 length
// and characters; a value an int32 or a float64, little-endian (the tests run on little-endian
// machines only).
struct SigprocBytes {
  std::string bytes;
  SigprocBytes& word(const std::string& text) {
    const auto length = static_cast<std::int32_t>(text.size());
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    bytes += text;
    return *this;
  }
  SigprocBytes& integer(const std::string& key, std::int32_t value) {
    word(key);
    bytes.append(reinterpret_cast<const char*>(&value), 4);
    return *this;
  }
  SigprocBytes& real(const std::string& key, double value) {
    word(key);
    bytes.append(reinterpret_cast<const char*>(&value), 8);
    return *this;
  }
};

// Seconds since the epoch of day `day` (days since 1970-01-01) at hh:mm:ss UTC.
constexpr std::int64_t utc(std::int64_t day, int hh, int mm, int ss) {
  return day * 86400 + hh * 3600 + mm * 60 + ss;
}
inline constexpr std::int64_t kDay = 20793;  // 2026-12-06
inline constexpr std::int64_t kDayAfter2038 = 30000;

// A clock that stands still until slept on and notes every second it was read at; every n-th
// sleep returns early, as a signal would make it.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t start, int early_wakes_every = 0) : t_(start), early_(early_wakes_every) {}
  std::int64_t now() override {
    reads.push_back(t_);
    return t_;
  }
  void sleep_until(std::int64_t second) override {
    ++sleeps;
    if (early_ == 0 || sleeps % early_ != 0) t_ = std::max(t_, second);
  }
  std::vector<std::int64_t> reads;
  int sleeps = 0;

 private:
  std::int64_t t_;
  int early_;
};

// Runs `check` once with the kernels pinned to each vector target this processor runs, then
// with them off ("scalar"); the target chosen before is restored afterwards. `check` gets the
// target's name (for failure messages).
void for_each_vector_target(const std::function<void(const std::string&)>& check);

}  // namespace iq::test
