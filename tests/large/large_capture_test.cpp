// SPDX-License-Identifier: MIT
// A sparse capture of just over 4 GiB, all zero bytes: lengths, counts and means past 2^32
// bytes must be 64-bit in levelhist, powtrace (with a divisor) and iqspec. (The golden corpus
// holds iqtrim's skip past 4 GiB.)
#include <unistd.h>

#include "iqspec.hpp"
#include "io/text_format.hpp"
#include "levelhist.hpp"
#include "powtrace.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

constexpr std::int64_t kLength = 2 * (std::int64_t{2147483647} + 7000) + 100;  // 4294981394

class LargeCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    test::write_bytes(path("large.bin"), {});
    ASSERT_EQ(::truncate(path("large.bin").c_str(), kLength), 0);
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string path(const std::string& name) { return dir_->path(name); }
  // The table's lines and the first line of the console of a run on the capture.
  static std::pair<std::vector<std::string>, std::string> run(ToolFunction* tool, std::vector<std::string> args) {
    args.insert(args.begin(), {path("large.bin"), path("table.txt")});
    const auto result = test::run_tool(tool, args);
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<std::string> lines;
    std::istringstream table(test::read_text(path("table.txt")));
    for (std::string line; std::getline(table, line);) lines.push_back(line);
    return {lines, result.out.substr(0, result.out.find('\n'))};
  }
  static inline test::ScratchDir* dir_ = nullptr;
};

// The mean of a count as the tables print it: the count rounded to single precision over the
// divisor (itself in single precision for iqspec's frames).
double single_mean(double count, std::int64_t divisor, bool divisor_single) {
  const double d =
      divisor_single ? static_cast<double>(static_cast<float>(divisor)) : static_cast<double>(divisor);
  return static_cast<double>(static_cast<float>(count)) / d;
}

TEST_F(LargeCaptureTest, LevelhistCountsEveryWholeChunk) {
  const auto [lines, console] = run(run_levelhist, {});
  EXPECT_EQ(console, "Number of Bytes = 4294981394");
  const std::int64_t chunks = kLength / 512;  // 8388635, all zero bytes
  ASSERT_EQ(lines.size(), 256u);
  EXPECT_EQ(lines[0], cformat("-128    %3.3f", single_mean(static_cast<double>(chunks * 512), chunks, false)));
  for (int v = 1; v < 256; ++v) EXPECT_EQ(lines[v], cformat("%d    0.000", v - 128));
}

TEST_F(LargeCaptureTest, PowtraceDividesThe64BitLength) {
  // 4294981394 / 1024 bytes, 342 samples per point.
  const auto [lines, console] = run(run_powtrace, {"2.4", "7", "1024"});
  ASSERT_EQ(lines.size(), 6132u);
  EXPECT_EQ(lines.front(), "0   1.97943718");
  EXPECT_EQ(lines.back(), "6131   1.97943718");
}

TEST_F(LargeCaptureTest, IqspecCountsFramesOfTheWholeCapture) {
  // Frames of 16 points, 32 bytes: (4294981394 + 1) / 32 of them, all within the file. A frame
  // of zero bytes, -0.99609375 (1 + j) at every point, has all its power in bin 0:
  // 2 x 16^2 x 0.99609375^2 = 508.0078125, and every sum of such frames is exact.
  const auto [lines, console] = run(run_iqspec, {"16"});
  const std::int64_t frames = (kLength + 1) / 32;
  EXPECT_EQ(console, "Number of Bytes = 4294981394   No. of FFTs=134218168");
  ASSERT_EQ(lines.size(), 16u);
  for (int bin = -8; bin < 8; ++bin) {
    const double value = bin == 0 ? single_mean(508.0078125 * static_cast<double>(frames), frames, true) : 0.0;
    EXPECT_EQ(lines[bin + 8], cformat("%d    %3.3f", bin, value));
  }
}

}  // namespace
}  // namespace iq
