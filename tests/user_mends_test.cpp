// What a new user meets at the edges: inputs whose length cannot be measured, captures with no
// whole frame, numbers with characters left over, capture commands that fail or name no file,
// iqsim's guard of existing captures, names near the file system's limit, the stderr line beside
// each fixed failure text, iqplot's refusals and the progress line on an interrupt.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "alarmexec.hpp"
#include "cyclebin.hpp"
#include "cyclefold.hpp"
#include "cyclestack.hpp"
#include "test_support.hpp"
#include "grabspec.hpp"
#include "iqdump.hpp"
#include "iqplot.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "iqtrim.hpp"
#include "lagscan.hpp"
#include "levelhist.hpp"
#include "modspec.hpp"
#include "plot_script.hpp"
#include "powtrace.hpp"
#include "test_support.hpp"
#include "timedgrab.hpp"
#include "cli/arguments.hpp"
#include "io/progress_meter.hpp"
#include "io/tool_error.hpp"

namespace iq {
namespace {

using test::exists;
using test::run_tool;

// A clocked launcher run at 20:59:55 UTC (13:59:55 at UTC-7).
using ClockedTool = int(const ToolArgs&, std::ostream&, std::ostream&, Clock&);
test::RunResult run_at(ClockedTool* tool, const ToolArgs& args, std::int64_t t = test::utc(test::kDay, 20, 59, 55)) {
  test::FakeClock clock(t);
  std::ostringstream out, err;
  test::RunResult result;
  result.status = tool(args, out, err, clock);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Numbers: the whole text must be the number.

TEST(StrictNumberTest, KeepsTheConversionsValueAndRefusesLeftovers) {
  struct Case {
    const char* text;
    bool whole;
    std::int64_t integer;  // what atol would read
    double real;           // what atof would read
    const char* read_as_integer;
    const char* read_as_real;
  };
  const Case cases[] = {
      {"1024", true, 1024, 1024.0, "", ""},
      {"  -17", true, -17, -17.0, "", ""},
      {"+8", true, 8, 8.0, "", ""},
      {"1e3", false, 1, 1000.0, "1", ""},
      {"1024x", false, 1024, 1024.0, "1024", "1024"},
      {"2,4", false, 2, 2.0, "2", "2"},
      {"2.4.1", false, 2, 2.4, "2", "2.4"},
      {"abc", false, 0, 0.0, "0", "0"},
      {"", false, 0, 0.0, "0", "0"},
      {"12 ", false, 12, 12.0, "12", "12"},
      {"9999999999", true, 2147483647, 9999999999.0, "", ""},
  };
  for (const Case& c : cases) {
    const std::string text = c.text;
    if (c.whole) {
      EXPECT_EQ(whole_argument32("n", text), atol32(text)) << text;
      EXPECT_EQ(whole_argument64("n", text), atoll64(text)) << text;
      EXPECT_EQ(number_argument("n", text), atof_value(text)) << text;
      continue;
    }
    try {
      whole_argument32("count", text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()), "count '" + text + "' is not a number (it would be read as " +
                                           c.read_as_integer + ")");
    }
    EXPECT_THROW(whole_argument64("count", text), ToolError) << text;
    const bool real_whole = *c.read_as_real == '\0';
    if (real_whole) {
      EXPECT_EQ(number_argument("rate", text), c.real) << text;
    } else {
      try {
        number_argument("rate", text);
        ADD_FAILURE() << "accepted " << text;
      } catch (const ToolError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "rate '" + text + "' is not a number (it would be read as " + c.read_as_real + ")");
      }
    }
  }
}

// Every numeric argument of every tool: a number with characters left over is refused before
// any output exists, in one line that names the parameter and what would have been read.
TEST(PartialNumberTest, EveryNumericArgumentOfEveryToolIsRefused) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin"), cap2 = dir.path("cap2.bin"), outp = dir.path("out.txt");
  test::write_bytes(cap, test::random_bytes(4 * 16384, 7));
  test::write_bytes(cap2, test::random_bytes(4 * 16384, 8));
  const std::string grab = IQTOOLS_BIN_DIR "/iqsim " + dir.path("grab.bin") + " -n 64";
  struct Case {
    ToolFunction* tool;
    ClockedTool* clocked;
    ToolArgs args;
    std::string err;
  };
  const Case cases[] = {
      {run_iqspec, nullptr, {cap, outp, "1e3"}, "iqspec: No. FFT Points '1e3' is not a number (it would be read as 1)"},
      {run_iqspec, nullptr, {cap, outp, "1024x"}, "iqspec: No. FFT Points '1024x' is not a number (it would be read as 1024)"},
      {nullptr, run_grabspec, {grab, "64k"}, "grabspec: No FFT points '64k' is not a number (it would be read as 64)"},
      {nullptr, run_timedgrab, {grab, "8.0", "14", "0", "0", "-7"}, "timedgrab: No FFT points '8.0' is not a number (it would be read as 8)"},
      {nullptr, run_timedgrab, {grab, "8", "14h", "0", "0", "-7"}, "timedgrab: hr '14h' is not a number (it would be read as 14)"},
      {nullptr, run_timedgrab, {grab, "8", "14", "3O", "0", "-7"}, "timedgrab: min '3O' is not a number (it would be read as 3)"},
      {nullptr, run_timedgrab, {grab, "8", "14", "0", ".5", "-7"}, "timedgrab: sec '.5' is not a number (it would be read as 0)"},
      {nullptr, run_timedgrab, {grab, "8", "14", "0", "0", "UTC-7"}, "timedgrab: Hr offset 'UTC-7' is not a number (it would be read as 0)"},
      {nullptr, run_alarmexec, {"touch " + outp, "14:00", "0", "0"}, "alarmexec: hr '14:00' is not a number (it would be read as 14)"},
      {nullptr, run_alarmexec, {"touch " + outp, "14", "0x", "0"}, "alarmexec: min '0x' is not a number (it would be read as 0)"},
      {nullptr, run_alarmexec, {"touch " + outp, "14", "0", "5s"}, "alarmexec: sec '5s' is not a number (it would be read as 5)"},
      {run_cyclefold, nullptr, {cap, outp, "2,4", "100", "33.7", "1"}, "cyclefold: clock rate (MHz) '2,4' is not a number (it would be read as 2)"},
      {run_cyclefold, nullptr, {cap, outp, "2.4", "100.5", "33.7", "1"}, "cyclefold: output data points '100.5' is not a number (it would be read as 100)"},
      {run_cyclefold, nullptr, {cap, outp, "2.4", "100", "33,7", "1"}, "cyclefold: pulsar period(ms) '33,7' is not a number (it would be read as 33)"},
      {run_cyclefold, nullptr, {cap, outp, "2.4", "100", "33.7", "1/2"}, "cyclefold: Devisor '1/2' is not a number (it would be read as 1)"},
      {run_cyclestack, nullptr, {cap, outp, "2.4MHz", "100", "33.7"}, "cyclestack: clock rate (MHz) '2.4MHz' is not a number (it would be read as 2.4)"},
      {run_cyclestack, nullptr, {cap, outp, "2.4", "1e2", "33.7"}, "cyclestack: output data points '1e2' is not a number (it would be read as 1)"},
      {run_cyclestack, nullptr, {cap, outp, "2.4", "100", "33.7ms"}, "cyclestack: pulsar period(ms) '33.7ms' is not a number (it would be read as 33.7)"},
      {run_cyclebin, nullptr, {cap, outp, "2.4", "100", "33.7", "two"}, "cyclebin: file divisor 'two' is not a number (it would be read as 0)"},
      {run_cyclebin, nullptr, {cap, outp, "", "100", "33.7", "1"}, "cyclebin: clock rate (MHz) '' is not a number (it would be read as 0)"},
      {run_powtrace, nullptr, {cap, outp, "2,4", "10", "1"}, "powtrace: clock rate (MHz) '2,4' is not a number (it would be read as 2)"},
      {run_powtrace, nullptr, {cap, outp, "2.4", "10k", "1"}, "powtrace: video band (kHz) '10k' is not a number (it would be read as 10)"},
      {run_powtrace, nullptr, {cap, outp, "2.4", "10", "1.5"}, "powtrace: file divisor '1.5' is not a number (it would be read as 1)"},
      {run_modspec, nullptr, {cap, outp, "2,4", "10", "16"}, "modspec: clock rate (MHz) '2,4' is not a number (it would be read as 2)"},
      {run_modspec, nullptr, {cap, outp, "2.4", "1O", "16"}, "modspec: video band (kHz) '1O' is not a number (it would be read as 1)"},
      {run_modspec, nullptr, {cap, outp, "2.4", "10", "2^4"}, "modspec: fft size '2^4' is not a number (it would be read as 2)"},
      {run_lagscan, nullptr, {cap, cap2, outp, "100 ", "2"}, "lagscan: sample length '100 ' is not a number (it would be read as 100)"},
      {run_lagscan, nullptr, {cap, cap2, outp, "100", "2b"}, "lagscan: No 8192 IQ blocks '2b' is not a number (it would be read as 2)"},
      {run_iqtrim, nullptr, {cap, outp, "1e9", "0"}, "iqtrim: No 8192 IQ blocks '1e9' is not a number (it would be read as 1)"},
      {run_iqtrim, nullptr, {cap, outp, "1", "-7,000"}, "iqtrim: Align address '-7,000' is not a number (it would be read as -7)"},
      {run_iqdump, nullptr, {cap, outp, "0x10", "20"}, "iqdump: number of 8192 I/Q blocks-start '0x10' is not a number (it would be read as 0)"},
      {run_iqdump, nullptr, {cap, outp, "0", "2-3"}, "iqdump: number of 8192 I/Q blocks-end '2-3' is not a number (it would be read as 2)"},
  };
  for (const Case& c : cases) {
    const auto result = c.tool != nullptr ? run_tool(c.tool, c.args) : run_at(c.clocked, c.args);
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_EQ(result.err, c.err + "\n");
    EXPECT_FALSE(exists(outp)) << c.err;
    EXPECT_FALSE(exists(dir.path("grab.bin"))) << c.err;
  }
  // Numbers written wholly, with blanks before and a sign, still run.
  EXPECT_EQ(run_tool(run_iqspec, {cap, outp, " +64"}).status, 0);
  EXPECT_EQ(run_tool(run_cyclestack, {cap, outp, " 2.4", "+16", "1e-1"}).status, 0);
}

