// Time of day at a whole-hour offset, the start-time wait on a driven clock, and the date line.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

#include "fake_clock.hpp"
#include "time/time_of_day.hpp"

namespace iq {
namespace {

using test::utc;

TEST(TimeOfDayTest, ReadingsAtAnOffset) {
  struct Case {
    std::int64_t t;
    std::int64_t offset;
    TimeOfDay expected;
  };
  for (const Case c : {
           Case{utc(test::kDay, 20, 59, 50), -7, {13, 59, 50}},
           Case{utc(test::kDay, 21, 30, 5), -7, {14, 30, 5}},
           Case{utc(test::kDay, 3, 0, 0), -7, {20, 0, 0}},
           Case{utc(test::kDay, 12, 29, 58), 1, {13, 29, 58}},
           Case{utc(test::kDay, 23, 0, 1), 25, {0, 0, 1}},
           Case{utc(test::kDayAfter2038, 6, 7, 8), 0, {6, 7, 8}},
           Case{-1, 0, {23, 59, 59}},  // a clock before 1970 still gives a time of day
       }) {
    EXPECT_EQ(time_of_day(c.t, c.offset), c.expected) << c.t << " " << c.offset;
  }
}

TEST(TimeOfDayTest, WaitEndsInTheFirstMatchingSecond) {
  for (const int early_wakes_every : {0, 2}) {
    for (const std::int64_t day : {test::kDay, test::kDayAfter2038}) {
      test::FakeClock clock(utc(day, 20, 59, 50), early_wakes_every);
      std::ostringstream out;
      const auto start = wait_for_start({14, 0, 0}, -7, clock, out, TooLateEnding::kNewline);
      ASSERT_TRUE(start);
      EXPECT_EQ(*start, (TimeOfDay{14, 0, 0}));
      EXPECT_EQ(out.str(), "Check: 13 hours 59  mins 50 secs\n");
      // Every second up to the target was read, and the wait stopped at the target.
      EXPECT_EQ(clock.reads.back(), utc(day, 21, 0, 0));
      for (std::int64_t t = utc(day, 20, 59, 50); t <= utc(day, 21, 0, 0); ++t) {
        EXPECT_NE(std::find(clock.reads.begin(), clock.reads.end(), t), clock.reads.end()) << t;
      }
      EXPECT_EQ(clock.sleeps, early_wakes_every == 0 ? 10 : 20 - 1);
    }
  }
}

TEST(TimeOfDayTest, StartTimeNotAheadIsTooLate) {
  struct Case {
    std::int64_t t;
    std::int64_t offset;
    StartTime target;
    const char* check;
  };
  for (const Case c : {Case{utc(test::kDay, 21, 0, 0), -7, {14, 0, 0}, "Check: 14 hours 0  mins 0 secs\n"},
                       Case{utc(test::kDay, 23, 59, 55), 0, {0, 0, 5}, "Check: 23 hours 59  mins 55 secs\n"}}) {
    for (const auto ending : {TooLateEnding::kNoNewline, TooLateEnding::kNewline}) {
      test::FakeClock clock(c.t);
      std::ostringstream out;
      EXPECT_FALSE(wait_for_start(c.target, c.offset, clock, out, ending));
      EXPECT_EQ(out.str(), std::string(c.check) + "\nToo late!" +
                               (ending == TooLateEnding::kNewline ? "\n" : ""));
      EXPECT_EQ(clock.sleeps, 0);
    }
  }
}

TEST(TimeOfDayTest, DateLineIsTheCLibrarysCtime) {
  for (const std::time_t t : {std::time_t{0}, std::time_t{utc(test::kDay, 20, 42, 38)},
                              std::time_t{utc(test::kDay - 5, 3, 4, 5)}, std::time_t{utc(test::kDayAfter2038, 0, 0, 0)}}) {
    EXPECT_EQ(ctime_text(t), std::ctime(&t));
  }
}

}  // namespace
}  // namespace iq
