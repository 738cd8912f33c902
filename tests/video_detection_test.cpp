// Video detection and its two tools, powtrace and modspec: the figures and values of known
// captures, refusals, 64-bit counts, printf-equal formatting, and both tables against a plain
// byte-by-byte transcription.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

#include "arith/precision.hpp"
#include "cli/console_texts.hpp"
#include "dsp/fft.hpp"
#include "modspec.hpp"
#include "powtrace.hpp"
#include "test_support.hpp"
#include "io/text_format.hpp"

namespace iq {
namespace {

using ld = extended;
using test::run_tool;

// The detector as written: one byte at a time (255 past the end), every expression in long
// double and rounded where stored. Returns `points` point values and the ratio.
std::vector<double> plain_points(const std::vector<std::uint8_t>& bytes, const char* clock, const char* band,
                                 long long points, float& pts) {
  pts = static_cast<float>(static_cast<ld>(static_cast<float>(std::atof(clock))) * static_cast<ld>(1000.0) /
                           static_cast<float>(std::atof(band)));
  std::size_t at = 0;
  const auto normalised = [&] {
    const std::uint8_t b = at < bytes.size() ? bytes[at++] : 255;
    return static_cast<float>((static_cast<ld>(b) - static_cast<ld>(127.5)) / static_cast<ld>(128.0));
  };
  std::vector<double> values;
  for (long long count = 0; count < points; ++count) {
    float sum = 0;
    for (int s = 0; s < static_cast<int>(pts); ++s) {
      const float di = normalised();
      const float dq = normalised();
      sum = static_cast<float>(static_cast<ld>(sum) + static_cast<float>(static_cast<ld>(di) * di + static_cast<ld>(dq) * dq));
    }
    values.push_back(static_cast<double>(static_cast<ld>(sum) / pts));
  }
  return values;
}

std::string plain_powtrace(const std::vector<std::uint8_t>& bytes, const char* clock, const char* band, int divisor) {
  float pts = 0;
  plain_points(bytes, clock, band, 0, pts);
  const long long p_num = (static_cast<long long>(bytes.size()) / divisor / static_cast<int>(pts)) / 2;
  std::string table;
  const auto values = plain_points(bytes, clock, band, p_num, pts);
  for (long long count = 0; count < p_num; ++count) table += cformat("%lld   %1.8f\n", count, values[count]);
  return table;
}

// modspec as written, for captures whose counts fit 32 bits, with the classic 1-based transform.
std::string plain_modspec(const std::vector<std::uint8_t>& bytes, const char* clock, const char* band, int n) {
  float vpts = 0;
  plain_points(bytes, clock, band, 0, vpts);
  const auto fft_num = static_cast<int>(static_cast<long long>(bytes.size()) / (2 * static_cast<int>(vpts)) / n);
  const auto divv = static_cast<float>(std::sqrt(static_cast<double>(2.0 * (n * fft_num))));
  const auto values = plain_points(bytes, clock, band, static_cast<long long>(n) * fft_num, vpts);
  std::vector<double> dats(2 * n);
  std::vector<double> datr(n);
  for (int f = 0; f < fft_num; ++f) {
    for (int j = 0; j < n; ++j) {
      dats[2 * j] = values[static_cast<std::size_t>(f) * n + j];
      dats[2 * j + 1] = 0.0;
    }
    four(dats.data() - 1, n, -1);
    for (int i = 0; i < n / 2; ++i) {
      const ld re = dats[2 * i];
      const ld im = dats[2 * i + 1];
      datr[i] = static_cast<double>(datr[i] + static_cast<ld>(static_cast<float>(std::sqrt(static_cast<double>(re * re + im * im)))));
    }
  }
  std::string table;
  for (long i = 0; i < n / 2; ++i) table += cformat("%ld    %3.6f\n", i, static_cast<double>(datr[i] / static_cast<ld>(divv)));
  return table;
}

class VideoToolsTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in = dir.path("cap.bin");
  std::string table = dir.path("table.txt");
  test::RunResult powtrace(const std::string& clock, const std::string& band, const std::string& divisor) {
    return run_tool(run_powtrace, {in, table, clock, band, divisor});
  }
  test::RunResult modspec(const std::string& clock, const std::string& band, const std::string& n) {
    return run_tool(run_modspec, {in, table, clock, band, n});
  }
};

TEST_F(VideoToolsTest, RatioWholeSamplesAndConsoleFigures) {
  test::write_constant(in, 1000000, 0x80);
  struct Case {
    const char* clock;
    const char* band;
    const char* first_line;
  };
  for (const Case c : {Case{"2.4", "7", "RF/Video=342    Data Clock=0.42us   Video BW=7.000000kHz"},
                       Case{"1", "3", "RF/Video=333    Data Clock=1.00us   Video BW=3.000000kHz"},
                       Case{"2.4", "2.4", "RF/Video=1000    Data Clock=0.42us   Video BW=2.400000kHz"},
                       Case{"2.048", "2.048", "RF/Video=1000    Data Clock=0.49us   Video BW=2.048000kHz"}}) {
    EXPECT_EQ(powtrace(c.clock, c.band, "1").out.substr(0, std::strlen(c.first_line) + 1), c.first_line + std::string("\n"));
  }
  EXPECT_EQ(modspec("2.048", "1", "2").out.rfind("Clock us=0.4883    No. FFTs=122\nNo. Bytes = 1000000   "
                                                 "Video Points=244  VideoSamples=2048  FFT-points=2\n", 0), 0u);
}

TEST_F(VideoToolsTest, PowtraceByteAccountingAndValues) {
  test::write_constant(in, 1000000, 0);
  EXPECT_EQ(powtrace("2.4", "7", "1").out,
            "RF/Video=342    Data Clock=0.42us   Video BW=7.000000kHz\n"
            "No. Bytes = 1000000   No. of Blocks=1461  VideoSamples=342  Divisor=1\n"
            "\nInfile=" + in + "    Outfile=" + table + "\n");
  auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 1461u);
  EXPECT_EQ(lines[0], "0   1.97943718");  // the exact sum over R would give 1.97944448
  EXPECT_EQ(lines[9], "9   1.97943718");
  EXPECT_EQ(lines[10], "10   1.97943718");
  EXPECT_NE(powtrace("2.4", "7", "2").out.find("No. Bytes = 500000   No. of Blocks=730  VideoSamples=342  Divisor=2\n"),
            std::string::npos);
  EXPECT_EQ(test::read_lines(table).size(), 730u);

