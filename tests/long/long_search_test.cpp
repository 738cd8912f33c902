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
  const std::string capture = dir.path("noise.bin");
  const std::string table = dir.path("search.txt");
  int significant = 0;
  for (int seed = 1000; seed < 1100; ++seed) {
    ASSERT_EQ(test::run_tool(run_iqsim, {capture, "--rate", "2.4", "--seconds", "1", "--seed", std::to_string(seed)}).status, 0);
    const auto result = test::run_tool(run_cyclesearch, {capture, table, "2.4", "64", "10", "0.001", "1000"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto at = result.out.find("Significance=");
    ASSERT_NE(at, std::string::npos);
    const double sigma = std::strtod(result.out.c_str() + at + 13, nullptr);
    if (sigma >= 4.0) {
      ++significant;
      ADD_FAILURE() << "seed " << seed << " reached " << sigma << " sigma (allowed once)\n" << result.out;
    }
    ASSERT_EQ(result.out.find("\ndetected"), std::string::npos) << result.out;
  }
  EXPECT_LE(significant, 1);
}

}  // namespace
}  // namespace iq
