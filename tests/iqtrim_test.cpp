// iqtrim: where the cut starts, how long it is, the padding past the end of the old file, the
// refusals; and the two-receiver workflow of lagscan and iqtrim together.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "io/capture_format.hpp"
#include "iqsim.hpp"
#include "iqtrim.hpp"
#include "lagscan.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

class IqtrimTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string old_file = dir.path("old.bin");
  std::string new_file = dir.path("new.bin");
  test::RunResult run(const std::string& blocks, const std::string& align) {
    return run_tool(run_iqtrim, {old_file, new_file, blocks, align});
  }
};

TEST_F(IqtrimTest, CutsFromSample7000PlusTheAlignAddress) {
  const auto old_bytes = test::random_bytes(5 * kBlockBytes, 4);
  test::write_bytes(old_file, old_bytes);
  struct Case {
    const char* blocks;
    const char* align;
    std::size_t skip;
    std::size_t bytes;
  };
  for (const Case c : {Case{"2", "0", 14000, 32768}, Case{"2", "-7000", 0, 32768}, Case{"1", "-7001", 0, 16384},
                       Case{"1", "-2147483648", 0, 16384}, Case{"2", "3", 14006, 32768}, Case{"3", "-6999", 2, 49152},
                       Case{"1", "+0", 14000, 16384}, Case{"0", "0", 0, 0}, Case{"-3", "0", 0, 0},
                       Case{"-9223372036854775808", "0", 0, 0}}) {
    const auto result = run(c.blocks, c.align);
    ASSERT_EQ(result.status, 0) << c.align;
    EXPECT_EQ(result.out + result.err, "") << c.align;
    const auto from = old_bytes.begin() + static_cast<std::ptrdiff_t>(c.skip);
    EXPECT_EQ(test::read_text(new_file), std::string(from, from + static_cast<std::ptrdiff_t>(c.bytes))) << c.align;
  }
}

TEST(TransferScheduleTest, FullTransfersThenTheRest) {
  struct Case {
    std::int64_t bytes;
    std::vector<std::int64_t> transfers;
  };
  for (const Case& c : {Case{3 * kBlockBytes, {32768, 16384}}, Case{2 * kBlockBytes, {32768, 0}},
                        Case{32767, {32767}}, Case{0, {0}}, Case{-16384, {0}}}) {
    std::vector<std::int64_t> transfers;
    for (TransferSchedule schedule(c.bytes); !schedule.done();) transfers.push_back(schedule.next());
    EXPECT_EQ(transfers, c.transfers) << c.bytes;
  }
}

TEST_F(IqtrimTest, PadsPastTheEndWith255AndSaysHowMuch) {
  const auto old_bytes = test::random_bytes(20000, 5);
  test::write_bytes(old_file, old_bytes);
  const auto partly = run("1", "0");
  EXPECT_EQ(partly.status, 0);
  EXPECT_EQ(partly.out, "");
  std::string expected(old_bytes.begin() + 14000, old_bytes.end());
  expected.append(16384 - 6000, '\xff');
  EXPECT_EQ(test::read_text(new_file), expected);
  EXPECT_EQ(partly.err, "iqtrim: " + new_file + " runs past the end of " + old_file +
                            ": its last 10384 bytes are padding of value 255\n");

  const auto wholly = run("2", "100000");
  EXPECT_EQ(wholly.status, 0);
  EXPECT_EQ(test::read_text(new_file), std::string(2 * kBlockBytes, '\xff'));
  EXPECT_NE(wholly.err.find("its last 32768 bytes"), std::string::npos) << wholly.err;
}