  for (const auto& [byte, clock, band, line] : std::vector<std::tuple<std::uint8_t, const char*, const char*, const char*>>{
           {128, "2.4", "7", "0   0.00003044"}, {128, "1", "3", "0   0.00003049"}, {255, "2.4", "7", "0   1.97943718"}}) {
    test::write_constant(in, 20000, byte);
    ASSERT_EQ(powtrace(clock, band, "1").status, 0);
    EXPECT_EQ(test::read_lines(table).at(0), line);
  }

  // Shorter than one point: the figures, an empty table and the closing line.
  test::write_constant(in, 683, 0);
  const auto short_capture = powtrace("2.4", "7", "1");
  EXPECT_EQ(short_capture.status, 1);
  EXPECT_NE(short_capture.out.find("No. of Blocks=0  VideoSamples=342  Divisor=1\n\nInfile="), std::string::npos);
  EXPECT_TRUE(test::exists(table));
  EXPECT_EQ(test::read_text(table), "");
}

TEST_F(VideoToolsTest, ModspecFramesTablesAndFractionalRatio) {
  // Equal video points put the whole sum into bin 0; bytes after the last whole frame are not read.
  auto bytes = std::vector<std::uint8_t>(16384 + 2 * 4 * 511 + 7, 0);
  std::fill(bytes.begin(), bytes.begin() + 16384, 0x80);
  test::write_bytes(in, bytes);
  EXPECT_EQ(modspec("4", "1000", "512").out,
            "Clock us=0.2500    No. FFTs=4\n"
            "No. Bytes = 20479   Video Points=2559  VideoSamples=4  FFT-points=512\n"
            "\nInfile=" + in + "    Outfile=" + table + "\n");
  const auto lines = test::read_lines(table);
  ASSERT_EQ(lines.size(), 256u);
  EXPECT_EQ(lines[0], "0    0.000977");
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], std::to_string(i) + "    0.000000");

  // 1 / 300: three samples per point divided by 3.3333333, not by 3 (which would give 2.806373).
  test::write_constant(in, 24, 0);
  EXPECT_NE(modspec("1", "300", "2").out.find("No. FFTs=2\nNo. Bytes = 24   Video Points=4  VideoSamples=3"),
            std::string::npos);
  EXPECT_EQ(test::read_text(table), "0    2.525736\n");
  ASSERT_EQ(modspec("1", "300", "1").status, 0);
  EXPECT_EQ(test::read_text(table), "");

  // Fewer points than one frame: no frame, and N/2 lines of 0 / 0 as printf prints it.
  const auto short_capture = modspec("1", "300", "8");
  EXPECT_EQ(short_capture.status, 1);
  EXPECT_NE(short_capture.out.find("No. FFTs=0"), std::string::npos);
  EXPECT_EQ(test::read_text(table), "0    -nan\n1    -nan\n2    -nan\n3    -nan\n");
}

