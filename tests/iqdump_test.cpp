// iqdump: console texts, block numbering, bytes past the end, refused start blocks, and the
// fast line formatter against one printf call per line.
#include <gtest/gtest.h>

#include <limits>

#include "arith/precision.hpp"
#include "io/capture_format.hpp"
#include "iqdump.hpp"
#include "test_support.hpp"
#include "io/text_format.hpp"

namespace iq {
namespace {

using test::run_tool;

// The dump written the plain way: a printf per line of values computed in float.
std::string printf_lines(const std::vector<std::uint8_t>& bytes, std::int64_t first_sample) {
  const auto value = [](std::uint8_t b) {
    const float in_float = b;
    return static_cast<double>(static_cast<float>((static_cast<extended>(in_float) - 127.5) / 128.0));
  };
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto sample = static_cast<long long>(first_sample) + static_cast<long long>(i / 2);
    text += cformat("%lld\t%1.4f\t%1.4f\n", sample, value(bytes[i]), value(bytes[i + 1]));
  }
  return text;
}

TEST(DumpFormatterTest, EqualsPrintfForEveryBytePairAndLargeSampleNumbers) {
  std::vector<std::uint8_t> pairs;
  for (int k = 0; k < 65536; ++k) {
    pairs.insert(pairs.end(), {static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)});
  }
  DumpFormatter formatter;
  const std::int64_t last_start = std::numeric_limits<std::int64_t>::max() - 65535;
  for (const std::int64_t first : {std::int64_t{0}, std::int64_t{9990}, std::int64_t{-70000},
                                   std::int64_t{99999999999990000}, last_start}) {
    EXPECT_EQ(formatter.lines(pairs, first), printf_lines(pairs, first)) << first;
  }
}

class IqdumpTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("dump.txt");
  test::RunResult run(int start, int end) {
    return run_tool(run_iqdump, {in, table, std::to_string(start), std::to_string(end)});
  }
  std::string console(std::size_t bytes, std::int64_t samples) const {
    return cformat("Number of I/P Bytes = %zu\nNumber of O/P Samples = %lld\n\nInfile=%s    Outfile=%s\n",
                   bytes, static_cast<long long>(samples), in.c_str(), table.c_str());
  }
};

TEST_F(IqdumpTest, UsageUnopenableInputAndNegativeStartLeaveNoTable) {
  EXPECT_EQ(run_tool(run_iqdump, {in, table, "0"}).out, std::string(kIqdumpUsage) + "\n");
  const auto missing = run(0, 1);
  EXPECT_EQ(missing.out, "Can't open file " + in + ". \n");
  EXPECT_EQ(missing.status, 1);
  test::write_constant(in, kBlockBytes, 0x42);
  const auto negative = run(-1, 1);  // would seek before the start of the file
  EXPECT_EQ(negative.status, 1);
  EXPECT_EQ(negative.out, "");
  EXPECT_EQ(negative.err, "iqdump: number of 8192 I/Q blocks-start must be from 0 to 2147483647 (got '-1')\n");
  EXPECT_FALSE(test::exists(table));
}

TEST_F(IqdumpTest, DumpsTheChosenBlocksAsThePlainTranscriptionDoes) {
  // Three and a half blocks: ranges inside, across and beyond the end (bytes there read as 255).
  auto bytes = test::random_bytes(3 * kBlockBytes + kBlockBytes / 2, 17);
  std::copy_n(std::begin({0x00, 0xFF, 0x7F, 0x80}), 4, bytes.begin());
  test::write_bytes(in, bytes);
  for (const auto& [start, end] : {std::pair{0, 1}, {2, 3}, {1, 4}, {3, 5}, {6, 7}}) {
    EXPECT_EQ(run(start, end).out, console(bytes.size(), kBlockBytes * (end - start)));
    std::vector<std::uint8_t> expected(kBlockBytes * (end - start), kPastEndByte);
    for (std::size_t k = 0; k < expected.size() && start * kBlockBytes + k < bytes.size(); ++k) {
      expected[k] = bytes[start * kBlockBytes + k];
    }
    EXPECT_EQ(test::read_text(table), printf_lines(expected, start * kBlockSamples)) << start;
  }
  run(0, 1);
  auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 8192u);
  EXPECT_EQ(lines[0], "0\t-0.9961\t0.9961");
  EXPECT_EQ(lines[1], "1\t-0.0039\t0.0039");
  run(2, 3);
  lines = test::read_lines(table);
  EXPECT_EQ(lines.front().rfind("16384\t", 0), 0u);
  EXPECT_EQ(lines.back().rfind("24575\t", 0), 0u);
  run(6, 7);
  EXPECT_EQ(test::read_lines(table).front(), "49152\t0.9961\t0.9961");
}

TEST_F(IqdumpTest, EqualOrReversedRangesWriteAnEmptyTable) {
  test::write_constant(in, 100, 0x42);
  for (const auto& [start, end] : {std::pair{3, 3}, {5, 2}}) {
    const auto result = run(start, end);
    EXPECT_EQ(result.out, console(100, kBlockBytes * (end - start)));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_text(table), "");
    EXPECT_TRUE(test::exists(table));
  }
}

}  // namespace
}  // namespace iq
