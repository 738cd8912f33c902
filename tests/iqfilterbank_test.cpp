// SPDX-License-Identifier: MIT
// iqfilterbank: the header, byte for byte, is the one the SIGPROC format describes, built here
// keyword by keyword. Its samples, console and refusals are in the golden corpus.
#include <gtest/gtest.h>

#include <cstring>

#include "iqfilterbank.hpp"
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

}  // namespace
}  // namespace iq
