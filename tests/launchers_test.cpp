// grabspec, timedgrab and alarmexec from the command line, with iqsim as the capture program
// and a driven clock; one short real wait for each timed tool.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "alarmexec.hpp"
#include "time/clock.hpp"
#include "fake_clock.hpp"
#include "grabspec.hpp"
#include "iqspec.hpp"
#include "test_support.hpp"
#include "time/time_of_day.hpp"
#include "timedgrab.hpp"

namespace iq {
namespace {

using test::utc;
using ClockedTool = int(const ToolArgs&, std::ostream&, std::ostream&, Clock&);

test::RunResult run_on(ClockedTool* tool, const ToolArgs& args, Clock& clock) {
  std::ostringstream out, err;
  test::RunResult result;
  result.status = tool(args, out, err, clock);
  result.out = out.str();
  result.err = err.str();
  return result;
}

class LaunchersTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string cap = dir.path("cap.bin");
  std::string table = dir.path("cap.txt");
  // iqsim writes `samples` complex samples to cap.bin; `bytes` cuts the file to that length.
  std::string capture_command(int samples, long bytes = -1) const {
    std::string command = test::program("iqsim") + " " + cap + " -n " + std::to_string(samples);
    if (bytes >= 0) command += " && truncate -s " + std::to_string(bytes) + " " + cap;
    return command;
  }
  // The table iqspec writes for the first `bytes` bytes of the capture.
  std::string iqspec_table(long bytes, int points) {
    const std::string part = dir.path("part.bin"), part_table = dir.path("part.txt");
    std::string bytes_read = test::read_text(cap).substr(0, static_cast<std::size_t>(bytes));
    test::write_bytes(part, {bytes_read.begin(), bytes_read.end()});
    EXPECT_EQ(test::run_tool(run_iqspec, {part, part_table, std::to_string(points)}).status, 0);
    return test::read_text(part_table);
  }
  std::string infile_line(int points) const {
    return "\nInfile=" + cap + "    Outfile=" + table + "   FFT Points=" + std::to_string(points) + "\n";
  }
};

TEST_F(LaunchersTest, GrabspecCountsTheLengthPlusOneAndMatchesIqspec) {
  for (const std::int64_t t : {utc(test::kDay, 21, 30, 5), utc(test::kDay, 3, 0, 0)}) {
    test::FakeClock clock(t);
    const auto result = run_on(run_grabspec, {capture_command(48, 2 * 16 * 3 - 1), "16", "extra"}, clock);
    const std::string time = t % 86400 == 3 * 3600 ? "20hours 0mins 0secs\n" : "14hours 30mins 5secs\n";
    EXPECT_EQ(result.out, ctime_text(t) + "\nBinfile complete:  " + time +
                              "No. Bytes = 95   No. of FFTs=3\n" + infile_line(16) + "Finish time:  " + time);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_text(table), iqspec_table(95, 16));
  }
}

