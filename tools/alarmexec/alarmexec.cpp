// alarmexec: waits for a time of day in the zone UTC-7, then runs a command line.
#include "alarmexec.hpp"

#include "cli/run_command.hpp"
#include "io/text_format.hpp"
#include "time/time_of_day.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

int run_alarmexec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return run_alarmexec(args, out, err, clock);
}

int run_alarmexec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock) {
  return run_guarded("alarmexec", out, err, [&] {
    out << ctime_text(clock.now());
    if (args.size() < 4) {
      out << kAlarmexecUsage;
      report_argument_count(out, err, "alarmexec", args.size(), 4, true);
      return kExitFailure;
    }
    const auto target = parse_start_time("alarmexec", args[1], args[2], args[3], err);
    if (!target) return kExitFailure;
    const std::string& command = args[0];
    out << cformat("Run Time: %ld hr  %ld min  %ld secs\n", static_cast<long>(target->hour),
                   static_cast<long>(target->minute), static_cast<long>(target->second));
    out << cformat("executing file name: %s\n", command.c_str());

    const auto start =
        wait_for_start(*target, kFixedZoneOffsetHours, clock, out, TooLateEnding::kNoNewline);
    if (!start) {
      report_too_late(out, err, "alarmexec", *target, kFixedZoneOffsetHours);
      return kExitFailure;
    }
    out << cformat("Actual Run Time: %ld hours %ld  mins %ld secs\n", static_cast<long>(start->hour),
                   static_cast<long>(start->minute), static_cast<long>(start->second));
    const int status = run_command(command, out);
    if (status != 0) throw ToolError("command '" + command + "' failed: " + command_failure(status));
    return kExitSuccess;
  });
}

}  // namespace iq
