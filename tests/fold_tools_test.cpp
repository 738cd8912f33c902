// cyclefold, cyclestack and cyclebin from the command line: console texts, bin counts, means,
// the file divisor, refused parameters and a folded synthetic pulsar.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cyclebin.hpp"
#include "cyclefold.hpp"
#include "cyclestack.hpp"
#include "iqsim.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

struct Tool {
  ToolFunction* run;
  const char* usage;
  bool divisor;
};

const Tool kCyclefold{run_cyclefold, kCyclefoldUsage, true};
const Tool kCyclestack{run_cyclestack, kCyclestackUsage, false};
const Tool kCyclebin{run_cyclebin, kCyclebinUsage, true};
const Tool kTools[] = {kCyclefold, kCyclestack, kCyclebin};

class FoldToolsTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("profile.txt");

  test::RunResult run(const Tool& tool, const std::string& clock, const std::string& points,
                      const std::string& period, const std::string& divisor = "1") {
    std::vector<std::string> args{in, table, clock, points, period};
    if (tool.divisor) args.push_back(divisor);
    return run_tool(tool.run, args);
  }
  // The mean column of every table line.
  std::vector<std::string> means() {
    std::vector<std::string> values;
    for (const auto& line : test::read_lines(table)) values.push_back(line.substr(line.find("    ") + 4, 7));
    return values;
  }
};

TEST_F(FoldToolsTest, WrongArgumentCountOrUnopenableInput) {
  for (const Tool& tool : kTools) {
    const std::size_t count = tool.divisor ? 6 : 5;
    for (const std::size_t given : {std::size_t{0}, count - 1, count + 1}) {
      const auto result = run_tool(tool.run, std::vector<std::string>(given, "1"));
      EXPECT_EQ(result.out, std::string(tool.usage) + "\n");
      EXPECT_EQ(result.status, 1);
    }
    const auto missing = run(tool, "2.4", "100", "1");
    EXPECT_EQ(missing.out, "Can't open file " + in + ". \n");
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(test::exists(table));
  }
}

TEST_F(FoldToolsTest, ConsoleLinesAndBinCountsOf480000Bytes) {
  test::write_constant(in, 480000, 128);
  const std::string closing = "\nInfile=" + in + "    Outfile=" + table + "   End bin=99";
  const std::string with_divisor = "No. Bytes = 480000   No. of Blocks=2400   PPeriod=1.000000ms\n"
                                   "No bins=100    Count/bin=2399\n" + closing + "\n";
  const std::string whole_file = "No. Bytes = 480000   No. Blocks=2400   PPeriod=1.000000ms\n"
                                 "No. bins=100  Count/bin=2399\n" + closing + "   coun=240000\n";
  for (const Tool& tool : kTools) {
    const auto result = run(tool, "2.4", "100", "1");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, tool.divisor ? with_divisor : whole_file);
    const auto lines = test::read_lines(table);
    ASSERT_EQ(lines.size(), 100u);
    const std::string mean = tool.run == run_cyclefold ? "0.00552" : "0.00003";
    EXPECT_EQ(lines[0], "0    " + mean + "   2401");
    EXPECT_EQ(lines[1], "1    " + mean + "   2400");
    EXPECT_EQ(lines[98], "98    " + mean + "   2400");
    EXPECT_EQ(lines[99], "99    " + mean + "   2399");
  }
}

TEST_F(FoldToolsTest, MeansOfConstantCaptures) {
  struct Case {
    std::uint8_t byte;
    const char* amplitude;
    const char* power;
  };
  for (const Case c : {Case{128, "0.00552", "0.00003"}, Case{127, "0.00552", "0.00003"},
                       Case{0, "1.40869", "1.98441"}, Case{255, "1.40869", "1.98441"}}) {
    test::write_constant(in, 48000, c.byte);
    for (const Tool& tool : kTools) {
      ASSERT_EQ(run(tool, "2.4", "10", "1").status, 0);
      const std::string expected = tool.run == run_cyclefold ? c.amplitude : c.power;
      EXPECT_EQ(means(), std::vector<std::string>(10, expected)) << int(c.byte);
    }
  }
}

TEST_F(FoldToolsTest, DivisorFoldsOnlyTheFirstPart) {
  // The second half would raise every mean if it were read.
  std::vector<std::uint8_t> bytes(480000, 128);
  std::fill(bytes.begin() + 240000, bytes.end(), 0);
  test::write_bytes(in, bytes);
  for (const Tool& tool : {kCyclefold, kCyclebin}) {
    const auto result = run(tool, "2.4", "100", "1", "2");
    EXPECT_EQ(result.out, "No. Bytes = 240000   No. of Blocks=1200   PPeriod=1.000000ms\n"
                          "No bins=100    Count/bin=1199\n\nInfile=" + in + "    Outfile=" + table + "   End bin=99\n");
    EXPECT_EQ(means(), std::vector<std::string>(100, tool.run == run_cyclefold ? "0.00552" : "0.00003"));
  }
}

