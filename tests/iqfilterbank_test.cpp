// SPDX-License-Identifier: MIT
// iqfilterbank: the header, byte for byte, is the one the SIGPROC format describes, built here
// keyword by keyword; the samples are iqwaterfall's rows in single precision, highest channel
// first. Its console and refusals are in the golden corpus.
#include <gtest/gtest.h>

#include <cstring>

#include "iqfilterbank.hpp"
#include "iqwaterfall.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

TEST(IqfilterbankTest, HeaderIsTheFormatsKeywordByKeyword) {
  static_assert(std::endian::native == std::endian::little);
  test::ScratchDir dir;
  const std::string in = dir.path("cap.bin"), fil = dir.path("out.fil");
  test::write_bytes(in, test::random_bytes(64 * 2 * 10 * 3, 1));
  const auto result =
      run_tool(run_iqfilterbank, {in, fil, "64", "10", "--rate", "2.4", "--centre", "430", "--start",
                                  "2026-12-07T06:00:00Z", "--source", "B0329+54", "--radec", "53.2475,-54.5"});
  ASSERT_EQ(result.status, 0) << result.err;
  test::SigprocBytes expected;
  expected.word("HEADER_START").integer("telescope_id", 0).integer("machine_id", 0).integer("data_type", 1);
  expected.word("rawdatafile").word(in).word("source_name").word("B0329+54");
  // 53.2475 degrees is 3h 32m 59.4s; -54.5 degrees is -54d 30m 0s.
  expected.real("src_raj", 33259.4).real("src_dej", -543000.0);
  // 2026-12-07 is MJD 61381; a quarter day later. 640 points at 2.4 MHz; channels of 37.5 kHz,
  // the highest 31 of them above the centre.
  expected.real("tstart", 61381.25).real("tsamp", 640 / 2.4e6).real("fch1", 431.1625).real("foff", -0.0375);
  expected.integer("nchans", 64).integer("nbits", 32).integer("nifs", 1).word("HEADER_END");
  const std::string written = test::read_text(fil);
  ASSERT_GE(written.size(), expected.bytes.size());
  std::string header = written.substr(0, expected.bytes.size());
  // The sexagesimal angles are sums of decimals: equal within rounding, then compared as written.
  // The other values are exact: each a correctly rounded quotient of whole numbers.
  for (const std::string key : {"src_raj", "src_dej"}) {
    const std::size_t at = expected.bytes.find(key) + key.size();
    double written_value = 0.0, expected_value = 0.0;
    std::memcpy(&written_value, header.data() + at, 8);
    std::memcpy(&expected_value, expected.bytes.data() + at, 8);
    EXPECT_NEAR(written_value, expected_value, 1e-6) << key;
    std::memcpy(header.data() + at, &expected_value, 8);
  }
  EXPECT_EQ(header, expected.bytes);
  EXPECT_EQ(written.size(), expected.bytes.size() + 3 * 64 * 4);
}

TEST(IqfilterbankTest, SamplesAreTheWaterfallsRowsHighestChannelFirst) {
  test::ScratchDir dir;
  const std::string in = dir.path("cap.bin"), fil = dir.path("out.fil"), table = dir.path("rows.txt");
  const struct { int channels, frames, samples; } cases[] = {{8, 3, 5}, {64, 1, 7}, {256, 40, 2}};
  for (const auto& c : cases) {
    test::write_bytes(in,
                      test::random_bytes(static_cast<std::size_t>(2 * c.channels * c.frames * c.samples + 5), 9));
    const std::vector<std::string> common = {std::to_string(c.channels), std::to_string(c.frames)};
    ASSERT_EQ(run_tool(run_iqwaterfall, {in, table, common[0], common[1]}).status, 0);
    ASSERT_EQ(run_tool(run_iqfilterbank, {in, fil, common[0], common[1], "--rate", "2", "--centre", "100",
                                          "--start", "2026-01-01T00:00:00Z"})
                  .status,
              0);
    std::vector<float> rows;  // the waterfall's values, each row reversed
    std::vector<float> row;
    for (const std::string& line : test::read_lines(table)) {
      if (line.empty() && !row.empty()) {
        rows.insert(rows.end(), row.rbegin(), row.rend());
        row.clear();
      } else if (!line.empty() && line[0] != '#') {
        row.push_back(static_cast<float>(std::stod(line.substr(line.find("    ") + 4))));
      }
    }
    const std::string written = test::read_text(fil);
    const std::size_t data = written.find("HEADER_END") + 10;
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.channels * c.samples));
    EXPECT_EQ(written.substr(data), test::bytes_of(rows)) << c.channels << " channels";
  }
}

}  // namespace
}  // namespace iq
