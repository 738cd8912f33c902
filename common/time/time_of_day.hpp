// Time of day in a fixed zone given as a whole-hour offset from UTC, and the wait for a start
// time later on the same day.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/arguments.hpp"
#include "time/clock.hpp"

namespace iq {

struct TimeOfDay {
  std::int64_t hour = 0;
  std::int64_t minute = 0;
  std::int64_t second = 0;
  bool operator==(const TimeOfDay&) const = default;
};

// The reading of clock value `t` (seconds since the epoch) at `offset_hours` from UTC. The
// fields always lie in 0 .. 23 and 0 .. 59, whatever the sign of t or of the offset.
TimeOfDay time_of_day(std::int64_t t, std::int64_t offset_hours);

constexpr std::int64_t seconds_of_day(const TimeOfDay& time) {
  return time.hour * 3600 + time.minute * 60 + time.second;
}

// Hour, minute and second as the user gave them.
struct StartTime {
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
};

// Parses the three target fields (atoi). Fields outside 0 .. 23, 0 .. 59, 0 .. 59 could never
// be matched: each one is refused with a line on `err`, and nothing is returned.
std::optional<StartTime> parse_start_time(std::string_view tool, const std::string& hour,
                                          const std::string& minute, const std::string& second,
                                          std::ostream& err);

// The zone of the runner's and the immediate launcher's times: UTC-7.
inline constexpr std::int64_t kFixedZoneOffsetHours = -7;

inline constexpr const char* kCheckLine = "Check: %ld hours %ld  mins %ld secs\n";
inline constexpr const char* kTooLate = "\nToo late!";

// How "Too late!" ends: the runner leaves the cursor after it, the launcher ends the line.
enum class TooLateEnding { kNoNewline, kNewline };

// Reads the clock, prints the Check line and, when the target is not later than now on the
// same day (at the offset), prints "Too late!" and returns nothing. Otherwise waits, one
// absolute sleep per second, until the first second whose reading equals the target and
// returns that reading. The fields of `target` must lie in their ranges (parse_start_time).
std::optional<TimeOfDay> wait_for_start(const StartTime& target, std::int64_t offset_hours,
                                        Clock& clock, std::ostream& out, TooLateEnding ending);

// The line on `err` beside "Too late!" (`out` is flushed first): "<tool>: Too late!: the start
// time 05:30:00 at UTC-7 has passed today; give a time later today in that zone".
void report_too_late(std::ostream& out, std::ostream& err, std::string_view tool,
                     const StartTime& target, std::int64_t offset_hours);

}  // namespace iq
