// SPDX-License-Identifier: MIT
// Time of day at a fixed offset from UTC, and the start-time wait.
#include "time/time_of_day.hpp"

#include <string>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// Remainder with the sign of the divisor: equal to % for the non-negative values of
// present-day clocks, and still in 0 .. divisor - 1 for clocks before 1970 or large offsets.
constexpr std::int64_t floor_mod(std::int64_t value, std::int64_t divisor) {
  const std::int64_t rest = value % divisor;
  return rest < 0 ? rest + divisor : rest;
}

constexpr std::int64_t floor_div(std::int64_t value, std::int64_t divisor) {
  return (value - floor_mod(value, divisor)) / divisor;
}

}  // namespace

TimeOfDay time_of_day(std::int64_t t, std::int64_t offset_hours) {
  return {floor_mod(floor_div(t, 3600) + floor_mod(offset_hours, 24), 24), floor_mod(t, 3600) / 60,
          floor_mod(t, 60)};
}

StartTime start_time_argument(const Run& run, std::size_t first) {
  const std::int32_t hour = run.whole32(first);
  const std::int32_t minute = run.whole32(first + 1);
  return StartTime{hour, minute, run.whole32(first + 2)};
}

std::optional<TimeOfDay> wait_for_start(const StartTime& target, std::int64_t offset_hours, Clock& clock,
                                        std::ostream& out, TooLateEnding ending) {
  const TimeOfDay wanted{target.hour, target.minute, target.second};
  std::int64_t t = clock.now();
  TimeOfDay reading = time_of_day(t, offset_hours);
  out << cformat(kCheckLine, static_cast<long>(reading.hour), static_cast<long>(reading.minute),
                 static_cast<long>(reading.second));
  // No wrap to the next day: a target earlier today, or this very second, has passed.
  if (seconds_of_day(reading) >= seconds_of_day(wanted)) {
    out << kTooLate << (ending == TooLateEnding::kNewline ? "\n" : "");
    return std::nullopt;
  }
  out.flush();
  // Each sleep ends at the next second boundary, so every second is read once. A sleep cut
  // short, or a clock set back, is met by reading and sleeping again from where it now is.
  while (reading != wanted) {
    clock.sleep_until(t + 1);
    t = clock.now();
    reading = time_of_day(t, offset_hours);
  }
  return reading;
}

void refuse_too_late(const StartTime& target, std::int64_t offset_hours) {
  const std::string zone =
      offset_hours == 0 ? std::string("UTC") : cformat("UTC%+lld", static_cast<long long>(offset_hours));
  throw ToolError("Too late!: the start time " +
                  cformat("%02d:%02d:%02d", target.hour, target.minute, target.second) + " at " + zone +
                  " has passed today; give a time later today in that zone");
}

}  // namespace iq
