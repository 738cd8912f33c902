// SPDX-License-Identifier: MIT
// iqwaterfall: every row is iqspec's table of its frames, whatever the threads, and a stream
// arriving in pieces that end inside frames gives the file's table. Its console, header and
// refusals are in the golden corpus; a stream stopped by a signal in tests/cli.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "io/text_format.hpp"
#include "iqspec.hpp"
#include "iqwaterfall.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

// The table without its two header lines.
std::string rows_of(const std::string& path) {
  const std::string text = test::read_text(path);
  return text.substr(text.find('\n', text.find('\n') + 1) + 1);
}

// The rows with their values rounded to iqspec's three decimals, after checking that each value
// is printed with all 17 significant digits.
std::string rounded_rows_of(const std::string& path) {
  std::string rounded;
  for (const std::string& line : test::read_lines(path)) {
    if (line.empty() || line[0] == '#') {
      if (line.empty()) rounded += "\n";
      continue;
    }
    const std::size_t gap = line.find("    ");
    const std::string value = line.substr(gap + 4);
    const double mean = std::stod(value);
    EXPECT_EQ(value, cformat("%.17g", mean)) << line;
    rounded += line.substr(0, gap) + cformat("    %.3f\n", mean);
  }
  return rounded;
}

TEST(IqwaterfallTest, EveryRowIsIqspecsTableOfItsFramesCutOut) {
  test::ScratchDir dir;
  const std::string in = dir.path("cap.bin"), table = dir.path("waterfall.txt");
  const struct {
    std::int64_t points, frames_per_row, bytes, rows;
  } cases[] = {
      {8, 3, 8 * 2 * 3 * 5, 5},                       // whole rows
      {16, 7, 16 * 2 * 7 * 4 - 1, 4},                 // one byte short: the last byte reads as 255
      {64, 1, 64 * 2 * 10 + 100, 10},                 // a row per frame, a partial frame left
      {256, 600, 256 * 2 * 600 * 2 + 3, 2},           // two rows in one batch of frames
      {4096, 300, 4096 * 2 * 300 + 4096 * 2 * 7, 1},  // a row over several batches
      {16, 0, 16 * 2 * 9 - 1, 1},                     // one row of the whole capture
      {512, 0, 512 * 2 * 40 + 1000, 1},               // the same, a partial frame left out
  };
  for (const auto& c : cases) {
    const auto bytes = test::random_bytes(static_cast<std::size_t>(c.bytes), static_cast<std::uint32_t>(c.points));
    test::write_bytes(in, bytes);
    const std::int64_t frames = c.frames_per_row != 0 ? c.frames_per_row : (c.bytes + 1) / (2 * c.points);
    const std::int64_t row_bytes = 2 * c.points * frames;
    std::string expected;
    for (std::int64_t start = 0; start < c.rows * row_bytes; start += row_bytes) {
      const auto end = bytes.begin() + std::min(start + row_bytes, c.bytes);
      test::write_bytes(dir.path("row.bin"), std::vector<std::uint8_t>(bytes.begin() + start, end));
      ASSERT_EQ(run_tool(run_iqspec, {dir.path("row.bin"), dir.path("row.txt"), std::to_string(c.points)}).status,
                0);
      expected += test::read_text(dir.path("row.txt")) + "\n";
    }
    for (const char* threads : {"1", "2"}) {
      ::setenv("IQTOOLS_THREADS", threads, 1);
      const auto result =
          run_tool(run_iqwaterfall, {in, table, std::to_string(c.points), std::to_string(c.frames_per_row)});
      ::unsetenv("IQTOOLS_THREADS");
      ASSERT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(rounded_rows_of(table), expected) << "N = " << c.points << ", threads " << threads;
    }
  }
}

TEST(IqwaterfallTest, AStreamInPiecesGivesTheTableOfTheSameCaptureAsAFile) {
  test::ScratchDir dir;
  const std::string in = dir.path("cap.bin"), table = dir.path("waterfall.txt");
  // N = 32, 5 frames per row: a row is 320 bytes; whole rows, one byte short, a partial row.
  for (const std::size_t size : {320 * 4, 320 * 4 - 1, 320 * 4 + 100}) {
    const auto bytes = test::random_bytes(size, 5);
    test::write_bytes(in, bytes);
    const auto file_run = run_tool(run_iqwaterfall, {in, table, "32", "5"});
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    std::thread writer([&, fd = ends[1]] {
      // In pieces of 77 bytes, that end inside frames, as a pipe may deliver them.
      for (std::size_t at = 0; at < bytes.size(); at += 77) {
        if (::write(fd, bytes.data() + at, std::min<std::size_t>(77, bytes.size() - at)) <= 0) break;
      }
      ::close(fd);
    });
    const auto result = run_tool(run_iqwaterfall, {"-", dir.path("live.txt"), "32", "5"});
    writer.join();
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, file_run.err);
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')), file_run.out.substr(0, file_run.out.find('\n')));
    EXPECT_EQ(test::read_text(dir.path("live.txt")), test::read_text(table)) << size;
  }
}

}  // namespace
}  // namespace iq
