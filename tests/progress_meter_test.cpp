// The progress line: its text, when it shows, and that it appears on a terminal only.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "io/capture_reader.hpp"
#include "io/progress_meter.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// A clock that moves on by `step` seconds every time it is read.
ProgressMeter::Clock stepping_clock(double step) {
  auto now = std::make_shared<double>(0.0);
  return [now, step] { return *now += step; };
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;  // a pseudo-terminal ends with EIO once the child has gone
}

TEST(ProgressMeterTest, LineShowsPercentSpeedAndTimeLeft) {
  struct Case {
    std::int64_t done, total;
    double elapsed;
    const char* text;
  };
  const Case cases[] = {
      {250'000'000, 1'000'000'000, 2.0, "cap.bin   25%  125.0 MB/s  0:06 left"},
      {0, 1'000'000'000, 2.0, "cap.bin    0%  0.0 MB/s"},
      {1'000'000, 10'000'000'000, 1.0, "cap.bin    0%  1.0 MB/s  2:46:39 left"},
      {999, 1000, 1.0, "cap.bin   99%  0.0 MB/s  0:01 left"},
      {2000, 1000, 1.0, "cap.bin  100%  0.0 MB/s  0:00 left"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressMeter::line("cap.bin", c.done, c.total, c.elapsed), c.text) << c.done;
  }
}

TEST(ProgressMeterTest, QuietForTheFirstSecondThenThrottledAndErasedAtTheEnd) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    // The clock reads 0.125 s at the start and 0.125 s more at every update.
    ProgressMeter meter(fds[1], "x", 100, stepping_clock(0.125));
    for (int done = 1; done <= 9; ++done) meter.update(done);  // shows at 1.0 s (done = 8) only
    meter.update(100);  // the end erases the line
    meter.update(100);
  }
  ::close(fds[1]);
  const std::string shown = read_all(fds[0]);
  ::close(fds[0]);
  const std::string line = ProgressMeter::line("x", 8, 100, 1.0);
  EXPECT_EQ(shown, "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
}

// Reads a capture with a progress line in a child process whose standard error is either a
// pseudo-terminal or a pipe, and returns what appeared there.
std::string progress_of_child(const std::string& capture, bool terminal) {
  int parent_end = -1;
  pid_t child = -1;
  int fds[2] = {-1, -1};
  if (terminal) {
    child = ::forkpty(&parent_end, nullptr, nullptr, nullptr);
  } else {
    if (::pipe(fds) != 0) return "pipe failed";
    child = ::fork();
    parent_end = fds[0];
  }
  if (child == 0) {
    if (!terminal) ::dup2(fds[1], STDERR_FILENO);
    auto reader = CaptureReader::open(capture, 4096);
    if (!reader) ::_exit(2);
    reader->show_progress(reader->length(), stepping_clock(0.3));
    std::uint8_t sum = 0;
    for (std::int64_t i = 0; i < reader->length(); ++i) sum = static_cast<std::uint8_t>(sum + reader->next_byte());
    ::_exit(sum == 255 ? 3 : 0);
  }
  if (!terminal) ::close(fds[1]);
  const std::string shown = read_all(parent_end);
  ::close(parent_end);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return shown;
}

TEST(ProgressMeterTest, CaptureReaderShowsProgressOnATerminalOnly) {
  test::ScratchDir dir;
  const std::string capture = dir.path("sky.bin");
  test::write_bytes(capture, test::random_bytes(64 * 4096, 5));

  const std::string on_terminal = progress_of_child(capture, true);
  EXPECT_NE(on_terminal.find("sky.bin"), std::string::npos) << on_terminal;
  EXPECT_NE(on_terminal.find("% "), std::string::npos) << on_terminal;
  EXPECT_NE(on_terminal.find("MB/s"), std::string::npos) << on_terminal;
  EXPECT_NE(on_terminal.find(" left"), std::string::npos) << on_terminal;
  EXPECT_EQ(on_terminal.back(), '\r') << "the line is erased at the end";

  EXPECT_EQ(progress_of_child(capture, false), "");
}

}  // namespace
}  // namespace iq
