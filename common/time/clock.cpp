// SPDX-License-Identifier: MIT
// The wall clock.
#include "time/clock.hpp"

#include <cerrno>
#include <ctime>

#include "io/text_format.hpp"

namespace iq {

// Reads the same clock the sleeps run on. time() may lag it by a scheduler tick just after a
// second boundary, which would hide the second that a sleep has just reached.
std::int64_t SystemClock::now() {
  timespec current{};
  ::clock_gettime(CLOCK_REALTIME, &current);
  return static_cast<std::int64_t>(current.tv_sec);
}

void SystemClock::sleep_until(std::int64_t second) {
  const timespec wake{static_cast<time_t>(second), 0};
  while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
  }
}

std::string ctime_text(std::int64_t t) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  ::tzset();
  const auto seconds = static_cast<time_t>(t);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return cformat("%lld\n", static_cast<long long>(t));
  return cformat("%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", kDays[local.tm_wday], kMonths[local.tm_mon], local.tm_mday,
                 local.tm_hour, local.tm_min, local.tm_sec, static_cast<long long>(local.tm_year) + 1900);
}

}  // namespace iq
