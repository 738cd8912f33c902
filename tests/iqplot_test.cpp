// iqplot: telling every table of the toolkit by its layout, refusing what it cannot draw, and
// drawing each kind (when gnuplot is installed).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "cyclefold.hpp"
#include "iqdump.hpp"
#include "iqplot.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "lagscan.hpp"
#include "levelhist.hpp"
#include "modspec.hpp"
#include "plot_script.hpp"
#include "powtrace.hpp"
#include "table_kind.hpp"
#include "test_support.hpp"
#include "io/tool_error.hpp"

namespace iq {
namespace {

using test::run_tool;

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

const std::string kStartFolder = std::filesystem::current_path().string();

bool have_gnuplot() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

struct ToolTable {
  const char* file;
  TableKind kind;
};

// One capture with a tone and a pulse, a delayed copy, and every table made from them.
class IqplotTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    const std::string a = path("a.bin");
    const std::string b = path("b.bin");
    ASSERT_EQ(run_tool(run_iqsim, {a, "--seconds", "0.1", "--tone", "150000,4", "--pulse-period", "20"}).status, 0);
    ASSERT_EQ(run_tool(run_iqsim, {b, "--seconds", "0.1", "--delay", "300"}).status, 0);
    ASSERT_EQ(run_tool(run_iqspec, {a, path("spectrum256.txt"), "256"}).status, 0);
    ASSERT_EQ(run_tool(run_iqspec, {a, path("spectrum.txt"), "1024"}).status, 0);
    ASSERT_EQ(run_tool(run_powtrace, {a, path("powtrace.txt"), "2.4", "10", "1"}).status, 0);
    ASSERT_EQ(run_tool(run_modspec, {a, path("modspec.txt"), "2.4", "10", "64"}).status, 0);
    ASSERT_EQ(run_tool(run_cyclefold, {a, path("profile.txt"), "2.4", "50", "20", "1"}).status, 0);
    ASSERT_EQ(run_tool(run_lagscan, {a, b, path("correlation.txt"), "500", "2"}).status, 0);
    ASSERT_EQ(run_tool(run_levelhist, {a, path("levels.txt")}).status, 0);
    ASSERT_EQ(run_tool(run_iqdump, {a, path("dump.txt"), "0", "1"}).status, 0);
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string path(const std::string& name) { return dir_->path(name); }