// ---------------------------------------------------------------------------------------------
// Inputs whose length cannot be measured, and captures with no whole frame.

std::string bin(const std::string& name) { return std::string(IQTOOLS_BIN_DIR) + "/" + name; }

TEST(UnmeasurableInputTest, ToolsThatNeedTheLengthRefuseAPipe) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin"), outp = dir.path("out.txt");
  test::write_bytes(cap, test::random_bytes(2 * 16384, 3));
  const std::string refusal =
      ": Can't measure the length of /dev/stdin: it is a pipe or a terminal; save the capture to a file first "
      "and give its name\n";
  struct Case {
    std::string tool;
    std::string args;  // after the input and the output
  };
  const Case cases[] = {
      {"iqspec", "1024"},         {"levelhist", ""},           {"modspec", "2.4 10 16"},
      {"powtrace", "2.4 10 1"},   {"cyclefold", "2.4 64 1 1"}, {"cyclestack", "2.4 64 1"},
      {"cyclebin", "2.4 64 1 1"},
  };
  for (const Case& c : cases) {
    const auto result = test::run_program("(cat " + cap + " | " + bin(c.tool) + " /dev/stdin " + outp + " " + c.args +
                                          " 2>&1 >/dev/null)");
    EXPECT_EQ(result.status, 1) << c.tool;
    EXPECT_EQ(result.out, c.tool + refusal);
    EXPECT_FALSE(exists(outp)) << c.tool;
  }
  const auto lag = test::run_program("(cat " + cap + " | " + bin("lagscan") + " /dev/stdin " + cap + " " + outp +
                                     " 100 2 2>&1 >/dev/null)");
  EXPECT_EQ(lag.status, 1);
  EXPECT_EQ(lag.out, "lagscan" + refusal);
  EXPECT_FALSE(exists(outp));
  // The tools that need no length keep working from a pipe.
  EXPECT_EQ(test::run_program("cat " + cap + " | " + bin("iqdump") + " /dev/stdin " + outp + " 0 1").status, 0);
  EXPECT_EQ(test::read_lines(outp).size(), 8192u);
  EXPECT_EQ(test::run_program("cat " + cap + " | " + bin("iqtrim") + " /dev/stdin " + dir.path("cut.bin") + " 1 0").status, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path("cut.bin")), 16384u);
  // A capture redirected from a file can be measured.
  EXPECT_EQ(test::run_program(bin("iqspec") + " /dev/stdin " + outp + " 64 < " + cap).status, 0);
}