TEST_F(VideoToolsTest, TablesEqualThePlainTranscription) {
  // 60 / 1 makes points of 120000 bytes, longer than one read of the detector.
  const auto bytes = test::random_bytes(300001, 3);
  test::write_bytes(in, bytes);
  for (const auto& [clock, band, divisor] : std::vector<std::tuple<const char*, const char*, int>>{
           {"2.4", "7", 1}, {"1", "300", 1}, {"1", "1000", 3}, {"60", "1", 1}, {"2.4", "7", 7}}) {
    ASSERT_EQ(powtrace(clock, band, std::to_string(divisor)).status, 0);
    EXPECT_EQ(test::read_text(table), plain_powtrace(bytes, clock, band, divisor)) << clock << " / " << band;
  }
  for (const auto& [clock, band, n] : std::vector<std::tuple<const char*, const char*, int>>{
           {"2.4", "7", 16}, {"1", "300", 1024}, {"4", "1000", 64}, {"2.048", "100", 2}}) {
    ASSERT_EQ(modspec(clock, band, std::to_string(n)).status, 0);
    EXPECT_EQ(test::read_text(table), plain_modspec(bytes, clock, band, n)) << clock << " / " << band << " " << n;
  }
}

TEST(VideoDetection, ModspecCountsAreSixtyFourBit) {
  struct Case {
    std::int64_t bytes, per_point;
    std::int32_t n;
    std::int64_t points, frames, used;
    float divisor;
  };
  for (const Case c : {Case{16384, 4, 512, 2048, 4, 2048, 64.0f}, Case{100, 4, 512, 12, 0, 0, 0.0f},
                       // 2^33 points in 2^22 frames, where a 32-bit product wraps to 0.
                       Case{std::int64_t{1} << 34, 1, 2048, std::int64_t{1} << 33, 1 << 22, std::int64_t{1} << 33, 131072.0f},
                       Case{std::int64_t{3} << 40, 2147483647, 1, 768, 768, 768, std::sqrt(1536.0f)}}) {
    const ModulationCounts counts = modulation_counts(c.bytes, c.per_point, c.n);
    EXPECT_EQ(counts.video_points, c.points);
    EXPECT_EQ(counts.frames, c.frames);
    EXPECT_EQ(counts.used_points, c.used);
    EXPECT_EQ(modulation_divisor(counts.used_points), c.divisor);
  }
}

TEST_F(VideoToolsTest, FailuresLeaveNoTable) {
  EXPECT_EQ(run_tool(run_powtrace, {in, table, "2.4", "7"}).out, std::string(kPowtraceUsage) + "\n");
  EXPECT_EQ(run_tool(run_modspec, {in, table}).out, std::string(kModspecUsage) + "\n");
  EXPECT_EQ(powtrace("2.4", "7", "1").out, "Can't open file " + in + ". ");
  EXPECT_EQ(modspec("2.4", "7", "262145").out, "Can't open file " + in + ". ");
  test::write_constant(in, 10000, 0x80);
  EXPECT_EQ(modspec("0", "7", "262145").out, texts::kTooManyFftPoints);
  for (const auto& [tool, clock, band, last] : std::vector<std::tuple<ToolFunction*, const char*, const char*, const char*>>{
           {run_powtrace, "2.4", "7", "0"}, {run_powtrace, "2.4", "7", "-2"}, {run_powtrace, "0", "7", "1"},
           {run_powtrace, "-0", "7", "1"}, {run_powtrace, "nan", "7", "1"}, {run_powtrace, "2.4", "inf", "1"},
           {run_powtrace, "2.4", "-7", "1"}, {run_powtrace, "1", "1001", "1"}, {run_powtrace, "3000000", "1", "1"},
           {run_modspec, "2.4", "7", "0"}, {run_modspec, "2.4", "7", "-4"}, {run_modspec, "2.4", "7", "1000"},
           {run_modspec, "1e39", "7", "8"}, {run_modspec, "2.4", "1e-46", "8"}, {run_modspec, "1", "1001", "8"}}) {
    const auto refused = run_tool(tool, {in, table, clock, band, last});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(" must be "), std::string::npos) << clock << " " << band << " " << last;
  }
  EXPECT_EQ(run_tool(run_powtrace, {in, in, "2.4", "7", "1"}).status, 1);
  EXPECT_FALSE(test::exists(table));
  EXPECT_EQ(test::read_text(in), std::string(10000, '\x80'));
  EXPECT_EQ(modspec("2.4", "7", "262144").status, 1);  // accepted; 10000 bytes hold no whole frame of it
}

}  // namespace
}  // namespace iq
