// A sparse capture of just over 4 GiB, all zero bytes: lengths, counts and seeks past 2^32
// bytes must be 64-bit in levelhist, powtrace (with a divisor), iqspec and iqtrim. The file
// ends 100 bytes after iqtrim's largest skip, so the cut shows where that skip landed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "iqspec.hpp"
#include "iqtrim.hpp"
#include "levelhist.hpp"
#include "powtrace.hpp"
#include "test_support.hpp"
#include "io/text_format.hpp"

namespace iq {
namespace {

// The skip of align address 2147483647: 2 x (2147483647 + 7000) bytes, past 2^32.
constexpr std::int64_t kLargestSkip = 2 * (std::int64_t{2147483647} + 7000);
constexpr std::int64_t kLength = kLargestSkip + 100;  // 4294981394

class LargeCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    const int fd = ::open(path("large.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kLength), 0);
    ::close(fd);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string path(const std::string& name) { return dir_->path(name); }
  static test::ScratchDir* dir_;
};

test::ScratchDir* LargeCaptureTest::dir_ = nullptr;

// The mean of a count over a number of chunks or frames as the tables print it: the count
// rounded to single precision over the divisor.
double single_mean(double count, std::int64_t divisor, bool divisor_single) {
  const double d = divisor_single ? static_cast<double>(static_cast<float>(divisor)) : static_cast<double>(divisor);
  return static_cast<double>(static_cast<float>(count)) / d;
}

TEST_F(LargeCaptureTest, LevelhistCountsEveryWholeChunk) {
  const auto result = test::run_tool(run_levelhist, {path("large.bin"), path("levels.txt")});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "Number of Bytes = 4294981394");
  const std::int64_t chunks = kLength / 512;  // 8388635, all zero bytes
  const auto lines = test::read_lines(path("levels.txt"));
  ASSERT_EQ(lines.size(), 256u);
  EXPECT_EQ(lines[0], cformat("-128    %3.3f", single_mean(static_cast<double>(chunks * 512), chunks, false)));
  for (int v = 1; v < 256; ++v) EXPECT_EQ(lines[v], cformat("%d    0.000", v - 128));
}

TEST_F(LargeCaptureTest, PowtraceDividesThe64BitLength) {
  const auto result = test::run_tool(run_powtrace, {path("large.bin"), path("power.txt"), "2.4", "7", "1024"});
  ASSERT_EQ(result.status, 0) << result.err;
  // 4294981394 / 1024 bytes, 342 samples per point.
  EXPECT_NE(result.out.find("No. Bytes = 4194317   No. of Blocks=6132  VideoSamples=342  Divisor=1024\n"),
            std::string::npos)
      << result.out;
  const auto lines = test::read_lines(path("power.txt"));
  ASSERT_EQ(lines.size(), 6132u);
  EXPECT_EQ(lines.front(), "0   1.97943718");
  EXPECT_EQ(lines.back(), "6131   1.97943718");
}

TEST_F(LargeCaptureTest, IqtrimSkipsPast4GiB) {
  // One block from the largest skip: the last 100 bytes of the file, then padding of 255.
  const auto result = test::run_tool(run_iqtrim, {path("large.bin"), path("cut.bin"), "1", "2147483647"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("its last 16284 bytes are padding"), std::string::npos) << result.err;
  const std::string cut = test::read_text(path("cut.bin"));
  ASSERT_EQ(cut.size(), 16384u);
  for (std::size_t k = 0; k < cut.size(); ++k) {
    ASSERT_EQ(static_cast<std::uint8_t>(cut[k]), k < 100 ? 0 : 255) << "byte " << k;
  }
}

TEST_F(LargeCaptureTest, IqspecCountsFramesOfTheWholeCapture) {
  // Frames of 16 points, 32 bytes: (4294981394 + 1) / 32 of them, all within the file. A frame
  // of zero bytes, -0.99609375 (1 + j) at every point, has all its power in bin 0:
  // 2 x 16^2 x 0.99609375^2 = 508.0078125, and every sum of such frames is exact.
  const auto result = test::run_tool(run_iqspec, {path("large.bin"), path("spectrum.txt"), "16"});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::int64_t frames = (kLength + 1) / 32;
  EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "Number of Bytes = 4294981394   No. of FFTs=134218168");
  const auto lines = test::read_lines(path("spectrum.txt"));
  ASSERT_EQ(lines.size(), 16u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int bin = static_cast<int>(i) - 8;
    const double value = bin == 0 ? single_mean(508.0078125 * static_cast<double>(frames), frames, true) : 0.0;
    EXPECT_EQ(lines[i], cformat("%d    %3.3f", bin, value));
  }
}

}  // namespace
}  // namespace iq
