// iqspec from the command line: console texts, frame counting, table layout and refusals.
#include <gtest/gtest.h>

#include "cli/console_texts.hpp"
#include "iqspec.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

class IqspecTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("spectrum.txt");
  test::RunResult run(const std::string& points) { return run_tool(run_iqspec, {in, table, points}); }
};

TEST_F(IqspecTest, WrongArgumentCountPrintsUsage) {
  for (const auto& args : {std::vector<std::string>{}, {in, table}, {in, table, "8", "x"}}) {
    const auto result = run_tool(run_iqspec, args);
    EXPECT_EQ(result.out, std::string(kIqspecUsage) + "\n");
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_FALSE(test::exists(table));
}

TEST_F(IqspecTest, UnopenableInputIsReportedWithoutNewline) {
  const auto result = run("8");
  EXPECT_EQ(result.out, "Can't open file " + in + ". ");
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(test::exists(table));
}

TEST_F(IqspecTest, PointLimitAndRefusedPointCounts) {
  test::write_constant(in, 100, 0x80);
  const auto too_many = run("131073");
  EXPECT_EQ(too_many.out, texts::kTooManyFftPoints);
  EXPECT_EQ(too_many.status, 1);
  for (const char* points : {"0", "-8", "1000", "+0"}) {
    const auto refused = run(points);
    EXPECT_EQ(refused.status, 1) << points;
    EXPECT_EQ(refused.out, "") << points;
    EXPECT_NE(refused.err.find("a power of two from 1 to 131072"), std::string::npos) << refused.err;
  }
  EXPECT_FALSE(test::exists(table));
  const auto largest = run("131072");
  EXPECT_EQ(largest.status, 1);  // accepted; 100 bytes hold no whole frame of it
  EXPECT_EQ(largest.err, "iqspec: " + in + " holds no whole frame of 131072 samples\n");
  EXPECT_EQ(test::read_lines(table).size(), 131072u);
}

TEST_F(IqspecTest, CountsFramesFromTheLengthPlusOne) {
  const int n = 16;
  const int k = 3;
  struct Case {
    std::size_t bytes;
    int frames;
  };
  for (const Case c : {Case{2u * n * k - 1, k}, Case{2u * n * k, k}, Case{2u * n * k + 2 * n - 2, k},
                       Case{2u * n * k + 2 * n - 1, k + 1}}) {
    test::write_constant(in, c.bytes, 0x10);
    const auto result = run("16");
    EXPECT_EQ(result.out, "Number of Bytes = " + std::to_string(c.bytes) + "   No. of FFTs=" +
                              std::to_string(c.frames) + "\n\nInfile=" + in + "    Outfile=" + table +
                              "   FFT Points=16\n");
    EXPECT_EQ(result.status, 0);
  }
  test::write_constant(in, 1000000, 0x10);
  EXPECT_EQ(run("1024").out.substr(0, 51), "Number of Bytes = 1000000   No. of FFTs=488\n\nInfile");
}

TEST_F(IqspecTest, TheMissingLastByteOfAFrameReadsAs255) {
  // An all-0xFF capture one byte short gives the same table as the whole capture.
  test::write_constant(in, 2 * 8 * 2, 0xFF);
  ASSERT_EQ(run("8").status, 0);
  const std::string whole = test::read_text(table);
  test::write_constant(in, 2 * 8 * 2 - 1, 0xFF);
  ASSERT_EQ(run("8").status, 0);
  EXPECT_EQ(test::read_text(table), whole);
}

TEST_F(IqspecTest, TableRunsFromMinusHalfAndHoldsTheMeanFramePower) {
  test::write_constant(in, 2 * 4 * 5, 0xFF);
  ASSERT_EQ(run("4").status, 0);
  EXPECT_EQ(test::read_text(table), "-2    0.000\n-1    0.000\n0    31.750\n1    0.000\n");

  // N = 8: the first line is bin 4 of the transform, the fifth bin 0. A tone turning a quarter
  // turn per sample (I, Q = (+, 0), (0, +), (-, 0), (0, -)).
  std::vector<std::uint8_t> tone;
  for (int t = 0; t < 8; ++t) {
    const std::uint8_t levels[4][2] = {{255, 128}, {128, 255}, {0, 128}, {128, 0}};
    tone.push_back(levels[t % 4][0]);
    tone.push_back(levels[t % 4][1]);
  }
  test::write_bytes(in, tone);
  ASSERT_EQ(run("8").status, 0);
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 8u);
  const char* bins[] = {"-4 ", "-3 ", "-2 ", "-1 ", "0 ", "1 ", "2 ", "3 "};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(lines[i].rfind(bins[i], 0), 0u) << lines[i];
  // A quarter turn per sample is bin N/4 = 2: the seventh line holds the largest power.
  double largest = 0;
  int largest_line = -1;
  for (int i = 0; i < 8; ++i) {
    const double value = std::stod(lines[i].substr(lines[i].find("    ")));
    if (value > largest) {
      largest = value;
      largest_line = i;
    }
  }
  EXPECT_EQ(largest_line, 6);
}

TEST_F(IqspecTest, NoWholeFrameWritesNotANumberLines) {
  test::write_constant(in, 10, 0x80);
  const auto result = run("8");
  EXPECT_EQ(result.status, 1);
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "-4    -nan");
}

TEST_F(IqspecTest, RefusesToOverwriteItsInput) {
  test::write_constant(in, 64, 0x42);
  const auto result = run_tool(run_iqspec, {in, in, "8"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("same file as an input"), std::string::npos);
  EXPECT_EQ(test::read_text(in), std::string(64, '\x42'));
}

TEST_F(IqspecTest, FullDiskIsReported) {
  test::write_constant(in, 64, 0x42);
  const auto result = run_tool(run_iqspec, {in, "/dev/full", "8"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Can't write file /dev/full"), std::string::npos);
}

}  // namespace
}  // namespace iq