TEST_F(IqtrimTest, AlignAddressesBeyond2To30DoNotWrap) {
  // A sparse old file with a marked block at its start and where the skips of two align
  // addresses beyond 2^30 end; a skip that wrapped in 32 bits would copy the first block.
  struct Mark {
    const char* align;
    std::int64_t skip;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Mark> marks = {{"-7000", 0, test::random_bytes(kBlockBytes, 6)},
                                   {"1073741824", 2 * (std::int64_t{1} << 30) + 14000, test::random_bytes(kBlockBytes, 7)},
                                   {"2147483647", 2 * std::int64_t{2147483647} + 14000, test::random_bytes(kBlockBytes, 8)}};
  const int fd = ::open(old_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  for (const Mark& mark : marks) {
    ASSERT_EQ(::pwrite(fd, mark.bytes.data(), mark.bytes.size(), static_cast<off_t>(mark.skip)),
              static_cast<ssize_t>(mark.bytes.size()));
  }
  ::close(fd);
  for (const Mark& mark : marks) {
    const auto result = run("1", mark.align);
    ASSERT_EQ(result.status, 0) << mark.align;
    EXPECT_EQ(result.err, "") << mark.align;
    EXPECT_EQ(test::read_text(new_file), std::string(mark.bytes.begin(), mark.bytes.end())) << mark.align;
  }
}

TEST_F(IqtrimTest, Refusals) {
  const auto usage = run_tool(run_iqtrim, {old_file, new_file, "1"});
  EXPECT_EQ(usage.out, std::string(kIqtrimUsage) + "\n");
  EXPECT_EQ(usage.status, 1);

  const auto missing = run("1", "0");
  EXPECT_EQ(missing.out, "Can't open file " + old_file + ".\n");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(test::exists(new_file));

  test::write_bytes(old_file, test::random_bytes(kBlockBytes, 4));
  const auto too_many = run("562949953421312", "0");  // 2^49 blocks: 2^63 bytes
  EXPECT_EQ(too_many.status, 1);
  EXPECT_EQ(too_many.err,
            "iqtrim: No 8192 IQ blocks must be at most 562949953421311 (got '562949953421312')\n");
  EXPECT_FALSE(test::exists(new_file));

  const auto onto_old = run_tool(run_iqtrim, {old_file, old_file, "1", "-7000"});
  EXPECT_EQ(onto_old.status, 1);
  EXPECT_NE(onto_old.err.find("same file as an input"), std::string::npos);
  EXPECT_EQ(test::read_text(old_file).size(), static_cast<std::size_t>(kBlockBytes));

  const auto unwritable = run_tool(run_iqtrim, {old_file, "/dev/full", "1", "0"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("Can't write file /dev/full"), std::string::npos);
}

// "1 on 2" and "2 on 1" offsets from the last peak line of a lagscan console.
std::pair<std::string, std::string> final_offsets(const std::string& console) {
  const std::regex line(R"(8192\t\d+\t[0-9.]+\t(-?\d+)\t[0-9.]+\t(-?\d+)\n)");
  std::pair<std::string, std::string> offsets;
  for (std::sregex_iterator it(console.begin(), console.end(), line), end; it != end; ++it) {
    offsets = {(*it)[1], (*it)[2]};
  }
  return offsets;
}

TEST(TwoReceiverTest, CutsAtTheFoundOffsetLineUp) {
  test::ScratchDir dir;
  const std::string rx1 = dir.path("rx1.bin"), rx2 = dir.path("rx2.bin");
  const std::string cut1 = dir.path("cut1.bin"), cut2 = dir.path("cut2.bin");
  const std::string samples = std::to_string(6 * kBlockSamples);
  ASSERT_EQ(run_tool(run_iqsim, {rx1, "-n", samples, "--rx-noise", "3", "--rx-seed", "1"}).status, 0);
  ASSERT_EQ(run_tool(run_iqsim, {rx2, "-n", samples, "--delay", "2345", "--rx-noise", "3"}).status, 0);

  const auto found = run_tool(run_lagscan, {rx1, rx2, dir.path("lags.txt"), "800", "4"});
  ASSERT_EQ(found.status, 0);
  const auto [offset, reverse] = final_offsets(found.out);
  EXPECT_EQ(offset, "2345");
  EXPECT_EQ(reverse, "-2345");

  ASSERT_EQ(run_tool(run_iqtrim, {rx1, cut1, "2", "0"}).status, 0);
  ASSERT_EQ(run_tool(run_iqtrim, {rx2, cut2, "2", offset}).status, 0);
  const auto aligned = run_tool(run_lagscan, {cut1, cut2, dir.path("cut-lags.txt"), "800", "2"});
  ASSERT_EQ(aligned.status, 0);
  EXPECT_EQ(final_offsets(aligned.out), std::make_pair(std::string("0"), std::string("0")));
}

}  // namespace
}  // namespace iq
