// SPDX-License-Identifier: MIT
// powtrace and modspec against a plain byte-by-byte transcription of the video detector and the
// modulation spectrum, and modspec's counts in 64 bits.
#include <cmath>

#include "arith/precision.hpp"
#include "dsp/fft.hpp"
#include "io/text_format.hpp"
#include "modspec.hpp"
#include "powtrace.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using ld = extended;

// The detector as written: one byte at a time (255 past the end), every expression in extended
// precision and rounded where stored. Returns `points` point values and the ratio.
std::vector<double> plain_points(const std::vector<std::uint8_t>& bytes, const char* clock, const char* band,
                                 long long points, float& pts) {
  pts = static_cast<float>(static_cast<ld>(static_cast<float>(std::atof(clock))) * widen(1000.0) /
                           static_cast<float>(std::atof(band)));
  std::size_t at = 0;
  const auto normalised = [&] {
    const std::uint8_t b = at < bytes.size() ? bytes[at++] : 255;
    return static_cast<float>((static_cast<ld>(b) - widen(127.5)) / widen(128.0));
  };
  std::vector<double> values;
  for (long long count = 0; count < points; ++count) {
    float sum = 0;
    for (int s = 0; s < static_cast<int>(pts); ++s) {
      const float di = normalised();
      const float dq = normalised();
      sum = static_cast<float>(static_cast<ld>(sum) +
                               static_cast<float>(static_cast<ld>(di) * di + static_cast<ld>(dq) * dq));
    }
    values.push_back(static_cast<double>(static_cast<ld>(sum) / pts));
  }
  return values;
}

std::string plain_powtrace(const std::vector<std::uint8_t>& bytes, const char* clock, const char* band,
                           int divisor) {
  float pts = 0;
  plain_points(bytes, clock, band, 0, pts);
  const long long p_num = (static_cast<long long>(bytes.size()) / divisor / static_cast<int>(pts)) / 2;
  std::string table;
  const auto values = plain_points(bytes, clock, band, p_num, pts);
  for (long long count = 0; count < p_num; ++count) table += cformat("%lld   %1.8f\n", count, values[count]);
  return table;
}

// modspec as written, for captures whose counts fit 32 bits, with the classic transform.
std::string plain_modspec(const std::vector<std::uint8_t>& bytes, const char* clock, const char* band, int n) {
  float vpts = 0;
  plain_points(bytes, clock, band, 0, vpts);
  const auto fft_num = static_cast<int>(static_cast<long long>(bytes.size()) / (2 * static_cast<int>(vpts)) / n);
  const auto divv = static_cast<float>(std::sqrt(static_cast<double>(2.0 * (n * fft_num))));
  const auto values = plain_points(bytes, clock, band, static_cast<long long>(n) * fft_num, vpts);
  std::vector<double> dats(2 * n), datr(n);
  const FftPlan plan(n, -1);
  for (int f = 0; f < fft_num; ++f) {
    for (int j = 0; j < n; ++j) {
      dats[2 * j] = values[static_cast<std::size_t>(f) * n + j];
      dats[2 * j + 1] = 0.0;
    }
    plan.transform(dats.data());
    for (int i = 0; i < n / 2; ++i) {
      const ld re = dats[2 * i], im = dats[2 * i + 1];
      datr[i] = static_cast<double>(
          datr[i] + static_cast<ld>(static_cast<float>(std::sqrt(static_cast<double>(re * re + im * im)))));
    }
  }
  std::string table;
  for (long i = 0; i < n / 2; ++i)
    table += cformat("%ld    %3.6f\n", i, static_cast<double>(datr[i] / static_cast<ld>(divv)));
  return table;
}

TEST(VideoTest, TablesEqualThePlainTranscription) {
  // 60 / 1 makes points of 120000 bytes, longer than one read of the detector.
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(300001, 3);
  test::write_bytes(dir.path("cap.bin"), bytes);
  const std::tuple<const char*, const char*, int> powtrace[] = {
      {"2.4", "7", 1}, {"1", "300", 1}, {"1", "1000", 3}, {"60", "1", 1}, {"2.4", "7", 7}};
  const std::tuple<const char*, const char*, int> modspec[] = {
      {"2.4", "7", 16}, {"1", "300", 1024}, {"4", "1000", 64}, {"2.048", "100", 2}};
  const auto table = [&](ToolFunction* tool) {
    return [&dir, tool](std::tuple<const char*, const char*, int> c) {
      const auto [clock, band, last] = c;
      EXPECT_EQ(
          test::run_tool(tool, {dir.path("cap.bin"), dir.path("t.txt"), clock, band, std::to_string(last)}).status,
          0);
      return test::read_text(dir.path("t.txt"));
    };
  };
  test::expect_twins(
      "powtrace", 5, [&](std::mt19937_64&, int trial) { return powtrace[trial]; }, table(run_powtrace),
      [&](auto c) { return plain_powtrace(bytes, std::get<0>(c), std::get<1>(c), std::get<2>(c)); });
  test::expect_twins(
      "modspec", 4, [&](std::mt19937_64&, int trial) { return modspec[trial]; }, table(run_modspec),
      [&](auto c) { return plain_modspec(bytes, std::get<0>(c), std::get<1>(c), std::get<2>(c)); });
}

TEST(VideoTest, ModspecCountsAreSixtyFourBit) {
  struct Case {
    std::int64_t bytes, per_point;
    std::int32_t n;
    std::int64_t points, frames;
    float divisor;
  };
  for (const Case c : {Case{16384, 4, 512, 2048, 4, 64.0f}, Case{100, 4, 512, 12, 0, 0.0f},
                       // 2^33 points in 2^22 frames, where a 32-bit product wraps to 0.
                       Case{std::int64_t{1} << 34, 1, 2048, std::int64_t{1} << 33, 1 << 22, 131072.0f},
                       Case{std::int64_t{3} << 40, 2147483647, 1, 768, 768, std::sqrt(1536.0f)}}) {
    const ModulationCounts counts = modulation_counts(c.bytes, c.per_point, c.n);
    EXPECT_EQ(counts.video_points, c.points);
    EXPECT_EQ(counts.frames, c.frames);
    EXPECT_EQ(counts.used_points, c.n * c.frames);
    EXPECT_EQ(modulation_divisor(counts.used_points), c.divisor);
  }
}

}  // namespace
}  // namespace iq