TEST_F(FoldToolsTest, FileShorterThanOneBlockGivesEmptyBins) {
  test::write_constant(in, 199, 128);
  for (const Tool& tool : kTools) {
    const auto result = run(tool, "2.4", "100", "1");
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Count/bin=0\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("End bin=0" + std::string(tool.divisor ? "\n" : "   coun=0\n")), std::string::npos);
    const auto lines = test::read_lines(table);
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines[0], "0    -nan   0");
    EXPECT_EQ(lines[99], "99    -nan   0");
  }
}

TEST_F(FoldToolsTest, RefusedParameters) {
  test::write_constant(in, 480000, 128);
  struct Case {
    const char* clock;
    const char* points;
    const char* period;
    const char* divisor;
    const char* named;
  };
  for (const Case c : {Case{"2.4", "0", "1", "1", "output data points must be from 1 to 8192"},
                       Case{"2.4", "-5", "1", "1", "output data points"}, Case{"2.4", "8193", "1", "1", "8192"},
                       Case{"2.4", "abc", "1", "1", "output data points"}, Case{"0", "100", "1", "1", "clock rate (MHz)"},
                       Case{"-2.4", "100", "1", "1", "clock rate"}, Case{"nan", "100", "1", "1", "clock rate"},
                       Case{"inf", "100", "1", "1", "clock rate"}, Case{"1e-40", "100", "1", "1", "clock rate"},
                       Case{"2.4", "100", "0", "1", "pulsar period(ms) must be a finite number above 0"},
                       Case{"2.4", "100", "-1", "1", "pulsar period"}, Case{"2.4", "100", "nan", "1", "pulsar period"},
                       Case{"2.4", "100", "inf", "1", "pulsar period"}, Case{"2.4", "8192", "1e-15", "1", "pulsar period(ms) must be longer than"}}) {
    for (const Tool& tool : kTools) {
      const auto result = run(tool, c.clock, c.points, c.period, c.divisor);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
    }
  }
  for (const Tool& tool : {kCyclefold, kCyclebin}) {
    for (const char* divisor : {"0", "-2", "x"}) {
      const auto result = run(tool, "2.4", "100", "1", divisor);
      EXPECT_EQ(result.status, 1);
      EXPECT_NE(result.err.find("must be a whole number of 1 or more"), std::string::npos) << result.err;
    }
  }
  EXPECT_FALSE(test::exists(table));
}

TEST_F(FoldToolsTest, UnwritableOutfileIsReportedBeforeTheScan) {
  test::write_constant(in, 4800, 128);
  for (const Tool& tool : kTools) {
    table = dir.path("missing/profile.txt");
    const auto result = run(tool, "2.4", "100", "1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Can't create file " + table), std::string::npos) << result.err;
  }
}

TEST_F(FoldToolsTest, InputWithoutALengthIsRefused) {
  // A pipe cannot be measured; folding it would report an empty profile as a success.
  const auto result = test::run_program("printf abcd | " + test::program("cyclestack") + " /dev/stdin " + table + " 2.4 1 1");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "cyclestack: Can't measure the length of file /dev/stdin\n");
  EXPECT_FALSE(test::exists(table));
}

TEST_F(FoldToolsTest, SyntheticPulsarShowsItsPulseInTheExpectedBins) {
  // Period 10 ms at 2.4 MHz; the pulse is on from 0.5 to 0.7 of the period: bins 10 to 13 of 20.
  ASSERT_EQ(run_tool(run_iqsim, {in, "-r", "2.4", "-n", "2400000", "--pulse-period", "10", "--pulse-duty", "0.2",
                                 "--pulse-strength", "4", "--pulse-phase", "0.5"}).status, 0);
  for (const Tool& tool : kTools) {
    ASSERT_EQ(run(tool, "2.4", "20", "10").status, 0);
    const auto values = means();
    ASSERT_EQ(values.size(), 20u);
    double off = 0;
    for (int bin : {0, 5, 9, 14, 19}) off = std::max(off, std::stod(values[bin]));
    for (int bin = 10; bin <= 13; ++bin) EXPECT_GT(std::stod(values[bin]), 1.5 * off) << bin;
  }
}

}  // namespace
}  // namespace iq
