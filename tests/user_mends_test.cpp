// SPDX-License-Identifier: MIT
// What a new user meets at the edges that a recorded run cannot show: names near the file
// system's limit and the progress line erased when a signal ends the run. The refusals of
// numbers, pipes, short captures and launcher commands are in the golden corpus.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "io/progress_meter.hpp"
#include "iqspec.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// The temporary name beside an output fits whenever the final name does.
TEST(LongNameTest, OutputsNamedUpToTheLimitAreWritten) {
  test::ScratchDir dir;
  const std::string cap = dir.path("cap.bin");
  test::write_constant(cap, 4096, 0x80);
  const long name_max = ::pathconf(dir.path("").c_str(), _PC_NAME_MAX);
  ASSERT_GT(name_max, 20);
  for (long length : {name_max - 15, name_max - 14, name_max - 1, name_max}) {
    const std::string outp = dir.path(std::string(static_cast<std::size_t>(length - 4), 'n') + ".txt");
    EXPECT_EQ(test::run_tool(run_iqspec, {cap, outp, "64"}).status, 0) << length;
    // Written again, it replaces the old table and leaves no temporary file beside it.
    EXPECT_EQ(test::run_tool(run_iqspec, {cap, outp, "32"}).status, 0);
    EXPECT_EQ(test::read_lines(outp).size(), 32u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")), {}), 2) << length;
    std::filesystem::remove(outp);
  }
  const auto result =
      test::run_tool(run_iqspec, {cap, dir.path(std::string(static_cast<std::size_t>(name_max + 1), 'n')), "64"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("File name too long"), std::string::npos) << result.err;
}

TEST(ProgressOnSignalTest, TheLineIsErasedBeforeTheProcessEnds) {
  test::ScratchDir dir;
  const std::string log = dir.path("terminal.txt");
  for (const int signal_number : {SIGINT, SIGTERM}) {
    EXPECT_EXIT(
        {
          const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
          double now = 0.0;
          ProgressMeter meter(fd, "cap.bin", 1000, [&] { return now; });
          now = 2.0;
          meter.update(500);
          ::raise(signal_number);
          ::_exit(0);
        },
        ::testing::KilledBySignal(signal_number), "");
    const std::string line = ProgressMeter::line("cap.bin", 500, 1000, 2.0);
    EXPECT_EQ(test::read_text(log), "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  }
}

}  // namespace
}  // namespace iq
