// SPDX-License-Identifier: MIT
// The radial-velocity corrections against values astropy computed for random sites, pointings
// and times from 1990 to 2050, the time parsing, and iqvelocity's reading of its options. Its
// console and refusals are in the golden corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "astro/sky.hpp"
#include "iqvelocity.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

constexpr double kToleranceKms = 0.01;

struct ReferenceCase {
  std::string kind, utc;
  Site site;
  double angle1 = 0.0, angle2 = 0.0, bary = 0.0, lsrk = 0.0, ra = 0.0, dec = 0.0;
};

std::vector<ReferenceCase> reference_cases() {
  std::ifstream file(IQTOOLS_TEST_DATA "/velocity_reference.txt");
  std::vector<ReferenceCase> cases;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ReferenceCase c;
    fields >> c.kind >> c.site.latitude_deg >> c.site.longitude_deg >> c.site.height_m >> c.angle1 >> c.angle2 >>
        c.utc >> c.bary >> c.lsrk;
    if (c.kind == "azel") fields >> c.ra >> c.dec;
    cases.push_back(c);
  }
  return cases;
}

// The angle between two directions, arcseconds.
double separation_arcsec(const Equatorial& a, const Equatorial& b) {
  const Vector3 u = unit_vector(a), v = unit_vector(b);
  const double cross = std::hypot(u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]);
  return std::atan2(cross, u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) * 180.0 / M_PI * 3600.0;
}

TEST(Velocity, CorrectionsAgreeWithAstropyEverywhere) {
  const std::vector<ReferenceCase> cases = reference_cases();
  ASSERT_EQ(cases.size(), 40u);
  double worst = 0.0;
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(c.kind + " " + c.utc);
    const auto time = parse_utc(c.utc);
    ASSERT_TRUE(time);
    Equatorial pointing{c.angle1, c.angle2};
    if (c.kind == "galactic") pointing = galactic_to_icrs(c.angle1, c.angle2);
    if (c.kind == "azel") {
      pointing = horizontal_to_icrs(c.angle1, c.angle2, c.site, *time);
      // UT1 taken as UTC turns the sky by up to 0.9 s of rotation: 14 arcseconds.
      EXPECT_LT(separation_arcsec(pointing, {c.ra, c.dec}), 15.0);
    }
    const VelocityCorrections v = velocity_corrections(c.site, pointing, *time);
    EXPECT_NEAR(v.barycentric_kms, c.bary, kToleranceKms);
    EXPECT_NEAR(v.lsrk_kms, c.lsrk, kToleranceKms);
    EXPECT_DOUBLE_EQ(v.v_over_c, v.barycentric_kms / 299792.458);
    worst = std::max({worst, std::abs(v.barycentric_kms - c.bary), std::abs(v.lsrk_kms - c.lsrk)});
  }
  RecordProperty("worst_difference_kms", std::to_string(worst));
}

TEST(Velocity, TimesParseOnlyAsFullUtcDates) {
  struct Case {
    const char* text;
    bool valid;
    double jd;  // whole Julian date of a valid text
  };
  const Case cases[] = {
      {"2000-01-01T12:00:00", true, 2451545.0},
      {"2000-01-01T12:00:00Z", true, 2451545.0},
      {"2000-01-01 18:00", true, 2451545.25},
      {"2000-01-01T12:00:43.2", true, 2451545.0005},
      // A leap second's day has 86401 s.
      {"2016-12-31T23:59:60.5", true, 2457754.5 - 0.5 / 86401.0},
      {"1900-03-01T00:00:00", true, 2415079.5},
      {"2100-12-31T00:00:00", true, 2488433.5},
      {"2017-01-01T23:59:60", false, 0},
      {"2023-02-29T00:00:00", false, 0},
      {"2023-13-01T00:00:00", false, 0},
      {"2023-01-01T24:00:00", false, 0},
      {"2023-01-01T12:60:00", false, 0},
      {"1899-12-31T23:00:00", false, 0},
      {"2101-01-01T00:00:00", false, 0},
      {"12:00:00", false, 0},
      {"2023-01-01", false, 0},
      {"2023-01-01T12", false, 0},
      {"2023-01-01T12:00:00.", false, 0},
      {"2023-01-01T12:00:00+01", false, 0},
      {"2023-1-01T12:00:00", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    const auto t = parse_utc(c.text);
    EXPECT_EQ(t.has_value(), c.valid) << c.text;
    if (t && c.valid) {
      EXPECT_NEAR(t->jd1 + t->jd2, c.jd, 1e-7) << c.text;
    }
  }
}

TEST(Velocity, DynamicalTimesRunAheadOfUtc) {
  // In 2020 TAI - UTC is 37 s and TT - TAI 32.184 s; TDB stays within 2 ms of TT.
  const DynamicalTimes t = dynamical_times(*parse_utc("2020-06-01T00:00:00"), Site{45.0, 10.0, 100.0});
  const double utc = 2459001.5;
  EXPECT_NEAR((t.tt1 - utc + t.tt2) * 86400.0, 69.184, 1e-4);
  EXPECT_NEAR((t.tdb1 - t.tt1 + t.tdb2 - t.tt2) * 86400.0, 0.0, 2e-3);
  EXPECT_NE(t.tdb2, t.tt2);
}

struct OptionCase {
  std::vector<std::string> args;
  const char* refusal;  // part of the refusal line, or nullptr for a valid set
};

// The ends of every range (the golden corpus holds one refusal of each kind).
TEST(Velocity, OptionsAreRefusedOutOfRange) {
  const std::string start = "--start=2024-01-01T00:00:00";
  const OptionCase cases[] = {
      {{"--site=52,5,10", "--radec=83.6,22", start}, nullptr},
      {{"--site=-90,-180", "--galactic=359.9,-90", start}, nullptr},
      {{"--site=90,180,10000", "--azel=0,90", start}, nullptr},
      {{"--site=0,0,-1000", "--azel=359.99,0", start}, nullptr},
      {{"--site=90.1,5", "--radec=1,2", start}, "option --site must be LAT,LON"},
      {{"--site=-90.1,5", "--radec=1,2", start}, "option --site must be"},
      {{"--site=10,180.1", "--radec=1,2", start}, "option --site must be"},
      {{"--site=10,-180.1", "--radec=1,2", start}, "option --site must be"},
      {{"--site=10,5,10001", "--radec=1,2", start}, "option --site must be"},
      {{"--site=10,5,-1001", "--radec=1,2", start}, "option --site must be"},
      {{"--site=10,5,1,2", "--radec=1,2", start}, "option --site must be"},
      {{"--site=10,5", "--radec=360,2", start}, "option --radec must be RA_DEG,DEC_DEG"},
      {{"--site=10,5", "--radec=-0.1,2", start}, "option --radec must be"},
      {{"--site=10,5", "--radec=1,90.5", start}, "option --radec must be"},
      {{"--site=10,5", "--radec=1", start}, "option --radec must be"},
      {{"--site=10,5", "--galactic=1,-91", start}, "option --galactic must be L_DEG,B_DEG"},
      {{"--site=10,5", "--galactic=360,0", start}, "option --galactic must be"},
      {{"--site=10,5", "--azel=10,-1", start}, "option --azel must be AZ_DEG,EL_DEG"},
      {{"--site=10,5", "--azel=360,10", start}, "option --azel must be"},
      {{"--site=10,5", "--azel=10,90.1", start}, "option --azel must be"},
  };
  for (const OptionCase& c : cases) {
    const test::RunResult r = test::run_tool(run_iqvelocity, c.args);
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    if (c.refusal) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find(c.refusal), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.out.find("barycentric_kms="), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace iq