TEST(NoWholeFrameTest, TableAsDefinedButExitStatusOneAndALine) {
  test::ScratchDir dir;
  const std::string empty = dir.path("empty.bin"), shorter = dir.path("short.bin"), outp = dir.path("out.txt");
  test::write_bytes(empty, {});
  test::write_constant(shorter, 100, 0x80);
  struct Case {
    ToolFunction* tool;
    std::vector<std::string> rest;
    std::string err;  // after "<file> holds no whole "
  };
  const Case cases[] = {
      {run_iqspec, {"64"}, "frame of 64 samples"},
      {run_levelhist, {}, "chunk of 512 bytes"},
      {run_modspec, {"2.4", "100", "16"}, "frame of 16 video points of 24 samples"},
      {run_powtrace, {"2.4", "10", "1"}, "video point of 240 samples"},
      {run_cyclefold, {"2.4", "64", "1", "1"}, "block of 64 samples"},
      {run_cyclestack, {"2.4", "64", "1"}, "block of 64 samples"},
      {run_cyclebin, {"2.4", "64", "1", "1"}, "block of 64 samples"},
  };
  for (const std::string& input : {empty, shorter}) {
    for (const Case& c : cases) {
      std::vector<std::string> args{input, outp};
      args.insert(args.end(), c.rest.begin(), c.rest.end());
      const auto result = run_tool(c.tool, args);
      EXPECT_EQ(result.status, 1) << c.err;
      EXPECT_NE(result.out.find("Outfile=" + outp), std::string::npos) << result.out;
      EXPECT_TRUE(exists(outp)) << c.err;
      const std::string name = result.err.substr(0, result.err.find(':'));
      EXPECT_EQ(result.err.substr(name.size()), ": " + input + " holds no whole " + c.err + "\n");
      std::filesystem::remove(outp);
    }
  }
  // A divisor that leaves less than a frame names the part that was read.
  test::write_constant(shorter, 600, 0x80);
  const auto part = run_tool(run_cyclebin, {shorter, outp, "2.4", "64", "1", "5"});
  EXPECT_EQ(part.err, "cyclebin: 1/5 of " + shorter + " holds no whole block of 64 samples\n");
  const auto lag = run_tool(run_lagscan, {shorter, shorter, outp, "100", "2"});
  EXPECT_EQ(lag.status, 1);
  EXPECT_EQ(lag.err, "lagscan: " + shorter + " holds no whole pair of blocks of 8192 samples\n");
  // One whole frame is enough.
  test::write_constant(shorter, 128, 0x80);
  EXPECT_EQ(run_tool(run_iqspec, {shorter, outp, "64"}).status, 0);
}