TEST_F(LaunchersTest, TimedgrabWaitsAtItsOffsetAndDropsAShortLastFrame) {
  const std::int64_t t = utc(test::kDay, 12, 29, 58);
  test::FakeClock clock(t);
  const auto result = run_on(run_timedgrab, {capture_command(48, 2 * 16 * 3 - 1), "16", "13", "30", "0", "1", "x"}, clock);
  EXPECT_EQ(result.out, ctime_text(t) + "\nProgram Run Time: 13 hr  30 min  0 secs\n" +
                            "Check: 13 hours 29  mins 58 secs\nBinfile complete:  13hours 30mins 0secs\n" +
                            "No. of Bytes = 95   No. of FFTs=2\n" + infile_line(16) +
                            "Finish time:  13hours 30mins 0secs\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(clock.sleeps, 2);
  EXPECT_EQ(test::read_text(table), iqspec_table(64, 16));
}

TEST_F(LaunchersTest, RefusalsComeBeforeTheCommandRuns) {
  const std::int64_t t = utc(test::kDay, 20, 59, 55);
  const std::string grab = capture_command(16);
  struct Case {
    ClockedTool* tool;
    ToolArgs args;
    std::string out_tail;  // after the date line
    std::string err_part;
  };
  for (const Case& c : {
           Case{run_grabspec, {grab}, "\nFormat: grabspec <\"sdrprog\"> <No FFT points>\n", ""},
           Case{run_grabspec, {grab, "4097"}, "\nToo many FFT points\n", ""},
           Case{run_grabspec, {grab, "1000"}, "\n", "No FFT points must be a power of two from 1 to 4096"},
           Case{run_timedgrab, {grab, "8", "14", "0", "0"},
                std::string("\n") + kTimedgrabUsage + "\n" + ctime_text(t) + "\n", ""},
           Case{run_timedgrab, {grab, "262145", "14", "0", "0", "-7"}, "\nToo many FFT points\n", ""},
           Case{run_timedgrab, {grab, "-8", "14", "0", "0", "-7"}, "\n", "from 1 to 262144 (got '-8')"},
           Case{run_timedgrab, {grab, "8", "24", "60", "60", "-7"}, "\n", "sec must be a second from 0 to 59"},
           Case{run_timedgrab, {grab, "8", "13", "59", "55", "-7"},
                "\nProgram Run Time: 13 hr  59 min  55 secs\nCheck: 13 hours 59  mins 55 secs\n\nToo late!\n", ""},
           Case{run_alarmexec, {grab, "14", "0"}, "Format: alarmexec <\"Runfile\"> <hr> <min> <sec>", ""},
           Case{run_alarmexec, {grab, "-1", "0", "0"}, "", "hr must be an hour from 0 to 23 (got '-1')"},
           Case{run_alarmexec, {grab, "13", "59", "55"},
                "Run Time: 13 hr  59 min  55 secs\nexecuting file name: " + grab +
                    "\nCheck: 13 hours 59  mins 55 secs\n\nToo late!", ""},
       }) {
    test::FakeClock clock(t);
    const auto result = run_on(c.tool, c.args, clock);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_EQ(result.out, ctime_text(t) + c.out_tail);
    EXPECT_NE(result.err.find(c.err_part), std::string::npos) << result.err;
    EXPECT_FALSE(test::exists(cap)) << result.out;
  }
}

TEST_F(LaunchersTest, LargestPointCountsRun) {
  test::FakeClock clock(utc(test::kDay, 20, 59, 55));
  EXPECT_EQ(run_on(run_grabspec, {capture_command(4096), "4096"}, clock).status, 0);
  EXPECT_EQ(test::read_lines(table).size(), 4096u);
  const auto result = run_on(run_timedgrab, {capture_command(262144), "262144", "20", "59", "56", "0"}, clock);
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("No. of Bytes = 524288   No. of FFTs=1\n"), std::string::npos);
  EXPECT_EQ(test::read_lines(table).size(), 262144u);
}

TEST_F(LaunchersTest, MissingCaptureIsReportedAfterTheCommand) {
  test::FakeClock clock(utc(test::kDay, 21, 30, 5));
  struct Case {
    std::string command, looked_for;
  };
  for (const Case& c : {Case{"true " + cap, cap}, Case{"true  " + cap, ""}}) {
    const auto result = run_on(run_grabspec, {c.command, "8"}, clock);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, ctime_text(clock.now()) + "\nBinfile complete:  14hours 30mins 5secs\n" +
                              "Can't open file " + c.looked_for + ". \n");
  }
  // A capture whose table name is its own name is left as it is.
  test::write_constant(table, 64, 0x42);
  const auto same = run_on(run_grabspec, {"true " + table, "8"}, clock);
  EXPECT_EQ(same.status, 1);
  EXPECT_NE(same.err.find("same file as an input"), std::string::npos);
  EXPECT_EQ(test::read_text(table), std::string(64, '\x42'));
}

TEST_F(LaunchersTest, AlarmexecRunsTheCommandAtTheTarget) {
  const std::int64_t t = utc(test::kDay, 20, 59, 55);
  test::FakeClock clock(t);
  const std::string touch = "touch " + cap;
  const auto result = run_on(run_alarmexec, {touch, "14", "0", "0", "extra"}, clock);
  EXPECT_EQ(result.out, ctime_text(t) + "Run Time: 14 hr  0 min  0 secs\nexecuting file name: " + touch +
                            "\nCheck: 13 hours 59  mins 55 secs\nActual Run Time: 14 hours 0  mins 0 secs\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(test::exists(cap));
}

// A real wait on the system clock, two seconds ahead; skipped in the two seconds before
// midnight in the zone, where the target would fall on the next day.
TEST_F(LaunchersTest, RealShortWaits) {
  for (const bool timed_grab : {false, true}) {
    SystemClock clock;
    const std::int64_t offset = timed_grab ? 0 : kFixedZoneOffsetHours;
    const TimeOfDay now = time_of_day(clock.now(), offset);
    const TimeOfDay target = time_of_day(clock.now() + 2, offset);
    if (seconds_of_day(target) < seconds_of_day(now)) GTEST_SKIP() << "too close to midnight";
    const ToolArgs fields{std::to_string(target.hour), std::to_string(target.minute),
                          std::to_string(target.second)};
    const auto started = std::chrono::steady_clock::now();
    const auto result =
        timed_grab ? test::run_tool(run_timedgrab, {capture_command(64), "8", fields[0], fields[1], fields[2], "0"})
                   : test::run_tool(run_alarmexec, {"touch " + cap, fields[0], fields[1], fields[2]});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    EXPECT_TRUE(test::exists(timed_grab ? table : cap));
    std::filesystem::remove(cap);
  }
}

}  // namespace
}  // namespace iq
