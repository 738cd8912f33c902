// iqwaterfall: every row is iqspec's table of its frames, whatever the threads, and a stream
// arriving in pieces that end inside frames gives the file's table. Its console, header and
// refusals are in the golden corpus; a stream stopped by a signal in tests/cli.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "iqspec.hpp"
#include "iqwaterfall.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

// A table split into its comment lines and its blocks (each without its closing blank line).
struct Waterfall {
  std::vector<std::string> comments;
  std::vector<std::string> rows;
  bool ends_with_blank_line = false;
};

Waterfall parse_waterfall(const std::string& text) {
  Waterfall table;
  std::string block;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (line.rfind("#", 0) == 0) {
      table.comments.push_back(line);
    } else if (line.empty()) {
      table.rows.push_back(block);
      block.clear();
    } else {
      block += line + "\n";
    }
  }
  table.ends_with_blank_line = block.empty();
  return table;
}

// Standard input taken from a pipe for the length of a test; `feed` writes into the other end
// on a thread of its own and closes it.
class StdinFromPipe {
 public:
  explicit StdinFromPipe(std::function<void(int)> feed) {
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    saved_ = ::dup(STDIN_FILENO);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    writer_ = std::thread([feed = std::move(feed), fd = ends[1]] {
      feed(fd);
      ::close(fd);
    });
  }
  ~StdinFromPipe() {
    writer_.join();
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }

 private:
  int saved_ = -1;
  std::thread writer_;
};

void write_all(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, bytes, count);
    if (done <= 0) return;
    bytes += done;
    count -= static_cast<std::size_t>(done);
  }
}

class ThreadsFromEnvironment {
 public:
  explicit ThreadsFromEnvironment(const char* threads) { ::setenv("IQTOOLS_THREADS", threads, 1); }
  ~ThreadsFromEnvironment() { ::unsetenv("IQTOOLS_THREADS"); }
};

class IqwaterfallTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("waterfall.txt");
  test::RunResult run(std::vector<std::string> args) { return run_tool(run_iqwaterfall, args); }
};

TEST_F(IqwaterfallTest, EveryRowIsIqspecsTableOfItsFramesCutOut) {
  struct Case {
    std::int64_t points;
    std::int64_t frames_per_row;
    std::int64_t bytes;
    std::size_t rows;
  };
  const Case cases[] = {
      {8, 3, 8 * 2 * 3 * 5, 5},                      // whole rows
      {16, 7, 16 * 2 * 7 * 4 - 1, 4},                // one byte short: the last byte reads as 255
      {64, 1, 64 * 2 * 10 + 100, 10},                // a row per frame, a partial frame left
      {1, 5, 53, 5},                                  // one point
      {256, 600, 256 * 2 * 600 * 2 + 3, 2},          // two rows in one batch of frames
      {4096, 300, 4096 * 2 * 300 + 4096 * 2 * 7, 1},  // a row over several batches
  };
  for (const Case& c : cases) {
    const auto bytes = test::random_bytes(static_cast<std::size_t>(c.bytes), static_cast<std::uint32_t>(c.points));
    test::write_bytes(in, bytes);
    const std::int64_t row_bytes = 2 * c.points * c.frames_per_row;
    std::vector<std::string> expected;
    for (std::size_t r = 0; r < c.rows; ++r) {
      const std::int64_t start = static_cast<std::int64_t>(r) * row_bytes;
      const std::int64_t length = std::min(row_bytes, c.bytes - start);
      test::write_bytes(dir.path("row.bin"), std::vector<std::uint8_t>(bytes.begin() + start, bytes.begin() + start + length));
      ASSERT_EQ(run_tool(run_iqspec, {dir.path("row.bin"), dir.path("row.txt"), std::to_string(c.points)}).status, 0);
      expected.push_back(test::read_text(dir.path("row.txt")));
    }
    for (const char* threads : {"1", "2"}) {
      const ThreadsFromEnvironment cap(threads);
      const auto result = run({in, table, std::to_string(c.points), std::to_string(c.frames_per_row)});
      ASSERT_EQ(result.status, 0) << result.err;
      const Waterfall waterfall = parse_waterfall(test::read_text(table));
      ASSERT_EQ(waterfall.rows.size(), c.rows) << "N = " << c.points;
      EXPECT_TRUE(waterfall.ends_with_blank_line);
      for (std::size_t r = 0; r < c.rows; ++r) {
        EXPECT_EQ(waterfall.rows[r], expected[r]) << "N = " << c.points << ", row " << r << ", threads " << threads;
      }
    }
  }
}

TEST_F(IqwaterfallTest, AStreamGivesTheTableOfTheSameCaptureAsAFile) {
  struct Case {
    std::size_t bytes;
    const char* note;
  };
  // N = 32, 5 frames per row: a row is 320 bytes.
  const Case cases[] = {
      {320 * 4, ""},
      {320 * 4 - 1, ""},  // one byte short, as for a file
      {320 * 4 + 100, "iqwaterfall: left out a partial last row: 100 bytes, 1 whole frames of the 5 a row takes\n"},
  };
  for (const Case& c : cases) {
    const auto bytes = test::random_bytes(c.bytes, 5);
    test::write_bytes(in, bytes);
    ASSERT_EQ(run({in, table, "32", "5"}).status, 0);
    test::RunResult result;
    {
      const StdinFromPipe stdin_pipe([&](int fd) {
        // In pieces that end inside frames, as a pipe delivers them.
        for (std::size_t at = 0; at < bytes.size(); at += 77) write_all(fd, bytes.data() + at, std::min<std::size_t>(77, bytes.size() - at));
      });
      result = run({"-", dir.path("live.txt"), "32", "5"});
    }
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, c.note);
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')),
              "Number of Bytes = " + std::to_string(c.bytes) + "   No. of FFTs=20   Rows=4");
    EXPECT_EQ(test::read_text(dir.path("live.txt")), test::read_text(table)) << c.bytes;
  }
}

}  // namespace
}  // namespace iq
