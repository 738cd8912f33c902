// SPDX-License-Identifier: MIT
// Time of day in a fixed zone given as a whole-hour offset from UTC, and the wait for a start
// time later on the same day.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/command.hpp"
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

// The three target fields as parameters of a command: fields outside 0 .. 23, 0 .. 59, 0 .. 59
// could never be matched and are refused.
inline constexpr Parameter kStartHour = whole_parameter("hr", 0, 23, "an hour from 0 to 23");
inline constexpr Parameter kStartMinute = whole_parameter("min", 0, 59, "a minute from 0 to 59");
inline constexpr Parameter kStartSecond = whole_parameter("sec", 0, 59, "a second from 0 to 59");

// The start time given by the run's arguments `first` .. `first` + 2 (hour, minute, second).
StartTime start_time_argument(const Run& run, std::size_t first);

// The zone of the runner's and the immediate launcher's times: UTC-7.
inline constexpr std::int64_t kFixedZoneOffsetHours = -7;

inline constexpr const char* kCheckLine = "Check: %ld hours %ld  mins %ld secs\n";
inline constexpr const char* kTooLate = "\nToo late!";

// How "Too late!" ends: the runner leaves the cursor after it, the launcher ends the line.
enum class TooLateEnding { kNoNewline, kNewline };

// Reads the clock, prints the Check line and, when the target is not later than now on the
// same day (at the offset), prints "Too late!" and returns nothing. Otherwise waits, one
// absolute sleep per second, until the first second whose reading equals the target and
// returns that reading. The fields of `target` must lie in their ranges (start_time_argument).
std::optional<TimeOfDay> wait_for_start(const StartTime& target, std::int64_t offset_hours, Clock& clock,
                                        std::ostream& out, TooLateEnding ending);

// The failure beside "Too late!" (already on the console): "Too late!: the start time 05:30:00
// at UTC-7 has passed today; give a time later today in that zone".
[[noreturn]] void refuse_too_late(const StartTime& target, std::int64_t offset_hours);

}  // namespace iq