// ---------------------------------------------------------------------------------------------
// The fixed failure texts keep their place on the console and get a reason on stderr.

TEST(DefinedFailureTextTest, EachHasItsReasonOnStandardError) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin"), other = dir.path("other.bin"), outp = dir.path("out.txt");
  test::write_constant(cap, 4 * 16384, 0x80);
  test::write_constant(other, 2 * 16384, 0x80);
  std::filesystem::create_directory(dir.path("folder"));
  const std::string missing = dir.path("missing.bin");
  struct Case {
    ToolFunction* tool;
    ToolArgs args;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {run_iqspec, {missing, outp, "64"}, "Can't open file " + missing + ". ",
       "iqspec: Can't open file " + missing + ": No such file or directory"},
      {run_levelhist, {dir.path("folder"), outp}, "Can't open file " + dir.path("folder") + ". ",
       "levelhist: Can't open file " + dir.path("folder") + ": Is a directory"},
      {run_iqtrim, {missing, outp, "1", "0"}, "Can't open file " + missing + ".\n",
       "iqtrim: Can't open file " + missing + ": No such file or directory"},
      {run_lagscan, {cap, missing, outp, "100", "2"}, "Can't open file " + missing + ". \n",
       "lagscan: Can't open file " + missing + ": No such file or directory"},
      {run_cyclefold, {missing, outp, "2.4", "64", "1", "1"}, "Can't open file " + missing + ". \n",
       "cyclefold: Can't open file " + missing + ": No such file or directory"},
      {run_iqspec, {cap, outp, "262144"}, "Too many FFT points",
       "iqspec: Too many FFT points: No. FFT Points 262144 is above 131072"},
      {run_modspec, {cap, outp, "2.4", "10", "524288"}, "Too many FFT points",
       "modspec: Too many FFT points: fft size 524288 is above 262144"},
      {run_lagscan, {cap, other, outp, "100", "2"}, "Infiles unequal length\n",
       "lagscan: Infiles unequal length: " + cap + " holds 65536 bytes, " + other + " 32768"},
      {run_iqspec, {cap, outp}, std::string(kIqspecUsage) + "\n", "iqspec: wrong number of arguments: 2 given, 3 needed"},
      {run_levelhist, {cap, outp, "x"}, std::string(kLevelhistUsage) + "\n",
       "levelhist: wrong number of arguments: 3 given, 2 needed"},
      {run_cyclestack, {cap, outp, "2.4", "64", "1", "1"}, std::string(kCyclestackUsage) + "\n",
       "cyclestack: wrong number of arguments: 6 given, 5 needed"},
      {run_iqtrim, {}, std::string(kIqtrimUsage) + "\n", "iqtrim: wrong number of arguments: 0 given, 4 needed"},
  };
  for (const Case& c : cases) {
    const auto result = run_tool(c.tool, c.args);
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err + "\n");
    EXPECT_FALSE(exists(outp));
  }
  EXPECT_EQ(run_at(run_grabspec, {"true"}).err, "grabspec: wrong number of arguments: 1 given, at least 2 needed\n");
  EXPECT_EQ(run_at(run_timedgrab, {"true", "8", "1", "2", "3"}).err,
            "timedgrab: wrong number of arguments: 5 given, at least 6 needed\n");
  EXPECT_EQ(run_at(run_alarmexec, {"true", "1", "2"}).err,
            "alarmexec: wrong number of arguments: 3 given, at least 4 needed\n");
  const auto grab = run_at(run_grabspec, {"true", "8192"});
  EXPECT_EQ(grab.err, "grabspec: Too many FFT points: No FFT points 8192 is above 4096\n");
  const auto late = run_at(run_timedgrab, {"true x.bin", "8", "13", "59", "55", "-7"});
  EXPECT_EQ(late.status, 1);
  EXPECT_EQ(late.err,
            "timedgrab: Too late!: the start time 13:59:55 at UTC-7 has passed today; give a time later today in "
            "that zone\n");
  const auto late_alarm = run_at(run_alarmexec, {"true", "5", "0", "0"});
  EXPECT_EQ(late_alarm.status, 1);
  EXPECT_EQ(late_alarm.err,
            "alarmexec: Too late!: the start time 05:00:00 at UTC-7 has passed today; give a time later today in "
            "that zone\n");
  const auto late_utc = run_at(run_timedgrab, {"true x.bin", "8", "20", "0", "0", "0"});
  EXPECT_NE(late_utc.err.find(" at UTC has passed"), std::string::npos) << late_utc.err;
}

