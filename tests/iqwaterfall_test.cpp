// iqwaterfall: every row is iqspec's table of its frames, the header names what is known, a
// live stream writes rows as they come and keeps them when stopped, and bad parameters are
// refused before any table exists.
#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "io/capture_metadata.hpp"
#include "io/output_file.hpp"
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

// Waits until `path` holds `blank_lines` blank lines (that many complete rows); false after ten seconds.
bool wait_for_rows(const std::string& path, std::size_t rows) {
  for (int tries = 0; tries < 1000; ++tries) {
    if (parse_waterfall(test::read_text(path)).rows.size() >= rows) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
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

TEST_F(IqwaterfallTest, ConsoleAndPartialRowNote) {
  struct Case {
    std::size_t bytes;
    const char* out;
    const char* err;
  };
  // N = 4, 3 frames per row: a row is 24 bytes.
  const Case cases[] = {
      {72, "Number of Bytes = 72   No. of FFTs=9   Rows=3\n", ""},
      {71, "Number of Bytes = 71   No. of FFTs=9   Rows=3\n", ""},
      {90, "Number of Bytes = 90   No. of FFTs=9   Rows=3\n",
       "iqwaterfall: left out a partial last row: 18 bytes, 2 whole frames of the 3 a row takes\n"},
      {10, "Number of Bytes = 10   No. of FFTs=0   Rows=0\n",
       "iqwaterfall: left out a partial last row: 10 bytes, 1 whole frames of the 3 a row takes\n"},
      {0, "Number of Bytes = 0   No. of FFTs=0   Rows=0\n", ""},
  };
  for (const Case& c : cases) {
    test::write_constant(in, c.bytes, 0x90);
    const auto result = run({in, table, "4", "3"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(c.out) + "\nInfile=" + in + "    Outfile=" + table +
                              "   FFT Points=4   Frames per row=3\n");
    EXPECT_EQ(result.err, c.err) << c.bytes;
  }
  // No complete row leaves the header alone.
  EXPECT_EQ(parse_waterfall(test::read_text(table)).rows.size(), 0u);
  EXPECT_EQ(parse_waterfall(test::read_text(table)).comments.size(), 2u);
}

TEST_F(IqwaterfallTest, HeaderNamesWhatIsKnownAndOptionsOverrideTheMetadata) {
  test::write_constant(in, 64, 0x80);
  const std::string plain = "# iqwaterfall points=4 frames_per_row=2";
  struct Case {
    std::vector<std::string> options;
    std::string header;
  };
  const std::string from_meta =
      " sample_rate_hz=2400000 centre_frequency_hz=1420405751.768 start_utc=2026-12-07T01:30:00Z";
  const Case without_meta[] = {
      {{}, plain},
      {{"--rate", "2.048"}, plain + " sample_rate_hz=2048000"},
      {{"-c", "100", "--start=2026-01-02T03:04:05.5Z"}, plain + " centre_frequency_hz=100000000 start_utc=2026-01-02T03:04:05.5Z"},
  };
  const Case with_meta[] = {
      {{}, plain + from_meta},
      {{"-r", "2.048", "--centre", "1420"},
       plain + " sample_rate_hz=2048000 centre_frequency_hz=1420000000 start_utc=2026-12-07T01:30:00Z"},
  };
  const auto check = [&](const Case& c) {
    std::vector<std::string> args{in, table, "4", "2"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto result = run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto comments = parse_waterfall(test::read_text(table)).comments;
    ASSERT_EQ(comments.size(), 2u);
    EXPECT_EQ(comments[0], c.header);
  };
  for (const Case& c : without_meta) check(c);
  write_capture_metadata(in, {2.4e6, 1420.405751768e6, "2026-12-07T01:30:00Z"});
  for (const Case& c : with_meta) check(c);

  // A malformed metadata file is reported in one line and the run goes on without it.
  test::write_bytes(metadata_path_for(in), {'{', 'x'});
  const auto result = run({in, table, "4", "2"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
  EXPECT_NE(result.err.find("ignored"), std::string::npos) << result.err;
  EXPECT_EQ(parse_waterfall(test::read_text(table)).comments[0], plain);
}

TEST_F(IqwaterfallTest, RefusesBadParametersBeforeAnyTableExists) {
  test::write_constant(in, 256, 0x80);
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string usage = std::string(kIqwaterfallUsage) + "\n";
  const Case cases[] = {
      {{}, usage},
      {{in, table, "8"}, usage},
      {{in, table, "8", "2", "extra"}, usage},
      {{in, table, "0", "2"}, "iqwaterfall: points must be a power of two from 1 to 131072 (got '0')\n"},
      {{in, table, "12", "2"}, "iqwaterfall: points must be a power of two from 1 to 131072 (got '12')\n"},
      {{in, table, "262144", "2"}, "iqwaterfall: points must be a power of two from 1 to 131072 (got '262144')\n"},
      {{in, table, "8x", "2"}, "iqwaterfall: points must be a power of two from 1 to 131072 (got '8x')\n"},
      {{in, table, "8", "0"},
       "iqwaterfall: frames per row must be a whole number from 1 to 576460752303423487 (got '0')\n"},
      {{in, table, "1", "4611686018427387904"},
       "iqwaterfall: frames per row must be a whole number from 1 to 4611686018427387903 (got '4611686018427387904')\n"},
      {{in, table, "8", "-3"}, "iqwaterfall: unknown option '-3'\n"},
      {{in, table, "8", "2.5"},
       "iqwaterfall: frames per row must be a whole number from 1 to 576460752303423487 (got '2.5')\n"},
      {{in, table, "8", "2", "--rate", "0"}, "iqwaterfall: option --rate must be a rate above 0 MHz\n"},
      {{in, table, "8", "2", "--start", "yesterday"},
       "iqwaterfall: option --start must be a UTC time YYYY-MM-DDTHH:MM:SS[.fraction]Z (got 'yesterday')\n"},
      {{in, table, "8", "2", "--colour"}, "iqwaterfall: unknown option '--colour'\n"},
      {{dir.path("missing.bin"), table, "8", "2"}, "iqwaterfall: Can't open file " + dir.path("missing.bin") + "\n"},
  };
  for (const Case& c : cases) {
    const auto result = run(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(test::exists(table));
  }
  EXPECT_EQ(run({in, table, "131072", "1"}).status, 0);
}

TEST_F(IqwaterfallTest, NeverReplacesItsInputAndReportsAFullDisk) {
  test::write_constant(in, 64, 0x42);
  const auto same = run({in, in, "8", "2"});
  EXPECT_EQ(same.status, 1);
  EXPECT_NE(same.err.find("same file as an input"), std::string::npos);
  EXPECT_EQ(test::read_text(in), std::string(64, '\x42'));
  const auto full = run({in, "/dev/full", "8", "2"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("Can't write file /dev/full"), std::string::npos);
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

TEST_F(IqwaterfallTest, AStreamsRowsAreInTheTableAsSoonAsTheirFramesAreIn) {
  const auto bytes = test::random_bytes(2 * 16 * 4 * 3, 9);  // N = 16, 4 frames per row, 3 rows
  test::write_constant(table, 10, 'x');                      // a previous table, replaced whole
  bool seen_in_time = false;
  test::RunResult result;
  {
    const StdinFromPipe stdin_pipe([&](int fd) {
      write_all(fd, bytes.data(), 2 * 16 * 4 * 2);
      seen_in_time = wait_for_rows(table, 2);
      write_all(fd, bytes.data() + 2 * 16 * 4 * 2, 2 * 16 * 4);
    });
    result = run({"-", table, "16", "4"});
  }
  EXPECT_TRUE(seen_in_time);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(parse_waterfall(test::read_text(table)).rows.size(), 3u);
}

TEST_F(IqwaterfallTest, AStopSignalEndsAStreamAndKeepsItsCompleteRows) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    // The last round's table would let the signal go before this run takes the signals over.
    std::filesystem::remove(table);
    const auto bytes = test::random_bytes(2 * 8 * 3 * 2 + 20, 4);  // N = 8, 3 frames a row: 2 rows and a bit
    const pthread_t reader = ::pthread_self();
    { const OutputFile first(dir.path("first.txt"), {}); }  // sets up the outputs' own handler
    struct sigaction before {};
    ::sigaction(signal_number, nullptr, &before);
    test::RunResult result;
    {
      const StdinFromPipe stdin_pipe([&](int fd) {
        write_all(fd, bytes.data(), bytes.size());
        ASSERT_TRUE(wait_for_rows(table, 2));
        ::pthread_kill(reader, signal_number);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the stream stays open
      });
      result = run({"-", table, "8", "3"});
    }
    EXPECT_EQ(result.status, 0);
    // The run gives the signals back as it found them: open, and to the previous handler.
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, signal_number));
    struct sigaction after {};
    ::sigaction(signal_number, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    const std::string name = signal_number == SIGINT ? "SIGINT" : "SIGTERM";
    EXPECT_EQ(result.err, "iqwaterfall: the stream was stopped by " + name +
                              "; the table keeps its 2 complete rows\n"
                              "iqwaterfall: left out a partial last row: 20 bytes, 1 whole frames of the 3 a row takes\n");
    const Waterfall waterfall = parse_waterfall(test::read_text(table));
    EXPECT_EQ(waterfall.rows.size(), 2u);
    EXPECT_TRUE(waterfall.ends_with_blank_line);
  }
}

}  // namespace
}  // namespace iq
