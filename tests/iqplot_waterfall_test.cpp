// iqplot's hydrogen-line pictures: waterfall tables read and refused, heat-map scripts with
// time and velocity axes, calibrated spectra, the capture metadata behind a table and the
// options that override it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "iqplot.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "speccal.hpp"
#include "iqwaterfall.hpp"
#include "plot_metadata.hpp"
#include "plot_script.hpp"
#include "spectral_axis.hpp"
#include "table_kind.hpp"
#include "test_support.hpp"
#include "io/tool_error.hpp"
#include "waterfall_plot.hpp"

namespace iq {
namespace {

using test::run_tool;

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// A waterfall of `rows` rows of four bins, with the given header fields after the mark.
std::string waterfall_text(const std::string& fields, int rows, bool last_row_complete = true) {
  std::string text = "# iqwaterfall points=4 frames_per_row=10" + fields + "\n# a comment\n";
  for (int r = 0; r < rows; ++r) {
    for (int bin = -2; bin < 2; ++bin) text += std::to_string(bin) + "    " + std::to_string(100 + r) + ".000\n";
    if (r + 1 < rows || last_row_complete) text += "\n";
  }
  return text;
}

WaterfallShape scan(const std::string& text) {
  std::istringstream table(text);
  return scan_waterfall(table, "w.txt");
}

TEST(IqplotWaterfall, HeaderAndCompleteRowsAreRead) {
  const WaterfallShape full = scan(waterfall_text(
      " sample_rate_hz=2400000 centre_frequency_hz=1420400000 start_utc=2026-12-07T01:30:00Z future=1", 3));
  EXPECT_EQ(full.points, 4);
  EXPECT_EQ(full.frames_per_row, 10);
  EXPECT_EQ(full.rows, 3);
  EXPECT_EQ(full.header.sample_rate_hz, 2.4e6);
  EXPECT_EQ(full.header.centre_frequency_hz, 1420.4e6);
  EXPECT_EQ(full.header.datetime_utc, "2026-12-07T01:30:00Z");

  const WaterfallShape bare = scan(waterfall_text("", 2));
  EXPECT_EQ(bare.rows, 2);
  EXPECT_FALSE(bare.header.sample_rate_hz || bare.header.centre_frequency_hz || bare.header.datetime_utc);
  // A row still being written (no blank line after it yet) is left for later.
  EXPECT_EQ(scan(waterfall_text("", 3, false)).rows, 2);
  EXPECT_EQ(scan(waterfall_text("", 0)).rows, 0);
  EXPECT_EQ(scan("# iqwaterfall points=1 frames_per_row=1\n0    5.000\n\n\n0    6.000\n\r\n").rows, 2);
}

TEST(IqplotWaterfall, MalformedTablesAreRefusedInOneLine) {
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"", "w.txt is not a waterfall table: it is empty"},
      {"-2    1.000\n", "w.txt is not a waterfall table: its first line does not start with '# iqwaterfall'"},
      {"# iqwaterfalls points=4 frames_per_row=1\n",
       "w.txt is not a waterfall table: its first line does not start with '# iqwaterfall'"},
      {"# iqwaterfall frames_per_row=1\n", "w.txt is not a waterfall table: its first line lacks points= or frames_per_row="},
      {"# iqwaterfall points=4\n", "w.txt is not a waterfall table: its first line lacks points= or frames_per_row="},
      {"# iqwaterfall points=0 frames_per_row=1\n", "w.txt is not a waterfall table: its first line has points=0"},
      {"# iqwaterfall points=262144 frames_per_row=1\n",
       "w.txt is not a waterfall table: its first line has points=262144"},
      {"# iqwaterfall points=4 frames_per_row=-1\n", "w.txt is not a waterfall table: its first line has frames_per_row=-1"},
      {"# iqwaterfall points=4 frames_per_row=1 sample_rate_hz=0\n",
       "w.txt is not a waterfall table: its first line has sample_rate_hz=0"},
      {"# iqwaterfall points=4 frames_per_row=1 centre_frequency_hz=x\n",
       "w.txt is not a waterfall table: its first line has centre_frequency_hz=x"},
      {"# iqwaterfall points=4 frames_per_row=1 start_utc=yesterday\n",
       "w.txt is not a waterfall table: its first line has start_utc=yesterday"},
      {"# iqwaterfall points=4 frames_per_row=1\n-2    1.000\n-1    1.000\n\n",
       "w.txt is not a waterfall table: line 4 ends a row of 2 bins, not 4"},
      {"# iqwaterfall points=4 frames_per_row=1\n-2    1.000\n-1    1.000   7\n",
       "w.txt is not a waterfall table: line 3 is not a bin number and a value"},
      {"# iqwaterfall points=4 frames_per_row=1\n-2    1.000\n-1    inf\n",
       "w.txt is not a waterfall table: line 3 is not a bin number and a value"},
      {"# iqwaterfall points=4 frames_per_row=1\n-2    1.000\n0    1.000\n",
       "w.txt is not a waterfall table: line 3 holds bin 0 where bin -1 belongs"},
      {"# iqwaterfall points=4 frames_per_row=1\n-2    1.000\n-1    1.000\n0    1.000\n1    1.000\n2    1.000\n",
       "w.txt is not a waterfall table: line 6 runs on past the row's 4 bins"},
  };
  for (const auto& c : cases) {
    try {
      scan(c.text);
      ADD_FAILURE() << c.text;
    } catch (const ToolError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

PlotSettings waterfall_settings() {
  PlotSettings s;
  s.kind = TableKind::kWaterfall;
  s.table = "./w.txt";
  s.points = 1024;
  s.frames_per_row = 100;
  s.rows = 30;
  return s;
}

TEST(IqplotWaterfall, HeatMapAxesFollowWhatIsKnown) {
  const struct {
    const char* what;
    std::optional<double> rate, centre, rest;
    std::optional<std::string> start;
    std::int64_t rows;
    bool linear;
    std::vector<std::string> wanted;
  } cases[] = {
      {"nothing known", {}, {}, {}, {}, 30, false,
       {"using ($1):(column(-1)):($2 > 0 ? 10 * log10($2) : NaN) with image", "every :::0::29",
        "Frequency bin (of 1024)", "Row (of 100 frames)", "set yrange [*:*] reverse", "(dB)"}},
      // 100 frames of 1024 at 2.048 MHz: rows of 0.05 s.
      {"rate", 2.048, {}, {}, {}, 30, true,
       {"using (0 + $1 * 0.002):((column(-1) + 0.5) * 0.05):2 with image", "Time from the start (s)",
        "Offset from the centre frequency (MHz)", "'Mean power per frame'"}},
      {"long run in minutes", 2.048, {}, {}, {}, 12001, false, {"(column(-1) + 0.5) * 0.000833333333333333", "(min)"}},
      {"start in UTC", 2.048, 1420.0, {}, "2026-12-07T01:30:00Z", 30, false,
       {"(1796607000 + (column(-1) + 0.5) * 0.05)", "set ydata time", "set format y '%H:%M:%S'",
        "Time (UTC), from 2026-12-07T01:30:00Z", "using (1420 + $1 * 0.002)", "Frequency (MHz)"}},
      {"a night past a day", 2.048, 1420.0, {}, "2026-12-07T01:30:00Z", 1728000, false, {"set format y '%d %H:%M'"}},
      {"velocity", 2.048, 1420.0, kHydrogenRestMhz, {}, 30, false,
       {"using (299792.458 * (1420.405751768 - (1420 + $1 * 0.002)) / 1420.405751768)",
        "Radial velocity (km/s, radio convention, rest frequency 1420.405751768 MHz)"}},
      {"velocity needs a centre", 2.048, {}, 1420.0, {}, 30, false, {"Offset from the centre frequency (MHz)"}},
  };
  for (const auto& c : cases) {
    PlotSettings s = waterfall_settings();
    s.rate_mhz = c.rate;
    s.centre_mhz = c.centre;
    s.velocity_rest_mhz = c.rest;
    s.start_utc = c.start;
    s.rows = c.rows;
    s.linear = c.linear;
    const std::string script = plot_script(s);
    for (const std::string& wanted : c.wanted) {
      EXPECT_NE(script.find(wanted), std::string::npos) << c.what << ": " << wanted << "\n" << script;
    }
  }
}

TEST(IqplotWaterfall, SpectraAndCalibratedSpectraTakeTheVelocityAxis) {
  PlotSettings s;
  s.table = "./s.txt";
  s.rows = 1024;
  s.rate_mhz = 2.4;
  s.centre_mhz = 1420.4;
  s.velocity_rest_mhz = 1420.0;
  for (TableKind kind : {TableKind::kSpectrum, TableKind::kCalibrated}) {
    s.kind = kind;
    const std::string script = plot_script(s);
    EXPECT_NE(script.find("using (299792.458 * (1420 - (1420.4 + $1 * 0.00234375)) / 1420):2"), std::string::npos)
        << script;
  }
  s.kind = TableKind::kCalibrated;
  s.x_range = std::pair(-150.0, 50.5);
  const std::string calibrated = plot_script(s);
  EXPECT_NE(calibrated.find(", 0 with lines"), std::string::npos) << calibrated;
  EXPECT_NE(calibrated.find("(on − off) / off"), std::string::npos) << calibrated;
  EXPECT_NE(calibrated.find("set xrange [-150:50.5]"), std::string::npos) << calibrated;
}

TEST(IqplotWaterfall, CalibratedSpectraAreToldByTheirFiveDecimals) {
  std::istringstream table("-2    0.01234\n-1    -0.00321\n0    4.91881\n1    0.00000\n");
  EXPECT_EQ(recognise_table(scan_table(table, "c.txt")), TableKind::kCalibrated);
  EXPECT_EQ(table_kind_from_name("calibrated"), TableKind::kCalibrated);
  EXPECT_EQ(table_kind_from_name("waterfall"), TableKind::kWaterfall);
}

TEST(IqplotWaterfall, OptionsComeBeforeTheHeaderAndTheHeaderBeforeTheMetadata) {
  PlotSettings s;
  s.rate_mhz = 1.0;  // as if given as an option
  fill_from_metadata(s, {2.4e6, std::nullopt, "2026-12-07T01:30:00Z"});
  fill_from_metadata(s, {3.0e6, 1420.4e6, "2026-12-07T02:00:00Z"});
  EXPECT_EQ(s.rate_mhz, 1.0);
  EXPECT_EQ(s.centre_mhz, 1420.4);
  EXPECT_EQ(s.start_utc, "2026-12-07T01:30:00Z");
}

TEST(IqplotWaterfall, TheTablesCaptureMetadataIsFoundByName) {
  test::ScratchDir dir;
  write_capture_metadata(dir.path("night.bin"), {2.4e6, 1420.4e6, "2026-12-07T01:30:00Z"});
  std::ostringstream err;
  EXPECT_EQ(table_metadata(dir.path("night.txt"), std::nullopt, err).centre_frequency_hz, 1420.4e6);
  EXPECT_FALSE(table_metadata(dir.path("night.dat"), std::nullopt, err).centre_frequency_hz);
  EXPECT_FALSE(table_metadata(dir.path("other.txt"), std::nullopt, err).centre_frequency_hz);
  for (const char* given : {"night.bin", "night.sigmf-meta", "night.sigmf-data"}) {
    EXPECT_EQ(table_metadata(dir.path("cal.txt"), dir.path(given), err).sample_rate_hz, 2.4e6) << given;
  }
  EXPECT_EQ(err.str(), "");
  EXPECT_THROW(table_metadata(dir.path("cal.txt"), dir.path("absent.bin"), err), ToolError);
  write_text(dir.path("bad.sigmf-meta"), "{");
  EXPECT_FALSE(table_metadata(dir.path("bad.txt"), std::nullopt, err).sample_rate_hz);
  EXPECT_EQ(err.str(), "iqplot: " + dir.path("bad.sigmf-meta") + ": not valid JSON; ignored\n");
}

TEST(IqplotWaterfall, VelocityAndRangeRefusalsCreateNoPicture) {
  test::ScratchDir dir;
  write_text(dir.path("w.txt"), waterfall_text("", 2));
  write_text(dir.path("c.txt"), "-1    0.01234\n0    0.50000\n");
  write_text(dir.path("p.txt"), "0    1.00000000\n1    2.00000000\n");
  write_text(dir.path("empty_rows.txt"), waterfall_text("", 1, false));
  const std::string picture = dir.path("p.png");
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{dir.path("c.txt"), picture, "--velocity"}, "iqplot: option --velocity needs the sample rate and the centre"},
      {{dir.path("c.txt"), picture, "--velocity", "--rate", "2.4"}, "option --velocity needs the sample rate"},
      {{dir.path("w.txt"), picture, "--velocity", "--centre", "1420"}, "option --velocity needs the sample rate"},
      {{dir.path("p.txt"), picture, "--velocity", "--rate", "2.4", "--centre", "1420"},
       "iqplot: option --velocity applies to spectra, calibrated spectra and waterfalls only"},
      {{dir.path("c.txt"), picture, "--velocity", "0"}, "option --velocity must be a rest frequency above 0 MHz"},
      {{dir.path("c.txt"), picture, "--xrange", "5:1"}, "option --xrange must be FROM:TO, two numbers with FROM below TO"},
      {{dir.path("c.txt"), picture, "--xrange", "5"}, "option --xrange must be FROM:TO"},
      {{dir.path("c.txt"), picture, "--xrange", "a:b"}, "option --xrange takes a number"},
      {{dir.path("c.txt"), picture, "--start", "01:30"}, "option --start must be a UTC time like 2026-12-07T01:30:00Z"},
      {{dir.path("c.txt"), picture, "--metadata", dir.path("none.bin")}, "there is no metadata file"},
      {{dir.path("c.txt"), picture, "--kind", "waterfall"}, "its first line does not start with '# iqwaterfall'"},
      {{dir.path("empty_rows.txt"), picture}, "has no complete row yet"},
  };
  for (const auto& c : cases) {
    const auto result = run_tool(run_iqplot, c.args);
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_FALSE(test::exists(picture)) << c.err;
  }
}

bool have_gnuplot() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

TEST(IqplotWaterfall, DrawsTheNightFromItsCaptureMetadata) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed (apt-get install gnuplot-nox)";
  test::ScratchDir dir;
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("on.bin"), "-n", "409600", "--tone", "240000,2,20000", "--centre", "1420.4",
                                 "--start", "2026-12-07T01:30:00Z", "--passband", "20"})
                .status,
            0);
  ASSERT_EQ(run_tool(run_iqwaterfall, {dir.path("on.bin"), dir.path("night.txt"), "1024", "20"}).status, 0);
  ASSERT_EQ(run_tool(run_iqspec, {dir.path("on.bin"), dir.path("on.txt"), "1024"}).status, 0);
  ASSERT_EQ(run_tool(run_speccal, {dir.path("on.txt"), dir.path("on.txt"), dir.path("cal.txt")}).status, 0);
  const struct {
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {{"night.txt", "night.png", "--velocity", "--xrange", "-60:-40"}, "Kind=waterfall    Rows=20"},
      {{"night.txt", "night_linear.svg", "--linear"}, "Kind=waterfall    Rows=20"},
      // The spectrum of on.bin is on.txt: the metadata gives the rate and centre.
      {{"on.txt", "on.png", "--velocity", "1420.405"}, "Kind=spectrum    Rows=1024"},
      {{"cal.txt", "cal.png", "--metadata", dir.path("on.bin"), "--velocity=1420.405"}, "Kind=calibrated    Rows=1024"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {dir.path(c.args[0]), dir.path(c.args[1])};
    args.insert(args.end(), c.args.begin() + 2, c.args.end());
    const auto result = run_tool(run_iqplot, args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
    EXPECT_GT(test::read_text(dir.path(c.args[1])).size(), 1000u) << c.args[1];
  }
}

}  // namespace
}  // namespace iq
