// SPDX-License-Identifier: MIT
// cyclesearch from the command line: the recovery of a period put into iqsim captures from 1 ms
// to 2 s, and noise that stays insignificant. Refusals, console layout and the profile that is
// cyclestack's at the nominal period are golden cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cyclesearch.hpp"
#include "dsp/significance.hpp"
#include "iqsim.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

// The figure after `key` on the console, or NaN.
double figure(const std::string& console, const std::string& key) {
  const auto at = console.find(key);
  return at == std::string::npos ? NAN : std::strtod(console.c_str() + at + key.size(), nullptr);
}

// iqsim's capture with `options`, then the search with `args` (after capture and table).
test::RunResult simulate_and_search(const test::ScratchDir& dir, std::vector<std::string> options,
                                    std::vector<std::string> args) {
  options.insert(options.begin(), {dir.path("cap.bin"), "--force"});
  EXPECT_EQ(run_tool(run_iqsim, options).status, 0);
  args.insert(args.begin(), {dir.path("cap.bin"), dir.path("search.txt")});
  return run_tool(run_cyclesearch, args);
}

TEST(CyclesearchTest, RecoversThePeriodPutInFrom1MsTo2S) {
  struct Case {
    const char* rate;
    const char* put_ms;    // the pulse's period in the capture
    const char* typed_ms;  // the period the search is given
    const char* span;
    const char* seconds;
    const char* bins;
  };
  const Case cases[] = {
      {"2.4", "1.00005", "1", "0.001", "1", "32"},       {"2.4", "33.69", "33.7", "0.001", "2", "100"},
      {"2.4", "33.70337", "33.7", "0.0002", "2", "100"}, {"0.3", "714.6", "714.5", "0.0002", "20", "100"},
      {"0.1", "2001.5", "2000", "0.001", "40", "64"},    {"0.1", "1999.9", "2000", "0.0001", "40", "64"},
  };
  test::ScratchDir dir;
  for (const Case& c : cases) {
    const auto result =
        simulate_and_search(dir,
                            {"--rate", c.rate, "--seconds", c.seconds, "--seed", "7", "--pulse-period", c.put_ms,
                             "--pulse-strength", "0.3", "--pulse-duty", "0.1", "--pulse-phase", "0.3"},
                            {c.rate, c.bins, c.typed_ms, c.span, "1000"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_LE(std::fabs(figure(result.out, "Best period=") - std::atof(c.put_ms)),
              figure(result.out, "Resolution="))
        << result.out;
    // The pulse is on from phase 0.3 to 0.4: the window found lies there to a bin or two.
    const double width = 1.0 / std::atof(c.bins);
    EXPECT_NEAR(figure(result.out, "On-pulse phase "), 0.3, 2 * width) << result.out;
    EXPECT_NEAR(figure(result.out, "(peak at "), 0.35, 0.05 + width) << result.out;
    EXPECT_GT(figure(result.out, "Significance="), 20.0) << result.out;
    EXPECT_NE(result.out.find("\ndetected (threshold 5.00 sigma)\n"), std::string::npos) << result.out;
  }
}

TEST(CyclesearchTest, NoiseAloneIsNoDetection) {
  test::ScratchDir dir;
  for (const char* seed : {"11", "12", "13"}) {
    const auto result = simulate_and_search(dir, {"--rate", "2.4", "--seconds", "1", "--seed", seed},
                                            {"2.4", "64", "10", "0.001", "1000"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_LT(figure(result.out, "Significance="), 4.0) << result.out;
    EXPECT_NE(result.out.find("\nno detection (threshold 5.00 sigma)\n"), std::string::npos) << result.out;
    // Every trial's reduced chi-square scatters about 1 (63 degrees of freedom: +-0.18).
    double sum = 0.0;
    int rows = 0;
    const auto lines = test::read_lines(dir.path("search.txt"));
    for (const std::string& line : lines) {
      if (line.starts_with('#')) continue;  // the verdict, and a warning that the best trial lies at an edge
      double period = 0, chi2 = 0, reduced = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf", &period, &chi2, &reduced), 3) << line;
      sum += reduced;
      ++rows;
    }
    EXPECT_NEAR(sum / rows, 1.0, 0.3) << seed;
    EXPECT_NEAR(figure(result.out, "reduced chi2="), 1.0, 0.6) << result.out;
    // The probability is that of the best of the independent trials, not of one trial alone.
    const double distinct = figure(result.out, "(best of ");
    const double single = std::exp(log_chi_square_tail(figure(result.out, "chi2="), figure(result.out, "dof=")));
    EXPECT_GT(distinct, 10.0) << result.out;
    EXPECT_NEAR(figure(result.out, "Probability from noise="), 1.0 - std::pow(1.0 - single, distinct), 0.002)
        << result.out;
  }
}

// The table's first line states what the console does (the best period's very text, the
// significance, the verdict) and the chi-square that reaches the threshold: above the best
// trial's without a detection, below it with one.
TEST(CyclesearchTest, TheTablesHeaderStatesTheConsolesVerdict) {
  struct Case {
    const char* pulse_strength;  // "0": noise alone
    const char* threshold;
    bool detected;
  };
  const Case cases[] = {{"0.3", "5", true}, {"0", "5", false}, {"0.3", "1e4", false}};
  test::ScratchDir dir;
  for (const Case& c : cases) {
    const auto result = simulate_and_search(dir,
                                            {"--rate", "2.4", "--seconds", "1", "--seed", "7", "--pulse-period",
                                             "10", "--pulse-strength", c.pulse_strength, "--pulse-duty", "0.1"},
                                            {"2.4", "64", "10", "0.001", "1000", "--threshold", c.threshold});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string header = test::read_lines(dir.path("search.txt")).at(0);
    const auto best_at = result.out.find("Best period=") + 12;
    const std::string best = result.out.substr(best_at, result.out.find(' ', best_at) - best_at);
    EXPECT_TRUE(header.starts_with("# cyclesearch best_period_ms=" + best + " ")) << header << result.out;
    EXPECT_EQ(figure(header, "significance_sigma="), figure(result.out, "Significance=")) << header;
    EXPECT_EQ(figure(header, "threshold_sigma="), std::atof(c.threshold)) << header;
    EXPECT_EQ(header.ends_with(c.detected ? " verdict=detected" : " verdict=no-detection"), true) << header;
    EXPECT_EQ(result.out.find(c.detected ? "\ndetected" : "\nno detection") != std::string::npos, true);
    const double chi2 = figure(result.out, "chi2=");
    EXPECT_EQ(figure(header, " chi2="), chi2) << header;
    EXPECT_EQ(figure(header, "threshold_chi2=") < chi2, c.detected) << header;
  }
}

}  // namespace
}  // namespace iq
