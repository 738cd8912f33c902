// SPDX-License-Identifier: MIT
// What the golden corpus cannot show of a run's inputs and outputs: a table replaces the previous
// file only when complete; the inputs refused before they are opened (a socket among them);
// tables split into lines across the reader's buffer; the progress line's text, its timing, and
// on a terminal.
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "io/capture_reader.hpp"
#include "io/file_kind.hpp"
#include "io/output_file.hpp"
#include "io/progress_meter.hpp"
#include "io/table_reader.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

namespace fs = std::filesystem;

TEST(OutputsTest, ThePreviousFileIsReplacedOnlyOnCommit) {
  test::ScratchDir dir;
  const std::string table = dir.path("table.txt"), big(1 << 20, 'x');
  for (const bool commit : {false, true}) {
    test::write_bytes(table, {'o', 'l', 'd'});
    {
      OutputFile output(table, {});
      output.write(big);
      EXPECT_EQ(test::read_text(table), "old");
      if (commit) output.commit();
    }
    EXPECT_EQ(test::read_text(table), commit ? big : "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path("")), fs::directory_iterator()), 1)
        << "a temporary file is left";
  }
}

// A socket cannot be made from the shell of a golden case; a pipe the program holds is read.
TEST(OutputsTest, InputsThatCouldBlockAreRefusedBeforeTheyAreOpened) {
  test::ScratchDir dir;
  const std::string fifo = dir.path("f"), socket_path = dir.path("s"), file = dir.path("t.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  test::write_bytes(file, {'1', '\n'});
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string held = "/dev/fd/" + std::to_string(ends[0]);
  for (const auto& [path, refusal] : std::vector<std::pair<std::string, std::string>>{{fifo, "named pipe (FIFO)"},
                                                                                      {socket_path, "socket"},
                                                                                      {"/dev/null", "device"},
                                                                                      {file, ""},
                                                                                      {dir.path("none"), ""},
                                                                                      {held, ""}}) {
    EXPECT_NE(input_refusal(path).value_or("").find(refusal), std::string::npos) << path;
    EXPECT_EQ(input_refusal(path).has_value(), !refusal.empty()) << path;
    std::string why;
    const bool opened = CaptureReader::open(path, 64, &why).has_value();
    EXPECT_EQ(opened, refusal.empty() && path != dir.path("none")) << path;
    if (!refusal.empty()) {
      EXPECT_NE(why.find(refusal), std::string::npos) << why;
    }
  }
  ::close(sock);
  ::close(ends[0]);
  ::close(ends[1]);
}

std::vector<std::string> lines_of(TableReader& table) {
  std::vector<std::string> lines;
  for (std::string line; table.next_line(line);) {
    lines.push_back(line);
    EXPECT_EQ(table.line_number(), static_cast<std::int64_t>(lines.size()));
  }
  return lines;
}

TEST(OutputsTest, TablesAreReadLineByLineAcrossTheBuffer) {
  test::ScratchDir dir;
  const std::string path = dir.path("t.txt");
  std::vector<std::string> expected;
  std::string text;
  for (std::size_t i = 0; text.size() < (std::size_t{3} << 16); ++i) {  // lines cross every refill
    expected.push_back(std::string(i * 7 % 97, static_cast<char>('a' + i % 26)));
    text += expected.back() + (i % 3 == 0 ? "\r\n" : "\n");
  }
  expected.push_back("last, without its end");
  text += expected.back();
  std::ofstream(path) << text;
  TableReader table(path);
  EXPECT_EQ(lines_of(table), expected);
  table.rewind();
  EXPECT_EQ(lines_of(table), expected);
}

// A clock that moves on by `step` seconds every time it is read.
ProgressMeter::Clock stepping_clock(double step) {
  return [now = std::make_shared<double>(0.0), step] { return *now += step; };
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;  // a pseudo-terminal ends with EIO once the child has gone
}

TEST(OutputsTest, ProgressLineShowsPercentSpeedAndTimeLeft) {
  for (const auto& [done, total, elapsed, text] :
       std::vector<std::tuple<std::int64_t, std::int64_t, double, const char*>>{
           {250'000'000, 1'000'000'000, 2.0, "cap.bin   25%  125.0 MB/s  0:06 left"},
           {0, 1'000'000'000, 2.0, "cap.bin    0%  0.0 MB/s"},
           {1'000'000, 10'000'000'000, 1.0, "cap.bin    0%  1.0 MB/s  2:46:39 left"},
           {1'000'000, 1'000'000'000, 1.0, "cap.bin    0%  1.0 MB/s  16:39 left"},
           {999, 1000, 1.0, "cap.bin   99%  0.0 MB/s  0:01 left"},
           {2000, 1000, 1.0, "cap.bin  100%  0.0 MB/s  0:00 left"}}) {
    EXPECT_EQ(ProgressMeter::line("cap.bin", done, total, elapsed), text) << done;
  }
  // Quiet for the first second, then throttled, and erased at the end.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    ProgressMeter meter(fds[1], "x", 100, stepping_clock(0.125));
    for (int done = 1; done <= 9; ++done) meter.update(done);  // shows at 1.0 s (done = 8) only
    meter.update(100);
    meter.update(100);
  }
  ::close(fds[1]);
  const std::string line = ProgressMeter::line("x", 8, 100, 1.0);
  EXPECT_EQ(read_all(fds[0]), "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  ::close(fds[0]);
}

// The progress line of a capture read in a child process whose standard error is a
// pseudo-terminal. (On a file or pipe, as in every golden case, nothing shows.)
TEST(OutputsTest, ProgressShowsOnATerminal) {
  test::ScratchDir dir;
  test::write_bytes(dir.path("sky.bin"), test::random_bytes(64 * 4096, 5));
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    auto reader = CaptureReader::open(dir.path("sky.bin"), 4096);
    reader->show_progress(reader->length(), stepping_clock(0.3));
    for (std::int64_t i = 0; i < reader->length(); ++i) reader->next_byte();
    ::_exit(0);
  }
  const std::string shown = read_all(terminal);
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (const char* part : {"sky.bin", "% ", "MB/s", " left"})
    EXPECT_NE(shown.find(part), std::string::npos) << shown;
  EXPECT_EQ(shown.back(), '\r') << "the line is erased at the end";
}

}  // namespace
}  // namespace iq