  static inline test::ScratchDir* dir_ = nullptr;
  static constexpr ToolTable kTables[] = {
      {"spectrum.txt", TableKind::kSpectrum},   {"spectrum256.txt", TableKind::kSpectrum},
      {"powtrace.txt", TableKind::kPowerTrace}, {"modspec.txt", TableKind::kModulation},
      {"profile.txt", TableKind::kProfile},     {"correlation.txt", TableKind::kCorrelation},
      {"levels.txt", TableKind::kLevels},       {"dump.txt", TableKind::kDump},
  };
};

TableShape shape_of(const std::string& text) {
  std::istringstream table(text);
  return scan_table(table, "t.txt");
}

TEST_F(IqplotTest, RecognisesTheTableOfEveryTool) {
  for (const ToolTable& table : kTables) {
    std::ifstream file(path(table.file));
    const auto kind = recognise_table(scan_table(file, table.file));
    ASSERT_TRUE(kind.has_value()) << table.file;
    EXPECT_EQ(table_kind_name(*kind), table_kind_name(table.kind)) << table.file;
  }
}

TEST(IqplotShapeTest, EmptyProfileBinsAndUnknownLayouts) {
  EXPECT_EQ(recognise_table(shape_of("0    -nan   0\n1    nan   0\n")), TableKind::kProfile);
  EXPECT_EQ(recognise_table(shape_of("0    0.12345   3\n1    -nan   0\n")), TableKind::kProfile);
  for (const char* text : {"", "1 2 3 4\n", "0    1.23\n", "0.5    1.000\n", "0\t1.0000\t2\n"}) {
    EXPECT_FALSE(recognise_table(shape_of(text)).has_value()) << text;
  }
  EXPECT_EQ(shape_of("\n0    1.000\n\n1    2.000\r\n").rows, 2);
}

TEST(IqplotShapeTest, RowsThatAreNotNumbersOrChangeWidthAreRefused) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"0    1.000\n1    abc\n", "t.txt is not a table of this toolkit: row 2 holds 'abc', not a number"},
      {"0    1.000\n1    2.000   3\n", "t.txt is not a table of this toolkit: row 2 has 3 fields, the first row 2"},
      {"0    inf\n", "t.txt is not a table of this toolkit: row 1 holds 'inf', not a number"},
  };
  for (const Case& c : cases) {
    try {
      shape_of(c.text);
      ADD_FAILURE() << c.text;
    } catch (const ToolError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

TEST(IqplotScriptTest, AxesFollowTheRateCentreAndVideoBand) {
  struct Case {
    TableKind kind;
    std::optional<double> rate, centre, video;
    const char* x;
  };
  const Case cases[] = {
      {TableKind::kSpectrum, {}, {}, {}, "using ($1):2"},
      {TableKind::kSpectrum, 2.4, 1420.4, {}, "using (1420.4 + $1 * 0.009375):2"},
      {TableKind::kSpectrum, 2.4, {}, {}, "Offset from the centre frequency (MHz)"},
      {TableKind::kPowerTrace, 2.4, {}, 10.0, "using ($1 * 0.0001):2"},  // 240 samples per point
      {TableKind::kPowerTrace, 2.4, {}, {}, "Video point"},
      {TableKind::kModulation, 2.4, {}, 10.0, "Modulation frequency (Hz)"},
      {TableKind::kProfile, {}, {}, {}, "using ($1 / 256):3"},
      {TableKind::kCorrelation, 2.4, {}, {}, "Lag (µs)"},
      {TableKind::kDump, {}, {}, {}, "title 'Q'"},
  };
  for (const Case& c : cases) {
    PlotSettings settings;
    settings.kind = c.kind;
    settings.rows = 256;
    settings.table = "it's.txt";
    settings.rate_mhz = c.rate;
    settings.centre_mhz = c.centre;
    settings.video_band_khz = c.video;
    const std::string script = plot_script(settings);
    EXPECT_NE(script.find(c.x), std::string::npos) << c.x << "\n" << script;
    EXPECT_NE(script.find("'it''s.txt'"), std::string::npos) << script;
  }
}

TEST_F(IqplotTest, RefusalsNameTheProblemAndCreateNoPicture) {
  const std::string picture = path("refused.png");
  test::write_bytes(path("empty.txt"), {});
  test::write_bytes(path("odd.txt"), {'1', ' ', '2', ' ', '3', ' ', '4', '\n'});
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{path("spectrum.txt")}, kIqplotUsage},
      {{path("missing.txt"), picture}, "iqplot: Can't open table "},
      {{dir_->path(""), picture}, "iqplot: Can't open table "},
      {{path("empty.txt"), picture}, " is empty"},
      {{path("odd.txt"), picture}, "is; give it with --kind (one of spectrum, powtrace, modspec, profile"},
      {{path("spectrum.txt"), picture, "--kind", "cake"}, "option --kind must be one of"},
      {{path("spectrum.txt"), picture, "--rate", "0"}, "option --rate must be a rate above 0 MHz"},
      {{path("spectrum.txt"), picture, "--size", "50x50"}, "option --size must be WIDTHxHEIGHT"},
      {{path("spectrum.txt"), picture, "--bogus"}, "unknown option '--bogus'"},
      {{path("spectrum.txt"), path("spectrum.txt")}, "iqplot: "},  // would overwrite its table
  };
  const ScopedEnv fake("IQTOOLS_GNUPLOT", "/bin/cat");  // never reached: no picture either way
  for (const Case& c : cases) {
    const auto result = run_tool(run_iqplot, c.args);
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_FALSE(test::exists(picture)) << c.err;
  }
  EXPECT_EQ(test::read_lines(path("spectrum.txt")).size(), 1024u);
}

TEST_F(IqplotTest, MissingOrFailingGnuplotIsReported) {
  const std::string picture = path("never.png");
  {
    const ScopedEnv missing("IQTOOLS_GNUPLOT", "/nonexistent/gnuplot");
    const auto result = run_tool(run_iqplot, {path("spectrum.txt"), picture});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "iqplot: gnuplot is not installed; install it with: apt-get install gnuplot-nox\n");
  }
  {
    const ScopedEnv failing("IQTOOLS_GNUPLOT", "/bin/false");
    const auto result = run_tool(run_iqplot, {path("spectrum.txt"), picture});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("iqplot: gnuplot could not draw the picture"), std::string::npos) << result.err;
  }
  EXPECT_FALSE(test::exists(picture));
}

TEST_F(IqplotTest, DrawsEveryKindAsPngAndSvg) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed (apt-get install gnuplot-nox)";
  for (const ToolTable& table : kTables) {
    const std::string png = path(std::string(table.file) + ".png");
    const auto result = run_tool(run_iqplot, {path(table.file), png, "--rate", "2.4", "--video-band", "10"});
    ASSERT_EQ(result.status, 0) << table.file << result.err;
    EXPECT_NE(result.out.find(std::string("Kind=") + std::string(table_kind_name(table.kind))), std::string::npos);
    const std::string bytes = test::read_text(png);
    EXPECT_GT(bytes.size(), 1000u) << table.file;
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << table.file;
  }
  // Names that mean something else to gnuplot are still read as files, and never run.
  const std::string odd = path("<touch pwned.txt");
  std::filesystem::copy_file(path("levels.txt"), odd);
  ASSERT_EQ(::chdir(dir_->path("").c_str()), 0);
  const auto result = run_tool(run_iqplot, {"<touch pwned.txt", "odd.png"});
  ASSERT_EQ(::chdir(kStartFolder.c_str()), 0);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(test::exists(path("pwned.txt")));
  EXPECT_TRUE(test::exists(path("odd.png")));

  const std::string svg = path("profile.svg");
  ASSERT_EQ(run_tool(run_iqplot, {path("profile.txt"), svg, "--kind", "profile"}).status, 0);
  EXPECT_NE(test::read_text(svg).find("<svg"), std::string::npos);
}

}  // namespace
}  // namespace iq
