// Cases found by fuzzing the tools' whole runs, kept as regressions.
#include <gtest/gtest.h>

#include "iqsim.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// An early receiver (negative delay) first runs through that many samples of the sky: a delay
// of -1423103744 ran for minutes and -9223372036854775808 could not be negated. Delays are
// bounded to 32 bits.
TEST(FuzzRegressionTest, IqsimBoundsTheDelay) {
  struct Case {
    const char* delay;
    bool accepted;
  };
  for (const Case& c : {Case{"-9223372036854775808", false}, Case{"9223372036854775807", false},
                        Case{"-2147483648", false}, Case{"2147483648", false}, Case{"2147483647", true},
                        Case{"-1000", true}}) {
    test::ScratchDir dir;
    const auto result = test::run_tool(run_iqsim, {dir.path("cap.bin"), "-n", "8", "--delay", c.delay});
    EXPECT_EQ(result.status, c.accepted ? 0 : 1) << c.delay;
    EXPECT_EQ(test::exists(dir.path("cap.bin")), c.accepted) << c.delay;
    if (!c.accepted) {
      EXPECT_EQ(result.err, "iqsim: option --delay must be a delay from -2147483647 to 2147483647 samples\n");
    }
  }
}

}  // namespace
}  // namespace iq
