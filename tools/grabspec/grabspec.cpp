// grabspec: the capture command at once, then the spectrum of its capture, with times of day
// in the zone UTC-7.
#include "grabspec.hpp"

#include "runs/capture_command.hpp"
#include "time/time_of_day.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

// Frames are counted from the length plus one.
constexpr CaptureSpectrumRules kGrabspecRules{"grabspec", kGrabspecMaxPoints, true,
                                              "No. Bytes = %lld   No. of FFTs=%lld\n"};

}  // namespace

int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return run_grabspec(args, out, err, clock);
}

int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock) {
  return run_guarded("grabspec", out, err, [&] {
    out << ctime_text(clock.now()) << '\n';
    if (args.size() < 2) {
      out << kGrabspecUsage << '\n';
      report_argument_count(out, err, "grabspec", args.size(), 2, true);
      return kExitFailure;
    }
    const std::int32_t points = whole_argument32("No FFT points", args[1]);
    if (!accept_capture_points(points, args[1], kGrabspecRules, out, err)) return kExitFailure;
    const std::string& command = args[0];
    check_capture_command(command);
    const CaptureNames names = capture_names(command);
    const bool analysed = capture_and_analyse(command, names, points, kGrabspecRules,
                                              kFixedZoneOffsetHours, clock, out, err);
    return analysed ? kExitSuccess : kExitFailure;
  });
}

}  // namespace iq
