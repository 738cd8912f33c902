// SPDX-License-Identifier: MIT
// timedgrab: waits for a time of day at a given offset from UTC, runs the capture command and
// writes the spectrum of its capture.
#include "timedgrab.hpp"

#include "cli/command.hpp"
#include "io/text_format.hpp"
#include "runs/capture_command.hpp"
#include "time/time_of_day.hpp"

namespace iq {

namespace {

constexpr const char* kTimedgrabUsage =
    "Format: timedgrab <\"./iqgrab Binfile.bin + rtl commands\"> <No FFT points> <hr> <min> <sec> "
    "<Hr offset>";
constexpr int kTimedgrabMaxPoints = 262144;

// Frames are counted from the length itself: a capture one byte short of a whole number of
// frames loses its last frame.
constexpr CaptureSpectrumRules kTimedgrabRules{"timedgrab", kTimedgrabMaxPoints, false,
                                               "No. of Bytes = %lld   No. of FFTs=%lld\n"};

const Command kCommand{
    .tool = "timedgrab",
    .usage = kTimedgrabUsage,
    .summary =
        "Waits for a time of day at <Hr offset> hours from UTC, runs a capture program's command\n"
        "line, then writes the averaged power spectrum of the capture file named in it to a table\n"
        "named after that file. Arguments after the sixth are ignored.",
    .parameters = {text_parameter("\"./iqgrab Binfile.bin + rtl commands\""),
                   capture_points_parameter(kTimedgrabMaxPoints, "a power of two from 1 to 262144"), kStartHour,
                   kStartMinute, kStartSecond, whole_parameter("Hr offset")},
    .count = ArgumentCount::at_least,
};

int timed_run(Run& run, Clock& clock) {
  std::ostream& out = run.out();
  const std::int32_t offset_hours = run.whole32(5);
  const std::int32_t points = run.whole32(1);
  const StartTime target = start_time_argument(run, 2);
  out << cformat("Program Run Time: %ld hr  %ld min  %ld secs\n", static_cast<long>(target.hour),
                 static_cast<long>(target.minute), static_cast<long>(target.second));
  const std::string& command = run.text(0);
  check_capture_command(command);
  const CaptureNames names = capture_names(command);

  if (!wait_for_start(target, offset_hours, clock, out, TooLateEnding::kNewline)) {
    refuse_too_late(target, offset_hours);
  }
  capture_and_analyse(command, names, points, kTimedgrabRules, offset_hours, clock, out);
  return kExitSuccess;
}

}  // namespace

int run_timedgrab(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return run_timedgrab(args, out, err, clock);
}

int run_timedgrab(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock) {
  const auto print_time = [&](std::ostream& console) { console << ctime_text(clock.now()) << '\n'; };
  const RunHooks hooks{.preface = print_time, .after_usage = print_time};
  return run_program(
      kCommand, args, out, err, [&](Run& run) { return timed_run(run, clock); }, hooks);
}

}  // namespace iq
