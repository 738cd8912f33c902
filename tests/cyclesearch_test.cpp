// cyclesearch from the command line: refusals that create nothing, the recovery of a period
// put into iqsim captures from 1 ms to 2 s, noise that stays insignificant, and the profile
// that equals cyclestack's at the nominal period.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cyclesearch.hpp"
#include "cyclestack.hpp"
#include "dsp/significance.hpp"
#include "iqsim.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

// The figure after `key` on the console, or NaN.
double figure(const std::string& console, const std::string& key) {
  const auto at = console.find(key);
  if (at == std::string::npos) return NAN;
  return std::strtod(console.c_str() + at + key.size(), nullptr);
}

class CyclesearchTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string capture = dir.path("cap.bin");
  std::string table = dir.path("search.txt");
  std::string profile = dir.path("profile.txt");

  void simulate(std::vector<std::string> options) {
    options.insert(options.begin(), {capture, "--force"});
    ASSERT_EQ(run_tool(run_iqsim, options).status, 0);
  }
  test::RunResult search(std::vector<std::string> args) {
    args.insert(args.begin(), {capture, table});
    return run_tool(run_cyclesearch, args);
  }
};

TEST_F(CyclesearchTest, RefusalsAreOneLineAndCreateNothing) {
  simulate({"--rate", "2.4", "--samples", "240000"});  // 100 ms
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"2.4", "100", "10", "0.001"}, "Usage: cyclesearch <capture> <table>"},
      {{"2.4", "100", "10", "0.001", "10", "9"}, "Usage: cyclesearch"},
      {{"2.4", "1", "10", "0.001", "10"}, "output data points must be from 2 to 8192 (got '1')"},
      {{"2.4", "8193", "10", "0.001", "10"}, "output data points must be from 2 to 8192"},
      {{"0", "100", "10", "0.001", "10"}, "clock rate (MHz) must be"},
      {{"2.4", "100", "0", "0.001", "10"}, "pulsar period(ms) must be a finite number above 0"},
      {{"2.4", "100", "10", "0", "10"}, "span must be a relative half-width above 0 and at most 0.5 (got '0')"},
      {{"2.4", "100", "10", "-0.001", "10"}, "span must be"},
      {{"2.4", "100", "10", "nan", "10"}, "span must be"},
      {{"2.4", "100", "10", "0.6", "10"}, "span must be"},
      {{"2.4", "100", "10", "0.001", "0"}, "trials must be from 1 to 100000 (got '0')"},
      {{"2.4", "100", "10", "0.001", "-5"}, "trials must be from 1 to 100000"},
      {{"2.4", "100", "10", "0.001", "100001"}, "trials must be"},
      {{"2.4", "100", "200", "0.001", "10"}, "the capture holds less than one period: 240000 samples folded, one period is 480000"},
      {{"2.4", "100", "110", "0.001", "10"}, "the capture holds less than one period: 240000 samples folded, one period is 264000"},
      {{"2.4", "100", "10", "0.001", "10", "--subints", "0"}, "option --subints must be from 1 to 41943"},
      {{"2.4", "100", "10", "0.001", "10", "--subints", "41944"}, "option --subints must be from 1 to 41943"},
      {{"2.4", "8192", "0.01", "0.5", "10"}, "bins x sub-integrations must stay at most 4194304"},
      {{"2.4", "100", "10", "0.001", "10", "--threshold", "0"}, "option --threshold must be"},
      {{"2.4", "100", "10", "0.001", "10", "--profile", table}, "option --profile must name another file"},
      {{"2.4", "100", "10", "0.001", "10", "--profile", capture}, "cyclesearch: "},
      {{"2.4", "100", "10", "0.001", "10", "--bins", "3"}, "unknown option '--bins'"},
  };
  for (const Case& c : cases) {
    const auto result = search(c.args);
    EXPECT_EQ(result.status, 1) << c.says;
    EXPECT_EQ(result.out, "") << c.says;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_FALSE(test::exists(table)) << c.says;
    EXPECT_FALSE(test::exists(profile)) << c.says;
  }
  const auto missing = run_tool(run_cyclesearch, {dir.path("none.bin"), table, "2.4", "100", "10", "0.001", "10"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Can't open file"), std::string::npos);
  EXPECT_FALSE(test::exists(table));
}

TEST_F(CyclesearchTest, RecoversThePeriodPutInFrom1MsTo2S) {
  struct Case {
    const char* rate;
    const char* put_ms;    // the pulse's period in the capture
    const char* typed_ms;  // the period the search is given
    const char* span;
    const char* seconds;
    const char* bins;
  };
  const Case cases[] = {
      {"2.4", "1.00005", "1", "0.001", "1", "32"},
      {"2.4", "33.69", "33.7", "0.001", "2", "100"},
      {"2.4", "33.70337", "33.7", "0.0002", "2", "100"},
      {"0.3", "714.6", "714.5", "0.0002", "20", "100"},
      {"0.1", "2001.5", "2000", "0.001", "40", "64"},
      {"0.1", "1999.9", "2000", "0.0001", "40", "64"},
  };
  for (const Case& c : cases) {
    simulate({"--rate", c.rate, "--seconds", c.seconds, "--seed", "7", "--pulse-period", c.put_ms,
              "--pulse-strength", "0.3", "--pulse-duty", "0.1", "--pulse-phase", "0.3"});
    const auto result = search({c.rate, c.bins, c.typed_ms, c.span, "1000", "--profile", profile});
    ASSERT_EQ(result.status, 0) << result.err;
    const double best = figure(result.out, "Best period=");
    const double resolution = figure(result.out, "Resolution=");
    EXPECT_LE(std::fabs(best - std::atof(c.put_ms)), resolution) << result.out;
    // The pulse is on from phase 0.3 to 0.4: the window found lies there to a bin or two.
    const double width = 1.0 / std::atof(c.bins);
    EXPECT_NEAR(figure(result.out, "On-pulse phase "), 0.3, 2 * width) << result.out;
    EXPECT_NEAR(figure(result.out, "(peak at "), 0.35, 0.05 + width) << result.out;
    EXPECT_GT(figure(result.out, "Significance="), 20.0) << result.out;
    EXPECT_NE(result.out.find("\ndetected (threshold 5.00 sigma)\n"), std::string::npos) << result.out;
    EXPECT_EQ(test::read_lines(table).size(), 1000u);
    EXPECT_EQ(test::read_lines(profile).size(), static_cast<std::size_t>(std::atoi(c.bins)));
  }
}

TEST_F(CyclesearchTest, NoiseAloneIsNoDetection) {
  for (const char* seed : {"11", "12", "13"}) {
    simulate({"--rate", "2.4", "--seconds", "1", "--seed", seed});
    const auto result = search({"2.4", "64", "10", "0.001", "1000"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_LT(figure(result.out, "Significance="), 4.0) << result.out;
    EXPECT_GE(figure(result.out, "Significance="), 0.0) << result.out;
    EXPECT_NE(result.out.find("\nno detection (threshold 5.00 sigma)\n"), std::string::npos) << result.out;
    // Every trial's reduced chi-square scatters about 1 (63 degrees of freedom: +-0.18).
    double sum = 0.0;
    const auto lines = test::read_lines(table);
    for (const std::string& line : lines) {
      double period = 0, chi2 = 0, reduced = 0, snr = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf %lf", &period, &chi2, &reduced, &snr), 4) << line;
      EXPECT_NEAR(chi2 / 63, reduced, 1e-5);
      sum += reduced;
    }
    EXPECT_NEAR(sum / static_cast<double>(lines.size()), 1.0, 0.3) << seed;
    EXPECT_NEAR(figure(result.out, "reduced chi2="), 1.0, 0.6) << result.out;
    // The probability is that of the best of the distinct trials, not of one trial alone.
    const double chi2 = figure(result.out, "chi2=");
    const double distinct = figure(result.out, "(best of ");
    const double single = std::exp(log_chi_square_tail(chi2, figure(result.out, "dof=")));
    EXPECT_GT(distinct, 10.0) << result.out;
    EXPECT_NEAR(figure(result.out, "Probability from noise="), 1.0 - std::pow(1.0 - single, distinct), 0.002)
        << result.out;
  }
}

TEST_F(CyclesearchTest, ThresholdDecidesTheVerdict) {
  simulate({"--rate", "2.4", "--seconds", "1", "--seed", "5", "--pulse-period", "10", "--pulse-strength", "0.04"});
  const auto plain = search({"2.4", "64", "10", "0.001", "100"});
  const double sigma = figure(plain.out, "Significance=");
  ASSERT_GT(sigma, 5.0) << plain.out;
  ASSERT_LT(sigma, 100.0) << plain.out;
  const auto strict = search({"2.4", "64", "10", "0.001", "100", "--threshold", std::to_string(sigma + 0.1)});
  EXPECT_NE(strict.out.find("\nno detection (threshold "), std::string::npos) << strict.out;
  const auto lenient = search({"2.4", "64", "10", "0.001", "100", "--threshold=" + std::to_string(sigma - 0.1)});
  EXPECT_NE(lenient.out.find("\ndetected (threshold "), std::string::npos) << lenient.out;
}

TEST_F(CyclesearchTest, ProfileAtTheNominalPeriodIsCyclestacksTable) {
  simulate({"--rate", "2.4", "--samples", "1000003", "--seed", "3", "--pulse-period", "7.3", "--pulse-strength", "0.5"});
  const std::string stack = dir.path("stack.txt");
  ASSERT_EQ(run_tool(run_cyclestack, {capture, stack, "2.4", "97", "7.3"}).status, 0);
  for (const char* subints : {"1", "7", "1000"}) {
    const auto result = search({"2.4", "97", "7.3", "0.001", "1", "--subints", subints, "--profile", profile});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(test::read_text(profile), test::read_text(stack)) << subints;
    EXPECT_NE(result.out.find("Sub-integrations=" + std::string(subints) + "\n"), std::string::npos);
    EXPECT_NE(result.out.find("Best period=7.300000000000 ms"), std::string::npos) << result.out;
  }
}

TEST_F(CyclesearchTest, ConsoleAndTableLayout) {
  simulate({"--rate", "2.4", "--samples", "480000", "--seed", "3"});
  const auto result = search({"2.4", "100", "10", "0.01", "3"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.substr(0, result.out.find("Noise:")),
            "No. Bytes = 960000   Samples=480000   Periods=20.00   Bins=100   Sub-integrations=21\n"
            "Trials=3   From 9.900000000000 to 10.100000000000 ms   Step=1.000e-01 ms   Resolution=5.000e-02 ms"
            "   Smear=0.962 bins\n");
  EXPECT_NE(result.out.find("\n\nInfile=" + capture + "    Outfile=" + table + "\n"), std::string::npos);
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(0, 18), "10.000000000000   ");
  // Help on standard output, success.
  const auto help = run_tool(run_cyclesearch, {"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--subints N"), std::string::npos);
}

}  // namespace
}  // namespace iq
