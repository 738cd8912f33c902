// SPDX-License-Identifier: MIT
// alarmexec: waits for a time of day in the zone UTC-7, then runs a command line.
#include "alarmexec.hpp"

#include "cli/command.hpp"
#include "cli/run_command.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "time/time_of_day.hpp"

namespace iq {

namespace {

constexpr const char* kAlarmexecUsage = "Format: alarmexec <\"Runfile\"> <hr> <min> <sec>";

const Command kCommand{
    .tool = "alarmexec",
    .usage = kAlarmexecUsage,
    .summary =
        "Waits for a time of day in the zone UTC-7, then runs a command line through the shell.\n"
        "Arguments after the fourth are ignored.",
    .parameters = {text_parameter("Runfile"), kStartHour, kStartMinute, kStartSecond},
    .count = ArgumentCount::at_least,
    .usage_line_end = false,
};

int alarm_run(Run& run, Clock& clock) {
  std::ostream& out = run.out();
  const StartTime target = start_time_argument(run, 1);
  const std::string& command = run.text(0);
  out << cformat("Run Time: %ld hr  %ld min  %ld secs\n", static_cast<long>(target.hour),
                 static_cast<long>(target.minute), static_cast<long>(target.second));
  out << cformat("executing file name: %s\n", command.c_str());

  const auto start = wait_for_start(target, kFixedZoneOffsetHours, clock, out, TooLateEnding::kNoNewline);
  if (!start) refuse_too_late(target, kFixedZoneOffsetHours);
  out << cformat("Actual Run Time: %ld hours %ld  mins %ld secs\n", static_cast<long>(start->hour),
                 static_cast<long>(start->minute), static_cast<long>(start->second));
  const int status = run_command(command, out);
  if (status != 0) throw ToolError("command '" + command + "' failed: " + command_failure(status));
  return kExitSuccess;
}

}  // namespace

int run_alarmexec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return run_alarmexec(args, out, err, clock);
}

int run_alarmexec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock) {
  const RunHooks hooks{.preface = [&](std::ostream& console) { console << ctime_text(clock.now()); }};
  return run_program(
      kCommand, args, out, err, [&](Run& run) { return alarm_run(run, clock); }, hooks);
}

}  // namespace iq
