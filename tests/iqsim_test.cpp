// iqsim: deterministic captures whose tones, delays and pulses land where the analysis tools
// should find them.
#include <gtest/gtest.h>

#include <numeric>

#include "iqsim.hpp"
#include "iqspec.hpp"
#include "sky_generator.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

TEST(Iqsim, SameSeedSameBytesWhateverTheChunking) {
  SkySettings settings;
  settings.seed = 9;
  settings.tones.push_back({1000.0, 15.0});
  settings.pulse.period_ms = 0.01;
  std::vector<std::uint8_t> whole(20000);
  SkyGenerator(settings).generate(whole);
  SkyGenerator pieces(settings);
  std::vector<std::uint8_t> joined;
  for (std::size_t size : {2u, 998u, 7000u, 12000u}) {
    std::vector<std::uint8_t> piece(size);
    pieces.generate(piece);
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, whole);
  settings.seed = 10;
  std::vector<std::uint8_t> other(20000);
  SkyGenerator(settings).generate(other);
  EXPECT_NE(other, whole);
}

TEST(Iqsim, WritesTheRequestedLengthAndRepeatsForASeed) {
  test::ScratchDir dir;
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("a.bin"), "-n", "5000", "-s", "3"}).status, 0);
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("b.bin"), "--samples=5000", "--seed=3"}).status, 0);
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("c.bin"), "-t", "0.001", "-r", "2"}).status, 0);
  EXPECT_EQ(test::read_text(dir.path("a.bin")).size(), 10000u);
  EXPECT_EQ(test::read_text(dir.path("a.bin")), test::read_text(dir.path("b.bin")));
  EXPECT_EQ(test::read_text(dir.path("c.bin")).size(), 4000u);
}

TEST(Iqsim, ADelayedReceiverRepeatsTheSky) {
  SkySettings first;
  first.seed = 4;
  first.tones.push_back({-3000.0, 10.0});
  SkySettings second = first;
  second.delay = 37;
  std::vector<std::uint8_t> a(8000), b(8000);
  SkyGenerator(first).generate(a);
  SkyGenerator(second).generate(b);
  EXPECT_TRUE(std::equal(a.begin(), a.end() - 74, b.begin() + 74));
  EXPECT_FALSE(std::equal(a.begin(), a.begin() + 74, b.begin()));
  second.delay = -5;  // a receiver that sees the sky early
  SkyGenerator(second).generate(b);
  EXPECT_TRUE(std::equal(a.begin() + 10, a.end(), b.begin()));
}

TEST(Iqsim, ToneLandsInItsSpectrumBin) {
  // 2.4 MHz, N = 1024: bins of 2343.75 Hz. +60 kHz is bin 25.6 -> 26; -300 kHz is bin -128.
  test::ScratchDir dir;
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("tone.bin"), "-n", "102400", "--noise", "3", "--tone",
                                 "60937.5,30", "--tone", "-300000,20"})
                .status,
            0);
  ASSERT_EQ(run_tool(run_iqspec, {dir.path("tone.bin"), dir.path("spectrum.txt"), "1024"}).status, 0);
  const auto lines = test::read_lines(dir.path("spectrum.txt"));
  ASSERT_EQ(lines.size(), 1024u);
  std::vector<std::pair<double, long>> peaks;
  for (const auto& line : lines) {
    peaks.emplace_back(std::stod(line.substr(line.find("    "))), std::stol(line));
  }
  std::sort(peaks.rbegin(), peaks.rend());
  EXPECT_EQ(peaks[0].second, 26);
  EXPECT_EQ(peaks[1].second, -128);
}

TEST(Iqsim, PulseRaisesThePowerDuringItsDutyCycle) {
  SkySettings settings;
  settings.rate_mhz = 1.0;
  settings.pulse = {1.0, 0.25, 8.0, 0.5};  // 1000 samples, on from sample 500 to 749
  std::vector<std::uint8_t> bytes(2 * 100000);
  SkyGenerator(settings).generate(bytes);
  std::vector<double> power(4, 0.0);
  for (std::size_t s = 0; s < bytes.size() / 2; ++s) {
    const double i = bytes[2 * s] - 127.5;
    const double q = bytes[2 * s + 1] - 127.5;
    power[(s % 1000) / 250] += i * i + q * q;
  }
  EXPECT_GT(power[2], 6 * power[0]);
  EXPECT_NEAR(power[1] / power[0], 1.0, 0.1);
  EXPECT_NEAR(power[3] / power[0], 1.0, 0.1);
}

TEST(Iqsim, HelpAndBadOptions) {
  test::ScratchDir dir;
  const auto help = run_tool(run_iqsim, {"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--pulse-period"), std::string::npos);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {dir.path("x.bin"), "--rate", "0"},
           {dir.path("x.bin"), "--rate", "fast"},
           {dir.path("x.bin"), "-n", "-1"},
           {dir.path("x.bin"), "--pulse-duty", "1.5"},
           {dir.path("x.bin"), "--bogus"},
           {dir.path("x.bin"), "-n"},
           {dir.path("x.bin"), dir.path("y.bin")}}) {
    const auto result = run_tool(run_iqsim, args);
    EXPECT_EQ(result.status, 1) << (args.empty() ? "" : args.back());
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_FALSE(test::exists(dir.path("x.bin")));
}

}  // namespace
}  // namespace iq
