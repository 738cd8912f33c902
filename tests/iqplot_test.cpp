// iqplot with the real gnuplot: the script written for every kind of table draws a picture, the
// waterfall and the calibrated spectrum on a velocity axis from the capture's metadata.
// How each table is told and the script itself are in the golden corpus.
#include <gtest/gtest.h>

#include <cstdlib>

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

}  // namespace
}  // namespace iq
