// SPDX-License-Identifier: MIT
// Velocity frames across the tools: iqsim's lines land where iqvelocity's corrections put them
// (measured from the bytes). iqplot's corrections and refusals are in the golden corpus.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <map>

#include "iqsim.hpp"
#include "iqvelocity.hpp"
#include "io/text_format.hpp"
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

}  // namespace
}  // namespace iq
