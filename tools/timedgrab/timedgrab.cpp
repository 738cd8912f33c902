// timedgrab: waits for a time of day at a given offset from UTC, runs the capture command and
// writes the spectrum of its capture.
#include "timedgrab.hpp"

#include "runs/capture_command.hpp"
#include "io/text_format.hpp"
#include "time/time_of_day.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

// Frames are counted from the length itself: a capture one byte short of a whole number of
// frames loses its last frame.
constexpr CaptureSpectrumRules kTimedgrabRules{"timedgrab", kTimedgrabMaxPoints, false,
                                               "No. of Bytes = %lld   No. of FFTs=%lld\n"};

}  // namespace

int run_timedgrab(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return run_timedgrab(args, out, err, clock);
}

int run_timedgrab(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock) {
  return run_guarded("timedgrab", out, err, [&] {
    out << ctime_text(clock.now()) << '\n';
    if (args.size() < 6) {
      out << kTimedgrabUsage << '\n' << ctime_text(clock.now()) << '\n';
      report_argument_count(out, err, "timedgrab", args.size(), 6, true);
      return kExitFailure;
    }
    const std::int32_t offset_hours = whole_argument32("Hr offset", args[5]);
    const std::int32_t points = whole_argument32("No FFT points", args[1]);
    if (!accept_capture_points(points, args[1], kTimedgrabRules, out, err)) return kExitFailure;
    const auto target = parse_start_time("timedgrab", args[2], args[3], args[4], err);
    if (!target) return kExitFailure;
    out << cformat("Program Run Time: %ld hr  %ld min  %ld secs\n", static_cast<long>(target->hour),
                   static_cast<long>(target->minute), static_cast<long>(target->second));
    const std::string& command = args[0];
    check_capture_command(command);
    const CaptureNames names = capture_names(command);

    if (!wait_for_start(*target, offset_hours, clock, out, TooLateEnding::kNewline)) {
      report_too_late(out, err, "timedgrab", *target, offset_hours);
      return kExitFailure;
    }
    const bool analysed =
        capture_and_analyse(command, names, points, kTimedgrabRules, offset_hours, clock, out, err);
    return analysed ? kExitSuccess : kExitFailure;
  });
}

}  // namespace iq
