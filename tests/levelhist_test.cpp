// levelhist: whole-chunk counting, the table's levels and means, single-precision counts, and
// the lane counter against a plain byte loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "levelhist.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

TEST(LevelhistTest, UsageAndUnopenableInputWithoutNewline) {
  test::ScratchDir dir;
  EXPECT_EQ(run_tool(run_levelhist, {dir.path("in")}).out, std::string(kLevelhistUsage) + "\n");
  const auto missing = run_tool(run_levelhist, {dir.path("in"), dir.path("out")});
  EXPECT_EQ(missing.out, "Can't open file " + dir.path("in") + ". ");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(test::exists(dir.path("out")));
}

TEST(LevelhistTest, MeansPerWholeChunkOnAlways256Lines) {
  std::vector<std::uint8_t> alternating(512, 0x00);
  for (std::size_t k = 1; k < alternating.size(); k += 2) alternating[k] = 0xFF;
  std::vector<std::uint8_t> partial(1000, 0x20);  // only the first 512 bytes are counted
  std::fill(partial.begin() + 1, partial.begin() + 512, 0x10);
  partial[0] = 0x11;
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::map<int, std::string> means;  // level -> printed mean where not "0.000"
  };
  for (const Case& c : std::vector<Case>{{std::vector<std::uint8_t>(1024, 0x80), {{0, "512.000"}}},
                                         {alternating, {{-128, "256.000"}, {127, "256.000"}}},
                                         {partial, {{-112, "511.000"}, {-111, "1.000"}}},
                                         {std::vector<std::uint8_t>(511, 0x80), {}}}) {
    test::ScratchDir dir;
    test::write_bytes(dir.path("in"), c.bytes);
    const auto result = run_tool(run_levelhist, {dir.path("in"), dir.path("out")});
    EXPECT_EQ(result.out, "Number of Bytes = " + std::to_string(c.bytes.size()) + "\n\nInfile=" +
                              dir.path("in") + "    Outfile=" + dir.path("out") + "\n");
    const auto lines = test::read_lines(dir.path("out"));
    ASSERT_EQ(lines.size(), 256u);
    for (int level = -128; level < 128; ++level) {
      const std::string mean =
          c.bytes.size() < 512 ? "-nan" : c.means.contains(level) ? c.means.at(level) : "0.000";
      EXPECT_EQ(lines[level + 128], std::to_string(level) + "    " + mean);
    }
  }
}

TEST(LevelTableTest, CountsAreRoundedToSinglePrecisionBeforeTheDivision) {
  LevelCounts counts{};
  counts[0] = 16777217;  // 2^24 + 1 rounds to 2^24
  counts[1] = 16777219;  // rounds to 16777220: 5592406.667 over 3, not 5592406.333
  counts[2] = 2;
  const std::string text = level_table(counts, 3);
  EXPECT_EQ(text.substr(0, text.find("-125    0.000\n")),
            "-128    5592405.333\n-127    5592406.667\n-126    0.667\n");
}

TEST(LevelCounterTest, EqualsAPlainByteLoop) {
  std::vector<std::uint8_t> runs(4099, 0x7F);
  std::fill(runs.begin() + 1000, runs.begin() + 3000, 0x81);
  // Flushing the lanes into the totals every 1000 bytes as well as at the usual interval.
  for (const auto& [bytes, flush_bytes] : {std::pair{test::random_bytes(100003, 6), std::size_t{1000}},
                                          {test::random_bytes(100003, 6), LevelCounter::kDefaultFlushBytes},
                                          {runs, std::size_t{1000}}}) {
    LevelCounter counter(flush_bytes);
    LevelCounts expected{};
    // Pieces of awkward lengths and offsets, so that word loads and tails both occur.
    for (std::size_t begin = 0, size = 1; begin < bytes.size(); begin += size, size = size * 3 + 1) {
      const std::size_t end = std::min(bytes.size(), begin + size);
      counter.add(std::span(bytes).subspan(begin, end - begin));
      for (std::size_t k = begin; k < end; ++k) ++expected[bytes[k]];
    }
    EXPECT_EQ(counter.totals(), expected);
  }
}

}  // namespace
}  // namespace iq
