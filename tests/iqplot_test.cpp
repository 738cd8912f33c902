// SPDX-License-Identifier: MIT
// iqplot with the real gnuplot: the script written for every kind of table draws a picture, the
// waterfall and the calibrated spectrum on a velocity axis from the capture's metadata, and the
// unusual axes too; gnuplot's own reason when it fails; ticks labelled to their step.
// How each table is told and the script itself are in the golden corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "cyclefold.hpp"
#include "cyclesearch.hpp"
#include "iqdump.hpp"
#include "iqplot.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "iqwaterfall.hpp"
#include "lagscan.hpp"
#include "levelhist.hpp"
#include "modspec.hpp"
#include "plot_script.hpp"
#include "powtrace.hpp"
#include "speccal.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

TEST(IqplotTest, DrawsEveryKindAsPngOrSvg) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed";
  test::ScratchDir dir;
  const std::string a = dir.path("a.bin"), b = dir.path("b.bin");
  ASSERT_EQ(run_tool(run_iqsim, {a, "--seconds", "0.1", "--tone", "150000,4", "--pulse-period", "20", "--centre",
                                 "1420.4", "--start", "2026-12-07T01:30:00Z"})
                .status,
            0);
  ASSERT_EQ(run_tool(run_iqsim, {b, "--seconds", "0.1", "--delay", "300"}).status, 0);
  const std::pair<ToolFunction*, ToolArgs> tables[] = {
      {run_iqspec, {a, dir.path("spectrum.txt"), "1024"}},
      {run_powtrace, {a, dir.path("powtrace.txt"), "2.4", "10", "1"}},
      {run_modspec, {a, dir.path("modspec.txt"), "2.4", "10", "64"}},
      {run_cyclefold, {a, dir.path("profile.txt"), "2.4", "50", "20", "1"}},
      {run_lagscan, {a, b, dir.path("correlation.txt"), "500", "2"}},
      {run_levelhist, {a, dir.path("levels.txt")}},
      {run_iqdump, {a, dir.path("dump.txt"), "0", "1"}},
      {run_iqwaterfall, {a, dir.path("waterfall.txt"), "1024", "20"}},
      {run_speccal, {dir.path("spectrum.txt"), dir.path("spectrum.txt"), dir.path("calibrated.txt")}},
      {run_cyclesearch,
       {a, dir.path("search.txt"), "2.4", "50", "20", "0.001", "200", "--profile", dir.path("best.txt")}},
  };
  bool svg = true;  // every other kind drawn as SVG
  for (const auto& [tool, args] : tables) {
    ASSERT_EQ(run_tool(tool, args).status, 0);
    const std::string& table = tool == run_lagscan || tool == run_speccal ? args[2] : args[1];
    const std::string picture = table + ((svg = !svg) ? ".svg" : ".png");
    // The waterfall and the calibrated spectrum take the capture's metadata and a velocity axis.
    const bool velocity = tool == run_iqwaterfall || tool == run_speccal;
    const auto result =
        run_tool(run_iqplot, velocity ? ToolArgs{table, picture, "--velocity", "--metadata", a}
                                      : ToolArgs{table, picture, "--rate", "2.4", "--video-band", "10"});
    ASSERT_EQ(result.status, 0) << table << result.err;
    const std::string drawn = test::read_text(picture);
    EXPECT_NE(drawn.find(svg ? "<svg" : "PNG"), std::string::npos) << picture;
    EXPECT_GT(drawn.size(), 1000u) << picture;
  }
}