// ---------------------------------------------------------------------------------------------
// Capture commands: a command that fails, or whose capture file does not follow the program.

TEST(LauncherCommandTest, FailuresAndMisplacedFilesAreReported) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin");
  struct Case {
    ClockedTool* tool;
    ToolArgs args;
    std::string err;
    bool ran;  // whether the command ran (then the console shows the times)
  };
  const std::string option_first = IQTOOLS_BIN_DIR "/iqsim --seconds 0.1 " + cap;
  const std::string misplaced = "capture command '" + option_first +
                                "': the capture file must follow the program's name (found '--seconds' there); "
                                "put the file name first, the options after it";
  const Case cases[] = {
      {run_grabspec, {option_first, "64"}, "grabspec: " + misplaced, false},
      {run_timedgrab, {option_first, "64", "14", "0", "0", "-7"}, "timedgrab: " + misplaced, false},
      {run_grabspec, {"exit 3 " + cap, "64"},
       "grabspec: capture command 'exit 3 " + cap + "' failed: exit status 3; no spectrum was made", true},
      {run_grabspec, {"./no-such-program " + cap, "64"},
       "grabspec: capture command './no-such-program " + cap + "' failed: exit status 127; no spectrum was made",
       true},
      {run_grabspec, {"true " + cap + " ; kill -9 $$", "64"},
       "grabspec: capture command 'true " + cap + " ; kill -9 $$" +
           "' failed: exit status 137 (killed by signal 9: Killed); no spectrum was made",
       true},
      {run_timedgrab, {"exit 1 " + cap, "64", "13", "59", "56", "-7"},
       "timedgrab: capture command 'exit 1 " + cap + "' failed: exit status 1; no spectrum was made", true},
      {run_alarmexec, {"exit 4", "13", "59", "56"}, "alarmexec: command 'exit 4' failed: exit status 4", true},
  };
  for (const Case& c : cases) {
    const auto result = run_at(c.tool, c.args);
    EXPECT_EQ(result.status, 1) << c.err;
    // The first line of err is the reason; "sh: not found" and the like may come before it.
    EXPECT_NE(result.err.find(c.err + "\n"), std::string::npos) << result.err;
    EXPECT_FALSE(exists(cap)) << c.err;
    EXPECT_FALSE(exists(dir.path("cap.txt"))) << c.err;
    EXPECT_EQ(result.out.find("Binfile complete"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Check:") != std::string::npos, c.ran && c.tool != static_cast<ClockedTool*>(run_grabspec)) << result.out;
  }
  // A command that succeeds still gives its spectrum.
  const auto good = run_at(run_grabspec, {IQTOOLS_BIN_DIR "/iqsim " + cap + " -n 128", "64"});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_TRUE(exists(dir.path("cap.txt")));
}

// ---------------------------------------------------------------------------------------------
// iqsim never replaces a capture unasked, and never starts one that cannot fit.

TEST(IqsimGuardTest, ExistingFilesAndFreeSpace) {
  test::ScratchDir dir;
  const std::string cap = dir.path("real.bin");
  test::write_constant(cap, 10, 0x42);
  struct Case {
    ToolArgs args;
    int status;
    std::string err;
    bool replaced;
  };
  const Case cases[] = {
      {{cap, "-n", "8"}, 1, "iqsim: Can't create file " + cap + ": it exists; give --force to replace it\n", false},
      {{"-n", "8", cap}, 1, "iqsim: Can't create file " + cap + ": it exists; give --force to replace it\n", false},
      {{cap, "-n", "8", "--force"}, 0, "", true},
      {{"-f", cap, "-n", "8"}, 0, "", true},
  };
  for (const Case& c : cases) {
    test::write_constant(cap, 10, 0x42);
    const auto result = run_tool(run_iqsim, c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(std::filesystem::file_size(cap), c.replaced ? 16u : 10u);
  }
  // Devices are written as given.
  EXPECT_EQ(run_tool(run_iqsim, {"/dev/null", "-n", "8"}).status, 0);
  // No file system has room for 8 EB: refused before anything is created. Run with a limit on
  // the file size, so that a guard that failed would end at once instead of filling the disk.
  const std::string huge = dir.path("huge.bin");
  const auto result = test::run_program("ulimit -f 64; " + bin("iqsim") + " " + huge + " -n 4000000000000000000");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.rfind("iqsim: Can't create file " + huge + ": 8000000000000000000 bytes do not fit in the ", 0), 0u)
      << result.out;
  EXPECT_NE(result.out.find(" bytes free on its file system\n"), std::string::npos) << result.out;
  EXPECT_FALSE(exists(huge));
}

// ---------------------------------------------------------------------------------------------
// Names near the file system's limit: the temporary name fits whenever the final name does.

TEST(LongNameTest, OutputsNamedUpToTheLimitAreWritten) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin");
  test::write_constant(cap, 4096, 0x80);
  const long name_max = ::pathconf(dir.path("").c_str(), _PC_NAME_MAX);
  ASSERT_GT(name_max, 20);
  for (long length : {name_max - 15, name_max - 14, name_max - 1, name_max}) {
    const std::string name = std::string(static_cast<std::size_t>(length - 4), 'n') + ".txt";
    const std::string outp = dir.path(name);
    const auto result = run_tool(run_iqspec, {cap, outp, "64"});
    EXPECT_EQ(result.status, 0) << length << ": " << result.err;
    EXPECT_EQ(test::read_lines(outp).size(), 64u) << length;
    // Written again, it replaces the old table and leaves no temporary file beside it.
    EXPECT_EQ(run_tool(run_iqspec, {cap, outp, "32"}).status, 0);
    EXPECT_EQ(test::read_lines(outp).size(), 32u);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path(""))) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u) << length;
    std::filesystem::remove(outp);
  }
  // A name past the limit is the file system's refusal, as before.
  const std::string too_long = dir.path(std::string(static_cast<std::size_t>(name_max + 1), 'n'));
  const auto result = run_tool(run_iqspec, {cap, too_long, "64"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("File name too long"), std::string::npos) << result.err;
}

