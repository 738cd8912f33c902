// iqplot with gnuplot itself (the golden corpus holds the scripts it writes): every kind of
// table drawn as a PNG and as SVG, and a table whose name means a command to gnuplot read as a
// file.
#include <filesystem>

#include "iqplot.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(IqplotTest, DrawsEveryKindWithGnuplot) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed (apt-get install gnuplot-nox)";
  test::ScratchDir dir;
  for (const auto& [kind, rows] : std::vector<std::pair<std::string, std::string>>{
           {"spectrum", "-1    2.500\n0    31.750\n"}, {"powtrace", "0   0.03524478\n1   0.03469042\n"},
           {"modspec", "0    0.000977\n1    0.000000\n"}, {"profile", "0    0.19117   241\n1    -nan   0\n"},
           {"correlation", "-7000    0.1234567    -0.1234567\n-6999    0.0000000    0.5000000\n"},
           {"levels", "-128    0.000\n-127    2.500\n"}, {"dump", "0\t-0.9961\t0.9961\n1\t-0.0039\t0.0039\n"}}) {
    test::write_bytes(dir.path(kind), {rows.begin(), rows.end()});
    for (const char* format : {".png", ".svg"}) {
      const auto result = test::run_tool(run_iqplot, {dir.path(kind), dir.path(kind + format), "--kind", kind, "-r", "2.4", "-v", "10"});
      ASSERT_EQ(result.status, 0) << kind << result.err;
      const std::string picture = test::read_text(dir.path(kind + format));
      EXPECT_TRUE(format[1] == 'p' ? picture.starts_with("\x89PNG\r\n\x1a\n") : picture.find("<svg") != std::string::npos) << kind;
    }
  }
  // Names that mean something else to gnuplot are still read as files, and never run.
  const auto start = std::filesystem::current_path();
  std::filesystem::current_path(dir.path(""));
  std::filesystem::copy_file("levels", "<touch pwned.txt");
  const auto odd = test::run_tool(run_iqplot, {"<touch pwned.txt", "odd.png"});
  std::filesystem::current_path(start);
  EXPECT_EQ(odd.status, 0) << odd.err;
  EXPECT_FALSE(test::exists(dir.path("pwned.txt")));
}

}  // namespace
}  // namespace iq
