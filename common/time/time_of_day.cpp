// Time of day at a fixed offset from UTC, and the start-time wait.
#include "time/time_of_day.hpp"

#include <string>

#include "io/text_format.hpp"

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

std::optional<std::int32_t> field_in_range(std::string_view tool, std::string_view name,
                                           const std::string& text, std::int32_t largest,
                                           std::string_view range, std::ostream& err) {
  const std::int32_t value = whole_argument32(name, text);
  if (value < 0 || value > largest) {
    refuse_parameter(err, tool, name, range, text);
    return std::nullopt;
  }
  return value;
}

}  // namespace

TimeOfDay time_of_day(std::int64_t t, std::int64_t offset_hours) {
  return {floor_mod(floor_div(t, 3600) + floor_mod(offset_hours, 24), 24),
          floor_mod(t, 3600) / 60, floor_mod(t, 60)};
}

std::optional<StartTime> parse_start_time(std::string_view tool, const std::string& hour,
                                          const std::string& minute, const std::string& second,
                                          std::ostream& err) {
  const auto h = field_in_range(tool, "hr", hour, 23, "an hour from 0 to 23", err);
  const auto m = field_in_range(tool, "min", minute, 59, "a minute from 0 to 59", err);
  const auto s = field_in_range(tool, "sec", second, 59, "a second from 0 to 59", err);
  if (!h || !m || !s) return std::nullopt;
  return StartTime{*h, *m, *s};
}

std::optional<TimeOfDay> wait_for_start(const StartTime& target, std::int64_t offset_hours,
                                        Clock& clock, std::ostream& out, TooLateEnding ending) {
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

void report_too_late(std::ostream& out, std::ostream& err, std::string_view tool,
                     const StartTime& target, std::int64_t offset_hours) {
  out.flush();
  const std::string zone =
      offset_hours == 0 ? std::string("UTC") : cformat("UTC%+lld", static_cast<long long>(offset_hours));
  err << tool << ": Too late!: the start time "
      << cformat("%02d:%02d:%02d", target.hour, target.minute, target.second) << " at " << zone
      << " has passed today; give a time later today in that zone\n";
}

}  // namespace iq