bool have_gnuplot() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// What the plain pictures do not use: a waterfall of one row (boxes on a UTC axis), a short one
// (ticks in tenths of a second), a band a few kHz wide, a part of a profile, a search without a
// detection (its threshold line above every trial), a calibrated spectrum in kelvin with
// flagged bins on a velocity axis.
TEST(IqplotTest, DrawsTheUnusualAxes) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  test::ScratchDir dir;
  const std::string a = dir.path("a.bin");
  ASSERT_EQ(run_tool(run_iqsim, {a, "--seconds", "0.2", "--tone", "1000,4", "--pulse-period", "20", "--centre",
                                 "1420.4", "--start", "2026-12-07T01:30:00Z"})
                .status,
            0);
  ASSERT_EQ(run_tool(run_iqwaterfall, {a, dir.path("one.txt"), "1024", "400"}).status, 0);
  ASSERT_EQ(run_tool(run_iqwaterfall, {a, dir.path("short.txt"), "1024", "20"}).status, 0);
  ASSERT_EQ(run_tool(run_iqspec, {a, dir.path("spectrum.txt"), "4096"}).status, 0);
  ASSERT_EQ(run_tool(run_cyclefold, {a, dir.path("profile.txt"), "2.4", "50", "20", "1"}).status, 0);
  write_file(
      dir.path("search.txt"),
      "# cyclesearch best_period_ms=2.000000000000 chi2=12.5000 significance_sigma=0.00 threshold_sigma=5.00 "
      "threshold_chi2=45.2500 verdict=no-detection\n1.000000000000   0.0000   0.000000   -1.250\n"
      "2.000000000000   12.5000   0.198413   2.001\n3.000000000000   11.5000   0.198413   2.001\n");
  write_file(dir.path("kelvin.txt"),
             "# speccal points=6 sample_rate_hz=2400000 centre_frequency_hz=1420400000\n# kelvin: by Y factor\n"
             "# flagged bins: 3\n# flagged: -3 -2 1\n-3    40\n-2    41\n-1    0.5\n0    2\n1    30\n2    0.1\n");
  const ToolArgs runs[] = {
      {dir.path("one.txt"), dir.path("one.png")},
      {dir.path("kelvin.txt"), dir.path("kelvin.svg"), "--velocity"},
      {dir.path("short.txt"), dir.path("short.png")},
      {dir.path("spectrum.txt"), dir.path("narrow.png"), "--metadata", a, "--xrange", "1420.4005:1420.4015"},
      {dir.path("profile.txt"), dir.path("part.png"), "--xrange", "0.25:0.5"},
      {dir.path("search.txt"), dir.path("search.svg")},
  };
  for (const ToolArgs& args : runs) {
    const auto result = run_tool(run_iqplot, args);
    ASSERT_EQ(result.status, 0) << args[0] << result.err;
    EXPECT_GT(test::read_text(args[1]).size(), 1000u) << args[1];
  }
}

// gnuplot fails on a spectrum in dB with no power in any bin: iqplot says why in gnuplot's
// words, not with the script line gnuplot echoes, and leaves no picture.
TEST(IqplotTest, ReportsGnuplotsOwnReason) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  test::ScratchDir dir;
  write_file(dir.path("zero.txt"), "0    0.000\n1    0.000\n");
  const auto result = run_tool(run_iqplot, {dir.path("zero.txt"), dir.path("zero.png"), "--db"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.starts_with("iqplot: gnuplot could not draw the picture: ")) << result.err;
  EXPECT_NE(result.err.find("undefined"), std::string::npos) << result.err;  // gnuplot's own words
  EXPECT_EQ(result.err.find("plot '"), std::string::npos) << result.err;     // not the echoed command
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_FALSE(std::ifstream(dir.path("zero.png")).good());
}

// For spans from a few Hz to thousands of MHz about any centre: ticks a step of 1, 2 or 5 times
// a power of ten apart, 4 to 10 of them where there is room (as gnuplot places them), else as
// many as their labels fit side by side; every tick's label, printed with the decimals chosen,
// reads back as the tick itself (so no two ticks share a label), and one decimal fewer would not.
TEST(IqplotTest, TickLabelsCarryTheDecimalsOfTheirStep) {
  for (const int pixels : {1000000000, 615, 420}) {
    for (const double centre : {0.0, 1420.4, -37.5, 2.4e6}) {
      for (const double span : {3e-6, 0.01, 0.0099, 0.02, 0.049, 0.05, 1.0, 2.4, 7.0, 9.99, 150.0, 3000.0}) {
        const double low = centre - span / 3.0, high = centre + span * 2.0 / 3.0;
        const std::string ticks = tick_commands('x', low, high, pixels);
        double step = 0.0;
        int decimals = -1;
        ASSERT_EQ(std::sscanf(ticks.c_str(), "set xtics %lf\nset format x '%%.%df'\n", &step, &decimals), 2)
            << ticks;
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                    std::fabs(mantissa - 5) < 1e-9)
            << ticks;
        std::set<std::string> labels;
        bool shorter_loses = false;
        std::size_t longest = 0;
        for (double n = std::ceil(low / step); n * step <= high; ++n) {
          char label[64], shorter[64];
          std::snprintf(label, sizeof label, "%.*f", decimals, n * step);
          std::snprintf(shorter, sizeof shorter, "%.*f", std::max(decimals - 1, 0), n * step);
          EXPECT_NEAR(std::strtod(label, nullptr), n * step, step * 0.01) << ticks << label;
          shorter_loses = shorter_loses || std::fabs(std::strtod(shorter, nullptr) - n * step) > step * 0.01;
          labels.insert(label);
          longest = std::max(longest, std::string(label).size());
        }
        EXPECT_TRUE(decimals == 0 || shorter_loses) << ticks;
        EXPECT_GE(labels.size(), 2u) << ticks;
        if (pixels == 1000000000) {
          EXPECT_GE(span / step, 4.0 - 1e-9) << ticks << span;
          EXPECT_LE(span / step, 10.0 + 1e-9) << ticks << span;
        } else {
          EXPECT_LE(span / step * static_cast<double>(longest + 2) * kLabelCharPixels, pixels * 1.1) << ticks;
        }
      }
    }
  }
  EXPECT_EQ(tick_commands('y', 5.0, 5.0, 600), "");
}

}  // namespace
}  // namespace iq
