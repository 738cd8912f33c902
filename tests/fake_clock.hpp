// A clock for tests: stands still until slept on, and notes every second it was read at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "time/clock.hpp"

namespace iq::test {

// Seconds since the epoch of day `day` (days since 1970-01-01) at hh:mm:ss UTC.
constexpr std::int64_t utc(std::int64_t day, int hh, int mm, int ss) {
  return day * 86400 + hh * 3600 + mm * 60 + ss;
}
inline constexpr std::int64_t kDay = 20793;  // 2026-12-06
inline constexpr std::int64_t kDayAfter2038 = 30000;

class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t start, int early_wakes_every = 0)
      : t_(start), early_wakes_every_(early_wakes_every) {}
  std::int64_t now() override {
    reads.push_back(t_);
    return t_;
  }
  // Reaches the second asked for, except that every n-th sleep returns early (a signal).
  void sleep_until(std::int64_t second) override {
    ++sleeps;
    if (early_wakes_every_ == 0 || sleeps % early_wakes_every_ != 0) t_ = std::max(t_, second);
  }
  std::vector<std::int64_t> reads;
  int sleeps = 0;

 private:
  std::int64_t t_;
  int early_wakes_every_;
};

}  // namespace iq::test
