// SPDX-License-Identifier: MIT
// grabspec: runs a capture command at once and writes the averaged power spectrum of the
// capture file it names.
#include "grabspec.hpp"

#include "cli/command.hpp"
#include "runs/capture_command.hpp"
#include "time/time_of_day.hpp"

namespace iq {

namespace {

constexpr const char* kGrabspecUsage = "Format: grabspec <\"sdrprog\"> <No FFT points>";
constexpr int kGrabspecMaxPoints = 4096;

// Frames are counted from the length plus one, as iqspec counts them.
constexpr CaptureSpectrumRules kGrabspecRules{"grabspec", kGrabspecMaxPoints, true,
                                              "No. Bytes = %lld   No. of FFTs=%lld\n"};

const Command kCommand{
    .tool = "grabspec",
    .usage = kGrabspecUsage,
    .summary =
        "Runs a capture program's command line at once, then writes the averaged power spectrum\n"
        "of the capture file named in it (the first word after the program's name) to a table\n"
        "named after that file. Arguments after the second are ignored.",
    .parameters = {text_parameter("\"sdrprog\""),
                   capture_points_parameter(kGrabspecMaxPoints, "a power of two from 1 to 4096")},
    .count = ArgumentCount::at_least,
};

}  // namespace

int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return run_grabspec(args, out, err, clock);
}

int run_grabspec(const ToolArgs& args, std::ostream& out, std::ostream& err, Clock& clock) {
  const RunHooks hooks{.preface = [&](std::ostream& console) { console << ctime_text(clock.now()) << '\n'; }};
  return run_program(
      kCommand, args, out, err,
      [&](Run& run) {
        const std::int32_t points = run.whole32(1);
        const std::string& command = run.text(0);
        check_capture_command(command);
        capture_and_analyse(command, capture_names(command), points, kGrabspecRules, kFixedZoneOffsetHours, clock,
                            out);
        return kExitSuccess;
      },
      hooks);
}

}  // namespace iq
