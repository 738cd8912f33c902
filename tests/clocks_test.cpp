// SPDX-License-Identifier: MIT
// What the golden corpus cannot show of the timed tools: the time of day at an offset, the wait
// for a start time on a driven clock (woken early by signals), timedgrab and alarmexec running
// at their start time, and one real short wait.
#include <chrono>
#include <ctime>
#include <sstream>

#include "alarmexec.hpp"
#include "test_support.hpp"
#include "time/time_of_day.hpp"
#include "timedgrab.hpp"

namespace iq {
namespace {

using test::kDay;
using test::utc;

TEST(ClocksTest, TimeOfDayAtAnOffset) {
  for (const auto& [t, offset, expected] : std::vector<std::tuple<std::int64_t, std::int64_t, TimeOfDay>>{
           {utc(kDay, 20, 59, 50), -7, {13, 59, 50}},
           {utc(kDay, 3, 0, 0), -7, {20, 0, 0}},
           {utc(kDay, 12, 29, 58), 1, {13, 29, 58}},
           {utc(kDay, 23, 0, 1), 25, {0, 0, 1}},
           {utc(test::kDayAfter2038, 6, 7, 8), 0, {6, 7, 8}},
           {-1, 0, {23, 59, 59}}}) {
    EXPECT_EQ(time_of_day(t, offset), expected) << t << " " << offset;
  }
  for (const std::time_t t :
       {std::time_t{0}, std::time_t{utc(kDay, 20, 42, 38)}, std::time_t{utc(test::kDayAfter2038, 0, 0, 0)}}) {
    EXPECT_EQ(ctime_text(t), std::ctime(&t));
  }
}

TEST(ClocksTest, WaitEndsInTheFirstMatchingSecondOrIsTooLate) {
  for (const int early_wakes_every : {0, 2}) {
    for (const std::int64_t day : {kDay, test::kDayAfter2038}) {
      test::FakeClock clock(utc(day, 20, 59, 50), early_wakes_every);
      std::ostringstream out;
      EXPECT_EQ(wait_for_start({14, 0, 0}, -7, clock, out, TooLateEnding::kNewline), (TimeOfDay{14, 0, 0}));
      EXPECT_EQ(out.str(), "Check: 13 hours 59  mins 50 secs\n");
      // Every second up to the target was read, and the wait stopped at the target.
      EXPECT_EQ(clock.reads.back(), utc(day, 21, 0, 0));
      for (std::int64_t t = utc(day, 20, 59, 50); t <= utc(day, 21, 0, 0); ++t) {
        EXPECT_NE(std::find(clock.reads.begin(), clock.reads.end(), t), clock.reads.end()) << t;
      }
      EXPECT_EQ(clock.sleeps, early_wakes_every == 0 ? 10 : 20 - 1);
    }
  }
  for (const auto ending : {TooLateEnding::kNoNewline, TooLateEnding::kNewline}) {
    test::FakeClock clock(utc(kDay, 23, 59, 55));
    std::ostringstream out;
    EXPECT_FALSE(wait_for_start({0, 0, 5}, 0, clock, out, ending));
    EXPECT_EQ(out.str(), std::string("Check: 23 hours 59  mins 55 secs\n\nToo late!") +
                             (ending == TooLateEnding::kNewline ? "\n" : ""));
    EXPECT_EQ(clock.sleeps, 0);
  }
}

using ClockedTool = int(const ToolArgs&, std::ostream&, std::ostream&, Clock&);
test::RunResult run_on(ClockedTool* tool, const ToolArgs& args, Clock& clock) {
  std::ostringstream out, err;
  const int status = tool(args, out, err, clock);
  return {status, out.str(), err.str()};
}

TEST(ClocksTest, TimedToolsRunAtTheirStartTime) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin"), table = dir.path("cap.txt");
  // A capture of 95 bytes at 16 points: two whole frames and a short third that is dropped.
  test::write_bytes(dir.path("source.bin"), test::random_bytes(95, 1));
  const std::int64_t t = utc(kDay, 12, 29, 58);
  test::FakeClock clock(t);
  const std::string grab = "cp " + dir.path("source.bin") + " " + cap;
  const auto grabbed =
      run_on(run_timedgrab, {"true " + cap + " && " + grab, "16", "13", "30", "0", "1", "x"}, clock);
  EXPECT_EQ(grabbed.out,
            ctime_text(t) + "\nProgram Run Time: 13 hr  30 min  0 secs\nCheck: 13 hours 29  mins 58 secs\n" +
                "Binfile complete:  13hours 30mins 0secs\nNo. of Bytes = 95   No. of FFTs=2\n\nInfile=" + cap +
                "    Outfile=" + table + "   FFT Points=16\nFinish time:  13hours 30mins 0secs\n");
  EXPECT_EQ(clock.sleeps, 2);
  EXPECT_TRUE(test::exists(table));

  test::FakeClock alarm_clock(utc(kDay, 20, 59, 55));
  const auto alarm = run_on(run_alarmexec, {"touch " + dir.path("x"), "14", "0", "0", "extra"}, alarm_clock);
  EXPECT_EQ(alarm.out, ctime_text(utc(kDay, 20, 59, 55)) +
                           "Run Time: 14 hr  0 min  0 secs\nexecuting file name: touch " + dir.path("x") +
                           "\nCheck: 13 hours 59  mins 55 secs\nActual Run Time: 14 hours 0  mins 0 secs\n");
  EXPECT_TRUE(test::exists(dir.path("x")));

  // A command that fails at its start time is reported with its exit status; no table is made.
  const std::string failing = "false " + cap + "2";
  test::FakeClock late_clock(utc(kDay, 20, 59, 55));
  const auto failed_grab = run_on(run_timedgrab, {failing, "64", "13", "59", "56", "-7"}, late_clock);
  EXPECT_EQ(failed_grab.status, 1);
  EXPECT_EQ(failed_grab.err,
            "timedgrab: capture command '" + failing + "' failed: exit status 1; no spectrum was made\n");
  EXPECT_FALSE(test::exists(dir.path("cap2.txt")));
  const auto failed_alarm = run_on(run_alarmexec, {"exit 4", "13", "59", "57"}, late_clock);
  EXPECT_EQ(failed_alarm.status, 1);
  EXPECT_EQ(failed_alarm.err, "alarmexec: command 'exit 4' failed: exit status 4\n");
}

// A real wait on the system clock, two seconds ahead; skipped in the two seconds before
// midnight, where the target would fall on the next day.
TEST(ClocksTest, RealShortWait) {
  test::ScratchDir dir;
  SystemClock clock;
  const TimeOfDay now = time_of_day(clock.now(), 0), target = time_of_day(clock.now() + 2, 0);
  if (seconds_of_day(target) < seconds_of_day(now)) GTEST_SKIP() << "too close to midnight";
  const auto started = std::chrono::steady_clock::now();
  const auto result = test::run_tool(
      run_timedgrab,
      {"true " + dir.path("cap.bin") + " && head -c 64 /dev/zero > " + dir.path("cap.bin"), "8",
       std::to_string(target.hour), std::to_string(target.minute), std::to_string(target.second), "0"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
  EXPECT_TRUE(test::exists(dir.path("cap.txt")));
}

}  // namespace
}  // namespace iq
