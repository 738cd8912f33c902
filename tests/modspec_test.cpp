// modspec from the command line: console figures, frame counting, the table against a plain
// transcription, 64-bit counts, and refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "console_texts.hpp"
#include "fft.hpp"
#include "modspec.hpp"
#include "test_support.hpp"
#include "text_format.hpp"

namespace iq {
namespace {

using test::run_tool;

// The tool as written, for captures whose counts fit 32 bits: one byte at a time, the classic
// 1-based transform per frame, every expression in long double and rounded where stored.
std::string plain_modspec(const std::vector<std::uint8_t>& bytes, const char* clock_text, const char* band_text,
                          int n) {
  using ld = long double;
  const auto clck = static_cast<float>(std::atof(clock_text));
  const auto vid = static_cast<float>(std::atof(band_text));
  const auto vpts = static_cast<float>(static_cast<ld>(clck) * static_cast<ld>(1000.0) / vid);
  const int vppts = static_cast<int>(vpts);
  const long long v_num = static_cast<long long>(bytes.size()) / (2 * vppts);
  const long long fft_num = static_cast<int>(v_num / n);
  const int rat = n * static_cast<int>(fft_num);
  const auto divv = static_cast<float>(std::sqrt(static_cast<double>(2.0 * rat)));
  std::vector<double> dats(2 * n);
  std::vector<double> datr(n);
  std::size_t at = 0;
  const auto next = [&] { return at < bytes.size() ? bytes[at++] : std::uint8_t{255}; };
  for (long long f = 0; f < fft_num; ++f) {
    for (int j = 0; j < n; ++j) {
      float sum = 0;
      for (int s = 0; s < vppts; ++s) {
        const auto di = static_cast<float>((static_cast<ld>(next()) - static_cast<ld>(127.5)) / static_cast<ld>(128.0));
        const auto dq = static_cast<float>((static_cast<ld>(next()) - static_cast<ld>(127.5)) / static_cast<ld>(128.0));
        sum = static_cast<float>(static_cast<ld>(sum) + static_cast<float>(static_cast<ld>(di) * di + static_cast<ld>(dq) * dq));
      }
      dats[2 * j] = static_cast<double>(static_cast<ld>(sum) / vpts);
      dats[2 * j + 1] = 0.0;
    }
    four(dats.data() - 1, n, -1);
    for (int i = 0; i < n / 2; ++i) {
      const ld re = dats[2 * i];
      const ld im = dats[2 * i + 1];
      const auto magnitude = static_cast<float>(std::sqrt(static_cast<double>(re * re + im * im)));
      datr[i] = static_cast<double>(static_cast<ld>(datr[i]) + magnitude);
    }
  }
  std::string table;
  for (long i = 0; i < n / 2; ++i) table += cformat("%ld    %3.6f\n", i, static_cast<double>(datr[i] / static_cast<ld>(divv)));
  return table;
}

class ModspecTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("mod.txt");
  test::RunResult run(const std::string& clock, const std::string& band, const std::string& n) {
    return run_tool(run_modspec, {in, table, clock, band, n});
  }
};

TEST_F(ModspecTest, FramesOfEqualPointsPutEverythingInBinZero) {
  test::write_constant(in, 16384, 0x80);
  const auto result = run("4", "1000", "512");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Clock us=0.2500    No. FFTs=4\n"
            "No. Bytes = 16384   Video Points=2048  VideoSamples=4  FFT-points=512\n"
            "\nInfile=" + in + "    Outfile=" + table + "\n");
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 256u);
  EXPECT_EQ(lines[0], "0    0.000977");
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], std::to_string(i) + "    0.000000");

  // Bytes after the last whole frame are never read.
  auto bytes = std::vector<std::uint8_t>(16384 + 2 * 4 * 511 + 7, 0x80);
  std::fill(bytes.begin() + 16384, bytes.end(), 0);
  test::write_bytes(in, bytes);
  ASSERT_EQ(run("4", "1000", "512").status, 0);
  EXPECT_EQ(test::read_lines(table), lines);
}

TEST_F(ModspecTest, SampleCountsPeriodAndFractionalRatio) {
  test::write_constant(in, 24, 0);
  EXPECT_EQ(run("2.048", "1", "2").out.rfind(
                "Clock us=0.4883    No. FFTs=0\nNo. Bytes = 24   Video Points=0  VideoSamples=2048  FFT-points=2\n", 0),
            0u);
  // 1 / 300: three samples per point divided by 3.3333333, not by 3 (which would give 2.806373).
  const auto fractional = run("1", "300", "2");
  EXPECT_NE(fractional.out.find("No. FFTs=2\nNo. Bytes = 24   Video Points=4  VideoSamples=3"), std::string::npos);
  EXPECT_EQ(test::read_text(table), "0    2.525736\n");
}

