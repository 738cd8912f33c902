// SPDX-License-Identifier: MIT
// The wall clock the timed tools read and sleep on, behind an interface so that tests can
// drive time without waiting.
#pragma once

#include <cstdint>
#include <string>

namespace iq {

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds since 1970-01-01 00:00 UTC.
  virtual std::int64_t now() = 0;
  // Sleeps until the clock reaches the whole second `second`. May return early (a signal);
  // callers read the clock again afterwards.
  virtual void sleep_until(std::int64_t second) = 0;
};

// The system's real-time clock. Sleeps are absolute: they end at the second boundary itself,
// however late the sleep started, so a loop of them observes every second without drift.
class SystemClock final : public Clock {
 public:
  std::int64_t now() override;
  void sleep_until(std::int64_t second) override;
};

// The date line of the C library's ctime for `t` in the machine's local time zone, ending in
// a newline: "Sun Dec  6 20:42:38 2026\n".
std::string ctime_text(std::int64_t t);

}  // namespace iq
