// powtrace from the command line: console figures, byte accounting, values, refusals, and the
// table against a plain byte-by-byte transcription of the detector.
#include <gtest/gtest.h>

#include "powtrace.hpp"
#include "test_support.hpp"
#include "text_format.hpp"

namespace iq {
namespace {

using test::run_tool;

// The detector as written: one byte at a time (255 past the end), every expression in long
// double and rounded where stored, and printf for every line.
std::string plain_powtrace(const std::vector<std::uint8_t>& bytes, const char* clock_text, const char* band_text,
                           int divisor) {
  using ld = long double;
  float clck = static_cast<float>(std::atof(clock_text));
  const float band = static_cast<float>(std::atof(band_text));
  const float pts = static_cast<float>(static_cast<ld>(clck) * static_cast<ld>(1000.0) / band);
  const auto ppts = static_cast<long long>(static_cast<int>(pts));
  const long long file_end = static_cast<long long>(bytes.size()) / divisor;
  const long long p_num = (file_end / ppts) / 2;
  std::size_t at = 0;
  const auto next = [&] { return at < bytes.size() ? bytes[at++] : std::uint8_t{255}; };
  std::string table;
  for (long long count = 0; count < p_num; ++count) {
    float sum = 0;
    for (long long s = 0; s < ppts; ++s) {
      const std::uint8_t i = next();
      const std::uint8_t q = next();
      const auto di = static_cast<float>((static_cast<ld>(i) - static_cast<ld>(127.5)) / static_cast<ld>(128.0));
      const auto dq = static_cast<float>((static_cast<ld>(q) - static_cast<ld>(127.5)) / static_cast<ld>(128.0));
      const auto smt = static_cast<float>(static_cast<ld>(di) * di + static_cast<ld>(dq) * dq);
      sum = static_cast<float>(static_cast<ld>(sum) + smt);
    }
    table += cformat("%lld   %1.8f\n", count, static_cast<double>(static_cast<ld>(sum) / pts));
  }
  return table;
}

class PowtraceTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("trace.txt");
  test::RunResult run(const std::string& clock, const std::string& band, const std::string& divisor) {
    return run_tool(run_powtrace, {in, table, clock, band, divisor});
  }
};

TEST_F(PowtraceTest, ConsoleFiguresAndByteAccounting) {
  test::write_constant(in, 1000000, 0);
  const auto whole = run("2.4", "7", "1");
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.out,
            "RF/Video=342    Data Clock=0.42us   Video BW=7.000000kHz\n"
            "No. Bytes = 1000000   No. of Blocks=1461  VideoSamples=342  Divisor=1\n"
            "\nInfile=" + in + "    Outfile=" + table + "\n");
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 1461u);
  EXPECT_EQ(lines[0], "0   1.97943718");  // the exact sum over R would give 1.97944448
  EXPECT_EQ(lines[9].substr(0, 4), "9   ");
  EXPECT_EQ(lines[10].substr(0, 5), "10   ");
  EXPECT_EQ(lines[1460], "1460   1.97943718");

  const auto half = run("2.4", "7", "2");
  EXPECT_NE(half.out.find("No. Bytes = 500000   No. of Blocks=730  VideoSamples=342  Divisor=2\n"), std::string::npos);
  EXPECT_EQ(test::read_lines(table).size(), 730u);

  // The 676 bytes after the last whole point are never read.
  auto bytes = std::vector<std::uint8_t>(1000000, 0);
  std::fill(bytes.end() - 676, bytes.end(), 0x80);
  test::write_bytes(in, bytes);
  ASSERT_EQ(run("2.4", "7", "1").status, 0);
  EXPECT_EQ(test::read_lines(table).back(), "1460   1.97943718");
}

TEST_F(PowtraceTest, ValuesOfConstantCaptures) {
  struct Case {
    std::uint8_t byte;
    const char* clock;
    const char* band;
    const char* line;
  };
  for (const Case c : {Case{128, "2.4", "7", "0   0.00003044"}, Case{128, "1", "3", "0   0.00003049"},
                       Case{255, "2.4", "7", "0   1.97943718"}, Case{128, "2.048", "2.048", "0   0.00003052"}}) {
    test::write_constant(in, 20000, c.byte);
    ASSERT_EQ(run(c.clock, c.band, "1").status, 0);
    EXPECT_EQ(test::read_lines(table).at(0), c.line);
  }
}

TEST_F(PowtraceTest, EqualsThePlainDetector) {
  const auto bytes = test::random_bytes(300001, 3);
  test::write_bytes(in, bytes);
  for (const auto& [clock, band, divisor] : std::vector<std::tuple<const char*, const char*, int>>{
           {"2.4", "7", 1}, {"1", "3", 1}, {"1", "300", 1}, {"2.048", "1", 1}, {"1", "1000", 3}, {"60", "1", 1},
           {"2.4", "7", 7}}) {
    ASSERT_EQ(run(clock, band, std::to_string(divisor)).status, 0);
    EXPECT_EQ(test::read_text(table), plain_powtrace(bytes, clock, band, divisor)) << clock << " / " << band;
  }
}

TEST_F(PowtraceTest, CaptureShorterThanOnePointGivesAnEmptyTable) {
  test::write_constant(in, 683, 0);
  const auto result = run("2.4", "7", "1");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("No. of Blocks=0"), std::string::npos);
  EXPECT_NE(result.out.find("\nInfile="), std::string::npos);
  EXPECT_TRUE(test::exists(table));
  EXPECT_EQ(test::read_text(table), "");
}

TEST_F(PowtraceTest, FailuresLeaveNoTable) {
  const auto usage = run_tool(run_powtrace, {in, table, "2.4", "7"});
  EXPECT_EQ(usage.out, std::string(kPowtraceUsage) + "\n");
  EXPECT_EQ(usage.status, 1);
  const auto unopenable = run("2.4", "7", "1");
  EXPECT_EQ(unopenable.out, "Can't open file " + in + ". ");
  EXPECT_EQ(unopenable.status, 1);
  test::write_constant(in, 10000, 0x80);
  for (const auto& [clock, band, divisor] : std::vector<std::tuple<const char*, const char*, const char*>>{
           {"2.4", "7", "0"}, {"2.4", "7", "-2"}, {"2.4", "7", "x"}, {"0", "7", "1"}, {"2.4", "0", "1"},
           {"nan", "7", "1"}, {"2.4", "inf", "1"}, {"1", "1001", "1"}, {"3000000", "1", "1"}}) {
    const auto refused = run(clock, band, divisor);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(" must be "), std::string::npos) << refused.err;
  }
  EXPECT_EQ(run_tool(run_powtrace, {in, in, "2.4", "7", "1"}).status, 1);
  EXPECT_FALSE(test::exists(table));
  EXPECT_EQ(test::read_text(in), std::string(10000, '\x80'));
}

}  // namespace
}  // namespace iq