TEST_F(ModspecTest, TableLengthsAndShortCaptures) {
  test::write_constant(in, 4096, 0x90);
  ASSERT_EQ(run("4", "1000", "1").status, 0);
  EXPECT_EQ(test::read_text(table), "");
  ASSERT_EQ(run("4", "1000", "2").status, 0);
  EXPECT_EQ(test::read_lines(table).size(), 1u);
  // Fewer points than one frame: no frame, and every line is 0 / 0 as printf prints it.
  const auto short_capture = run("4", "1000", "1024");
  EXPECT_EQ(short_capture.status, 0);
  EXPECT_NE(short_capture.out.find("No. FFTs=0"), std::string::npos);
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 512u);
  EXPECT_EQ(lines[511], "511    -nan");
}

TEST_F(ModspecTest, EqualsThePlainTranscription) {
  const auto bytes = test::random_bytes(70001, 9);
  test::write_bytes(in, bytes);
  for (const auto& [clock, band, n] : std::vector<std::tuple<const char*, const char*, int>>{
           {"2.4", "7", 16}, {"1", "300", 1024}, {"4", "1000", 64}, {"2.048", "100", 2}, {"1", "1000", 8192}}) {
    ASSERT_EQ(run(clock, band, std::to_string(n)).status, 0);
    EXPECT_EQ(test::read_text(table), plain_modspec(bytes, clock, band, n)) << clock << " / " << band << " " << n;
  }
}

TEST(ModspecCounts, SixtyFourBitCountsAndDivisor) {
  struct Case {
    std::int64_t bytes;
    std::int64_t per_point;
    std::int32_t n;
    ModulationCounts counts;
    float divisor;
  };
  for (const Case c : {Case{16384, 4, 512, {2048, 4, 2048}, 64.0f},
                       Case{16383, 4, 512, {2047, 3, 1536}, std::sqrt(3072.0f)},
                       Case{100, 4, 512, {12, 0, 0}, 0.0f},
                       // 2^33 points in 2^22 frames: beyond 32 bits, where the product once wrapped to 0.
                       Case{std::int64_t{1} << 34, 1, 2048, {std::int64_t{1} << 33, std::int64_t{1} << 22,
                                                             std::int64_t{1} << 33}, 131072.0f},
                       Case{std::int64_t{3} << 40, 2147483647, 1, {768, 768, 768}, std::sqrt(1536.0f)}}) {
    const ModulationCounts counts = modulation_counts(c.bytes, c.per_point, c.n);
    EXPECT_EQ(counts.video_points, c.counts.video_points);
    EXPECT_EQ(counts.frames, c.counts.frames);
    EXPECT_EQ(counts.used_points, c.counts.used_points);
    EXPECT_EQ(modulation_divisor(counts.used_points), c.divisor);
  }
}

TEST_F(ModspecTest, FailuresLeaveNoTable) {
  EXPECT_EQ(run_tool(run_modspec, {in, table}).out, std::string(kModspecUsage) + "\n");
  const auto unopenable = run("2.4", "7", "262145");
  EXPECT_EQ(unopenable.out, "Can't open file " + in + ". ");
  EXPECT_EQ(unopenable.status, 1);
  test::write_constant(in, 1000, 0x80);
  const auto too_many = run("2.4", "7", "262145");
  EXPECT_EQ(too_many.out, texts::kTooManyFftPoints);
  EXPECT_EQ(too_many.status, 1);
  for (const auto& [clock, band, n] : std::vector<std::tuple<const char*, const char*, const char*>>{
           {"2.4", "7", "0"}, {"2.4", "7", "-4"}, {"2.4", "7", "1000"}, {"2.4", "7", "x"}, {"0", "7", "8"},
           {"2.4", "-1", "8"}, {"inf", "7", "8"}, {"1", "1001", "8"}, {"3000000", "1", "8"}}) {
    const auto refused = run(clock, band, n);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(" must be "), std::string::npos) << refused.err;
  }
  EXPECT_FALSE(test::exists(table));
  EXPECT_EQ(run("2.4", "7", "262144").status, 0);
}

}  // namespace
}  // namespace iq
