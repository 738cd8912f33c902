// Outputs: refused when they are an input, written completely or not at all, and every
// failure to write reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "io/capture_reader.hpp"
#include "io/output_file.hpp"
#include "test_support.hpp"
#include "io/tool_error.hpp"

namespace iq {
namespace {

namespace fs = std::filesystem;

std::size_t files_in(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(OutputFile, ReplacesThePreviousFileOnlyOnCommit) {
  test::ScratchDir dir;
  const std::string table = dir.path("table.txt");
  test::write_bytes(table, {'o', 'l', 'd'});
  {
    OutputFile output(table, {});
    output.write("new table\n");
    EXPECT_EQ(test::read_text(table), "old");
    output.commit();
  }
  EXPECT_EQ(test::read_text(table), "new table\n");
  EXPECT_EQ(files_in(dir.path("")), 1u);
}

TEST(OutputFile, APublishedFileIsInPlaceAtOnceAndKeepsWhatWasFlushed) {
  test::ScratchDir dir;
  const std::string table = dir.path("table.txt");
  test::write_bytes(table, {'o', 'l', 'd'});
  {
    OutputFile output(table, {});
    output.write("header\n");
    output.publish();
    EXPECT_EQ(test::read_text(table), "header\n");  // the previous file replaced whole
    output.write("row 1\n");
    EXPECT_EQ(test::read_text(table), "header\n");
    output.flush();
    EXPECT_EQ(test::read_text(table), "header\nrow 1\n");
    output.write("row 2, never flushed\n");
  }  // a run that ends without commit keeps what it flushed
  EXPECT_EQ(test::read_text(table), "header\nrow 1\n");
  EXPECT_EQ(files_in(dir.path("")), 1u);
}

TEST(OutputFile, AnUnfinishedRunLeavesThePreviousFileAndNoTemporary) {
  test::ScratchDir dir;
  const std::string table = dir.path("table.txt");
  test::write_bytes(table, {'o', 'l', 'd'});
  {
    OutputFile output(table, {});
    output.write(std::string(1 << 20, 'x'));
  }
  EXPECT_EQ(test::read_text(table), "old");
  EXPECT_EQ(files_in(dir.path("")), 1u);
}

TEST(OutputFile, RefusesAnInputUnderAnyName) {
  test::ScratchDir dir;
  const std::string capture = dir.path("cap.bin");
  test::write_bytes(capture, {1, 2, 3, 4});
  fs::create_hard_link(capture, dir.path("hard.bin"));
  fs::create_symlink(capture, dir.path("soft.bin"));
  auto reader = CaptureReader::open(capture);
  ASSERT_TRUE(reader);
  for (const char* name : {"cap.bin", "hard.bin", "soft.bin"}) {
    EXPECT_THROW(OutputFile(dir.path(name), {reader->id()}), ToolError) << name;
  }
  EXPECT_EQ(test::read_text(capture), std::string("\x01\x02\x03\x04"));
}

TEST(OutputFile, ReportsWhatCannotBeCreatedOrWritten) {
  test::ScratchDir dir;
  EXPECT_THROW(OutputFile(dir.path("no/such/folder/table.txt"), {}), ToolError);
  EXPECT_THROW(OutputFile(dir.path(""), {}), ToolError);
  OutputFile full("/dev/full", {});
  full.write("a line\n");
  try {
    full.commit();
    FAIL() << "a write to /dev/full was not reported";
  } catch (const ToolError& error) {
    EXPECT_NE(std::string(error.what()).find("/dev/full"), std::string::npos);
  }
}

TEST(OutputFile, WritesThroughASymbolicLinkAndKeepsIt) {
  test::ScratchDir dir;
  test::write_bytes(dir.path("target.txt"), {'o'});
  fs::create_symlink(dir.path("target.txt"), dir.path("link.txt"));
  OutputFile output(dir.path("link.txt"), {});
  output.write("through the link\n");
  output.commit();
  EXPECT_TRUE(fs::is_symlink(dir.path("link.txt")));
  EXPECT_EQ(test::read_text(dir.path("target.txt")), "through the link\n");
}

}  // namespace
}  // namespace iq