// ---------------------------------------------------------------------------------------------
// The progress line is erased when a signal ends the run.

TEST(ProgressOnSignalTest, TheLineIsErasedBeforeTheProcessEnds) {
  test::ScratchDir dir;
  const std::string log = dir.path("terminal.txt");
  for (const int signal_number : {SIGINT, SIGTERM}) {
    EXPECT_EXIT(
        {
          const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
          double now = 0.0;
          ProgressMeter meter(fd, "cap.bin", 1000, [&] { return now; });
          now = 2.0;
          meter.update(500);
          ::raise(signal_number);
          ::_exit(0);
        },
        ::testing::KilledBySignal(signal_number), "");
    const std::string shown = test::read_text(log);
    const std::string line = ProgressMeter::line("cap.bin", 500, 1000, 2.0);
    EXPECT_EQ(shown, "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  }
}

// ---------------------------------------------------------------------------------------------
// iqplot: options that did nothing or the wrong thing.

TEST(IqplotMendsTest, RefusalsBeforeAnyPicture) {
  test::ScratchDir dir;
  const std::string spectrum = dir.path("spectrum.txt"), nan_table = dir.path("nan.txt");
  {
    std::ofstream file(spectrum);
    for (int i = -8; i < 8; ++i) file << i << "    " << (i == 0 ? "5.000" : "1.000") << "\n";
    std::ofstream nan_file(nan_table);
    for (int i = -8; i < 8; ++i) nan_file << i << "    -nan\n";
  }
  const std::string png = dir.path("p.png");
  struct Case {
    ToolArgs args;
    std::string err;
  };
  const Case cases[] = {
      {{spectrum, png, "--centre", "1420.4"}, "iqplot: option --centre must be given with --rate (or a capture's metadata): the frequency axis needs the sample rate"},
      {{spectrum, dir.path("p.jpg")}, "iqplot: Can't draw " + dir.path("p.jpg") + ": a picture's name must end in .png or .svg"},
      {{spectrum, dir.path("picture")}, "iqplot: Can't draw " + dir.path("picture") + ": a picture's name must end in .png or .svg"},
      {{spectrum, png, "--kind", "levels"}, "iqplot: option --kind levels does not fit " + spectrum + ": it has the layout of a spectrum table"},
      {{spectrum, png, "--kind", "profile"}, "iqplot: option --kind profile does not fit " + spectrum + ": it has 2 columns, a profile table 3"},
      {{spectrum, png, "--kind", "powtrace", "--db"}, "iqplot: option --kind powtrace does not fit " + spectrum + ": it has the layout of a spectrum table"},
      {{nan_table, png}, "iqplot: the table " + nan_table + " holds no finite value (every value is nan): the run that wrote it measured nothing"},
      {{spectrum, png, "--folded", "phase"}, "iqplot: option --folded must be amplitude or power (got 'phase')"},
  };
  for (const Case& c : cases) {
    const auto result = run_tool(run_iqplot, c.args);
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_EQ(result.err, c.err + "\n");
    EXPECT_FALSE(exists(png));
    EXPECT_FALSE(exists(dir.path("p.jpg")));
  }
}

// A 256-point spectrum whose values add up to 512 has the layout of a level table; --kind
// spectrum overrules that, and only that. Drawn with gnuplot when it is installed.
TEST(IqplotMendsTest, KindSpectrumOverrulesALevelLookalikeAndDecibelsDraw) {
  test::ScratchDir dir;
  const std::string table = dir.path("lookalike.txt"), svg = dir.path("p.svg");
  {
    std::ofstream file(table);
    for (int i = -128; i < 128; ++i) file << i << "    2.000\n";
  }
  struct Case {
    ToolArgs options;
    bool accepted;
    std::string err;
  };
  const Case cases[] = {
      {{}, true, ""},
      {{"--kind", "spectrum", "--db"}, true, ""},
      {{"--kind", "spectrum", "--rate", "2.4", "--centre", "1420.4"}, true, ""},
      {{"--db"}, false, "iqplot: option --db must be given for a spectrum only\n"},
  };
  const bool have_gnuplot = test::run_program("command -v gnuplot").status == 0;
  for (const Case& c : cases) {
    ToolArgs args{table, svg};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto result = run_tool(run_iqplot, args);
    if (c.accepted) {
      // Past every refusal of the options: drawn, or stopped only for want of gnuplot.
      EXPECT_EQ(result.status, have_gnuplot ? 0 : 1) << result.err;
      if (have_gnuplot) {
        EXPECT_NE(test::read_text(svg).find("<svg"), std::string::npos);
      } else {
        EXPECT_NE(result.err.find("gnuplot is not installed"), std::string::npos) << result.err;
      }
    } else {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, c.err);
    }
    std::filesystem::remove(svg);
  }
}

TEST(IqplotMendsTest, ProfileLabelsCountsFromZeroAndDecibels) {
  struct Case {
    TableKind kind;
    std::optional<FoldedQuantity> folded;
    bool decibels;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {TableKind::kProfile, FoldedQuantity::kAmplitude, false, {"'Mean amplitude per sample'", "set yrange [0:*]\nplot"}, {"Mean power"}},
      {TableKind::kProfile, FoldedQuantity::kPower, false, {"'Mean power per sample'"}, {"amplitude"}},
      {TableKind::kProfile, {}, false, {"'Mean amplitude (cyclefold) or power (cyclestack, cyclebin) per sample'"}, {}},
      {TableKind::kSpectrum, {}, true, {"'Mean power per frame (dB)'", ":($2 > 0 ? 10 * log10($2) : NaN)"}, {}},
      {TableKind::kSpectrum, {}, false, {"'Mean power per frame'", ":2 with lines"}, {"log10", "(dB)"}},
  };
  for (const Case& c : cases) {
    PlotSettings settings;
    settings.kind = c.kind;
    settings.rows = 64;
    settings.table = "t.txt";
    settings.folded = c.folded;
    settings.decibels = c.decibels;
    const std::string script = plot_script(settings);
    for (const auto& text : c.present) EXPECT_NE(script.find(text), std::string::npos) << text << "\n" << script;
    for (const auto& text : c.absent) EXPECT_EQ(script.find(text), std::string::npos) << text << "\n" << script;
  }
}

}  // namespace
}  // namespace iq
