// SPDX-License-Identifier: MIT
// A period search on noise alone, 100 seeds: at most one may reach 4 sigma. Labelled
// long_search and left out of `make test`; run it with `ctest -L long_search`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cyclesearch.hpp"
#include "iqsim.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(LongSearchTest, NoiseStaysBelowFourSigmaInAtLeast99Of100Seeds) {
  test::ScratchDir dir;
  int significant = 0;
  for (int seed = 1000; seed < 1100; ++seed) {
    ASSERT_EQ(test::run_tool(run_iqsim, {dir.path("noise.bin"), "--force", "--rate", "2.4", "--seconds", "1",
                                         "--seed", std::to_string(seed)})
                  .status,
              0);
    const auto result = test::run_tool(
        run_cyclesearch, {dir.path("noise.bin"), dir.path("search.txt"), "2.4", "64", "10", "0.001", "1000"});
    const auto at = result.out.find("Significance=");
    ASSERT_NE(at, std::string::npos) << result.err;
    const double sigma = std::strtod(result.out.c_str() + at + 13, nullptr);
    significant += sigma >= 4.0;
    EXPECT_LE(significant, 1) << "seed " << seed << " reached " << sigma << " sigma (allowed once)\n"
                              << result.out;
  }
}

}  // namespace
}  // namespace iq
