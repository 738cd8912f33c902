// SPDX-License-Identifier: MIT
// Dedispersion: the cold-plasma delays and the channels' shifts, and a dispersed pulse in a
// filterbank that cyclesearch finds stronger at its DM than undispersed.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "cyclesearch.hpp"
#include "dsp/dispersion.hpp"
#include "iqfilterbank.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

TEST(DispersionTest, DelaysFollowTheColdPlasmaLaw) {
  const struct {
    double dm, f_mhz, f_hi_mhz, ms;
  } cases[] = {
      {26.8, 428.8, 431.2, 6.71275452680679},  // PSR B0329+54 across a 2.4 MHz band at 430 MHz
      {100.0, 1400.0, 1500.0, 27.282410884353755},
      {3.0, 50.0, 60.0, 1521.2295999999994},
      {26.8, 431.2, 431.2, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(dispersion_delay_s(c.dm, c.f_mhz, c.f_hi_mhz) * 1e3, c.ms, 1e-9 * (1.0 + c.ms)) << c.f_mhz;
  }
}

TEST(DispersionTest, ChannelsShiftByTheirDelayFromTheHighest) {
  // 0.5 MHz channels at 430, 429.5, 429, 428.5 MHz; DM 100; samples of 1 ms. Delays 0, 5.23,
  // 10.47, 15.74 ms.
  const std::vector<std::int64_t> down = channel_shifts(100.0, 430.0, -0.5, 4, 1e-3);
  EXPECT_EQ(down, (std::vector<std::int64_t>{0, 5, 10, 16}));
  // The same channels listed upward: the highest is the last.
  const std::vector<std::int64_t> up = channel_shifts(100.0, 428.5, 0.5, 4, 1e-3);
  EXPECT_EQ(up, (std::vector<std::int64_t>{16, 10, 5, 0}));
  EXPECT_EQ(channel_shifts(0.0, 430.0, -0.5, 4, 1e-3), (std::vector<std::int64_t>(4, 0)));
}

// A filterbank of 8 channels of 0.3 MHz below 430 MHz, samples of 0.1 ms, holding a 10 ms
// pulse of 0.5 ms dispersed at DM 26.8 (7 ms across the band) over noise.
void write_dispersed_pulse(const std::string& path) {
  test::SigprocBytes header;
  header.word("HEADER_START").integer("data_type", 1).real("tsamp", 1e-4).real("fch1", 430.0);
  header.real("foff", -0.3).integer("nchans", 8).integer("nbits", 32).word("HEADER_END");
  std::ofstream file(path, std::ios::binary);
  file << header.bytes;
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(10.0f, 1.0f);
  for (int s = 0; s < 20000; ++s) {
    for (int c = 0; c < 8; ++c) {
      const double t = s * 1e-4 - dispersion_delay_s(26.8, 430.0 - 0.3 * c, 430.0);
      float value = noise(rng);
      if (std::fmod(t + 1.0, 0.01) < 0.0005) value += 2.0f;
      file.write(reinterpret_cast<const char*>(&value), 4);
    }
  }
}

TEST(DispersionTest, ARangeOfDmTrialsFindsThePulsesDmWithinOneStep) {
  test::ScratchDir dir;
  write_dispersed_pulse(dir.path("p.fil"));
  const auto result = run_tool(
      run_cyclesearch, {dir.path("p.fil"), dir.path("t.txt"), "-", "50", "10", "0.001", "9", "--dm", "0:60:4"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto figure = [&](const std::string& key) {
    return std::strtod(result.out.c_str() + result.out.find(key) + key.size(), nullptr);
  };
  EXPECT_NEAR(figure("Best DM="), 26.8, 4.0);
  EXPECT_GT(figure("pc cm^-3   chi2="), 2.0 * figure("(at DM 0.0000: chi2="));
  // The table: one line per DM and period trial, 16 DMs of 9 trials, after two header lines.
  EXPECT_EQ(test::read_lines(dir.path("t.txt")).size(), 2u + 16u * 9u);
}

// A capture cut into channels inside the search is the filterbank iqfilterbank writes of it with
// one frame per sample: the same table at every DM. The capture ends 3 bytes into a frame of 2
// channels and one byte short of the next: counted as iqspec counts frames, that frame is there.
TEST(DispersionTest, ACaptureCutIntoChannelsSearchesAsItsFilterbank) {
  test::ScratchDir dir;
  test::write_bytes(dir.path("cap.bin"), test::random_bytes(2 * 16 * 3000 + 3, 21));
  for (const char* channels : {"2", "16"}) {
    ASSERT_EQ(run_tool(run_iqfilterbank, {dir.path("cap.bin"), dir.path("c.fil"), channels, "1", "--rate", "2.4",
                                          "--centre", "430", "--start", "2026-12-07T01:00:00Z"})
                  .status,
              0);
    for (const char* dm : {"0", "40", "0:60:20"}) {
      const std::vector<std::string> search = {"16", "1", "0.01", "7", "--dm", dm};
      std::vector<std::string> from_capture = {dir.path("cap.bin"), dir.path("a.txt"), "2.4"};
      from_capture.insert(from_capture.end(), search.begin(), search.end());
      from_capture.insert(from_capture.end(), {"--channels", channels, "--centre", "430"});
      std::vector<std::string> from_file = {dir.path("c.fil"), dir.path("b.txt"), "-"};
      from_file.insert(from_file.end(), search.begin(), search.end());
      ASSERT_EQ(run_tool(run_cyclesearch, from_capture).status, 0) << channels << " " << dm;
      ASSERT_EQ(run_tool(run_cyclesearch, from_file).status, 0) << channels << " " << dm;
      EXPECT_EQ(test::read_text(dir.path("a.txt")), test::read_text(dir.path("b.txt"))) << channels << " " << dm;
    }
  }
}

}  // namespace
}  // namespace iq
