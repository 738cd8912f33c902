// iqplot and cyclesearch's tables: the search table is told by its layout (and nothing else
// is taken for one), and both it and the best trial's profile draw.
#include <gtest/gtest.h>

#include <sstream>

#include "cyclesearch.hpp"
#include "iqplot.hpp"
#include "iqsim.hpp"
#include "table_kind.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

std::optional<TableKind> kind_of(const std::string& text) {
  std::istringstream table(text);
  return recognise_table(scan_table(table, "t.txt"));
}

TEST(SearchPlotTest, SearchTablesAreToldByTheirLayout) {
  struct Case {
    const char* text;
    bool search;
  };
  const Case cases[] = {
      {"33.693260000000   315140.4869   3183.237241   208.090\n", true},
      {"1.000000000000   0.0000   0.000000   -1.250\n2.000000000000   12.5000   0.198413   2.001\n", true},
      {"33.69326000000   315140.4869   3183.237241   208.090\n", false},   // eleven decimals
      {"33.693260000000   315140.487   3183.237241   208.090\n", false},   // chi2 with three
      {"33.693260000000   315140.4869   3183.237241   208.09\n", false},    // S/N with two
      {"33.693260000000   315140.4869   3183.237241\n", false},             // three columns
  };
  for (const Case& c : cases) {
    const auto kind = kind_of(c.text);
    EXPECT_EQ(kind == TableKind::kSearch, c.search) << c.text;
  }
  EXPECT_EQ(table_kind_from_name("search"), TableKind::kSearch);
  EXPECT_EQ(table_kind_name(TableKind::kSearch), "search");
}

TEST(SearchPlotTest, DrawsTheSearchAndTheBestProfile) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed";
  test::ScratchDir dir;
  const std::string capture = dir.path("p.bin");
  ASSERT_EQ(run_tool(run_iqsim, {capture, "--seconds", "0.5", "--pulse-period", "20", "--pulse-strength", "0.5"}).status, 0);
  ASSERT_EQ(run_tool(run_cyclesearch, {capture, dir.path("search.txt"), "2.4", "50", "20", "0.001", "200",
                                       "--profile", dir.path("profile.txt")})
                .status,
            0);
  for (const auto& [table, kind] : {std::pair{"search.txt", "search"}, std::pair{"profile.txt", "profile"}}) {
    const std::string png = dir.path(std::string(table) + ".png");
    const auto result = run_tool(run_iqplot, {dir.path(table), png});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(std::string("Kind=") + kind + " "), std::string::npos) << result.out;
    EXPECT_EQ(test::read_text(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
  }
}

}  // namespace
}  // namespace iq
