// SPDX-License-Identifier: MIT
// Velocity frames across the tools: iqsim's lines land where iqvelocity's corrections put them
// (measured from the bytes), and iqplot's frame correction is iqvelocity's at the middle of the
// capture or waterfall, with the site from the capture's metadata unless --site is given.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <map>

#include "iqplot.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "iqvelocity.hpp"
#include "io/text_format.hpp"
#include "iqwaterfall.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

constexpr double kLight = 299792.458;
constexpr double kHydrogen = 1420.405751768;

// iqvelocity's name=value lines for a site, pointing and time.
std::map<std::string, double> velocity_report(const std::vector<std::string>& where) {
  const test::RunResult r = run_tool(run_iqvelocity, where);
  EXPECT_EQ(r.status, 0) << r.err;
  std::map<std::string, double> values;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    values[line.substr(0, equals)] = std::stod(line.substr(equals + 1));
  }
  return values;
}

// The mean frequency of a capture holding one tone alone, Hz: the mean turn between samples.
double tone_frequency(const std::string& path, double rate_hz) {
  std::ifstream file(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::complex<double> turn = 0.0, last = 0.0;
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    const std::complex<double> z(bytes[k] - 127.5, bytes[k + 1] - 127.5);
    if (k > 0) turn += z * std::conj(last);
    last = z;
  }
  return std::arg(turn) * rate_hz / (2.0 * M_PI);
}

TEST(Frames, IqsimPlacesLinesWhereTheCorrectionsSay) {
  struct Case {
    std::string frame, pointing, correction;  // iqvelocity's correction of the frame ("" for none)
    double velocity_kms, drift;
  };
  const Case cases[] = {
      {"lsrk", "--radec=83.6,22", "lsrk_kms", -50.0, 0.0},
      {"bary", "--galactic=30,0", "barycentric_kms", 20.0, 40000.0},
      {"lsrk", "--azel=120,40", "lsrk_kms", 35.0, -40000.0},
      {"topo", "--radec=83.6,22", "", -50.0, 0.0},
  };
  test::ScratchDir dir;
  const std::string site = "--site=52.2,-4.1,120", start = "2026-12-07T01:30:00Z";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame + " " + c.pointing);
    const test::RunResult sim =
        run_tool(run_iqsim, {dir.path("l.bin"), "--force", "-n", "24000", "--noise", "0", "--centre", "1420.4",
                             "--start", start, "--frame", c.frame, site, c.pointing, "--line",
                             std::to_string(c.velocity_kms) + ",60," + std::to_string(c.drift)});
    ASSERT_EQ(sim.status, 0) << sim.err;
    // 24000 samples at 2.4 MHz: the middle is 5 ms after the start.
    const double correction =
        c.correction.empty()
            ? 0.0
            : velocity_report({site, c.pointing, "--start=2026-12-07T01:30:00.005"})[c.correction];
    const double expected_hz = (kHydrogen * (1.0 - (c.velocity_kms - correction) / kLight) - 1420.4) * 1e6;
    EXPECT_NEAR(tone_frequency(dir.path("l.bin"), 2.4e6), expected_hz, 5.0);
    EXPECT_NE(sim.out.find("Correction=" + cformat("%+.4f", correction)), std::string::npos) << sim.out;
    EXPECT_NE(test::read_text(dir.path("l.sigmf-meta")).find("\"coordinates\""), std::string::npos);
  }
}

// A capture of 24000 samples at 2.4 MHz from 01:30 with the site in its metadata, beside
// `table`'s name.
void capture_with_site(const test::ScratchDir& dir) {
  ASSERT_EQ(run_tool(run_iqsim, {dir.path("n.bin"), "--force", "-n", "24000", "--centre", "1420.4", "--start",
                                 "2026-12-07T01:30:00Z", "--site", "52.2,-4.1,120"})
                .status,
            0);
}

TEST(Frames, IqplotCorrectsAtTheMiddleOfTheCapture) {
  test::ScratchDir dir;
  capture_with_site(dir);
  ASSERT_EQ(run_tool(run_iqspec, {dir.path("n.bin"), dir.path("n.txt"), "256"}).status, 0);
  // The waterfall's rows at a rate of 2 kHz (as if): 16 points x 100 frames = 0.8 s each, 15
  // rows, 12 s; its middle 6 s after the start.
  ASSERT_EQ(run_tool(run_iqwaterfall, {dir.path("n.bin"), dir.path("w.txt"), "16", "100", "-r", "0.002"}).status,
            0);
  struct Case {
    std::string table, frame, site, middle, correction;
  };
  const Case cases[] = {
      {"n.txt", "lsrk", "", "2026-12-07T01:30:00.005", "lsrk_kms"},
      {"n.txt", "bary", "--site=-30,20", "2026-12-07T01:30:00.005", "barycentric_kms"},
      {"w.txt", "lsrk", "", "2026-12-07T01:30:06.000", "lsrk_kms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table + " " + c.frame + " " + c.site);
    std::vector<std::string> args = {dir.path(c.table), dir.path("p.png"), "--velocity", "--frame",
                                     c.frame,           "--radec=83.6,22", "--metadata", dir.path("n.bin")};
    if (!c.site.empty()) args.push_back(c.site);
    setenv("IQTOOLS_GNUPLOT", "/bin/cat", 1);
    const test::RunResult r = run_tool(run_iqplot, args);
    unsetenv("IQTOOLS_GNUPLOT");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string site = c.site.empty() ? "--site=52.2,-4.1,120" : c.site;
    const double correction = velocity_report({site, "--radec=83.6,22", "--start=" + c.middle})[c.correction];
    const std::string printed = cformat("Correction=%+.4f km/s    Time=%sZ", correction, c.middle.c_str());
    EXPECT_NE(r.out.find(printed), std::string::npos) << r.out;
    const std::string script = test::read_text(dir.path("p.png"));
    const std::string name = c.frame == "lsrk" ? "LSRK" : "Barycentric";
    EXPECT_NE(script.find("set xlabel '" + name + " radial velocity"), std::string::npos) << script;
    // The axis adds the correction to the topocentric velocity.
    const auto plus = script.find(") / 1420.405751768 + ");
    ASSERT_NE(plus, std::string::npos) << script;
    EXPECT_NEAR(std::stod(script.substr(plus + 21)), correction, 5e-5);
  }
}

}  // namespace
}  // namespace iq
