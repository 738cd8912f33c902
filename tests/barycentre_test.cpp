// SPDX-License-Identifier: MIT
// The barycentric timing of a pulsar against values astropy computed for random sites, sources
// and times from 1990 to 2050: the observer's velocity toward the source to 1e-9 of c, the
// Roemer delay to a microsecond and TDB to two; the period and epoch a search reports; and a
// pulse iqsim puts in at a barycentric period, found by cyclesearch at the period the site receives.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "astro/sky.hpp"
#include "barycentre_report.hpp"
#include "cyclesearch.hpp"
#include "iqsim.hpp"
#include "io/text_format.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(Barycentre, TimingAgreesWithAstropyEverywhere) {
  std::ifstream file(IQTOOLS_TEST_DATA "/barycentre_reference.txt");
  int cases = 0;
  double worst_v = 0.0, worst_roemer = 0.0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Site site;
    Equatorial source;
    std::string utc;
    double v_over_c = 0.0, roemer_s = 0.0, tdb_mjd = 0.0;
    fields >> site.latitude_deg >> site.longitude_deg >> site.height_m >> source.ra_deg >> source.dec_deg >> utc >>
        v_over_c >> roemer_s >> tdb_mjd;
    SCOPED_TRACE(line);
    const auto time = parse_utc(utc);
    ASSERT_TRUE(time);
    const BarycentricTiming timing = barycentric_timing(site, source, *time);
    EXPECT_NEAR(timing.v_over_c, v_over_c, 1e-9);
    EXPECT_NEAR(timing.roemer_s, roemer_s, 1e-6);
    EXPECT_NEAR(timing.tdb_mjd, tdb_mjd, 2e-6 / 86400.0);
    worst_v = std::max(worst_v, std::abs(timing.v_over_c - v_over_c));
    worst_roemer = std::max(worst_roemer, std::abs(timing.roemer_s - roemer_s));
    ++cases;
  }
  EXPECT_EQ(cases, 40);
  RecordProperty("worst_v_over_c", cformat("%.3g", worst_v));
  RecordProperty("worst_roemer_s", cformat("%.3g", worst_roemer));
}

// Pulses that leave the source every P reach the barycentre every P and the site at t, where
// t + roemer(t) is their time at the barycentre: the period there is the site's times the rate
// of t + roemer(t), taken here from the delay itself over the data's span.
TEST(Barycentre, PeriodAndEpochFollowTheDelayAtTheBarycentre) {
  const struct {
    Site site;
    Equatorial source;
    const char* start;
    double seconds;
  } cases[] = {
      {{52.2, 0.09, 20.0}, {53.2475, 54.5788}, "2026-12-07T01:00:00Z", 600.0},
      {{-33.0, 148.3, 400.0}, {128.8, -45.2}, "2031-06-20T13:30:00Z", 1200.0},
      {{19.8, -155.5, 4200.0}, {283.9, 1.0}, "1995-03-01T22:00:00Z", 60.0},
  };
  for (const auto& c : cases) {
    const BarycentreRequest request{c.site, c.source, *parse_utc(c.start)};
    const double period_ms = 714.5;
    const BarycentricResult result = barycentric_result(request, period_ms, c.seconds);
    const auto delay = [&](double s) {
      const UtcInstant t{request.start.jd1, request.start.jd2 + s / 86400.0};
      return barycentric_timing(c.site, c.source, t).roemer_s;
    };
    // The rate at the middle, from the delay 10 s either side of it.
    const double rate = 1.0 + (delay(c.seconds / 2.0 + 10.0) - delay(c.seconds / 2.0 - 10.0)) / 20.0;
    EXPECT_NEAR(result.period_ms / period_ms, rate, 1e-10) << c.start;
    const BarycentricTiming first = barycentric_timing(c.site, c.source, request.start);
    EXPECT_NEAR(result.epoch_tdb_mjd, first.tdb_mjd + first.roemer_s / 86400.0, 1e-12) << c.start;
    EXPECT_NEAR(result.start_utc_mjd, request.start.jd1 + request.start.jd2 - 2400000.5, 1e-9) << c.start;
  }
}

// 10 s of a 1 ms pulse at 0.24 MHz searched in 20 bins: trials 2.5e-6 ms apart, a resolution of
// 5e-6 ms, far below the shift by v/c (1e-4) toward and away from the Earth's motion; the
// topocentric frame puts the period in unshifted.
TEST(Barycentre, APulsePutInAtTheBarycentreIsReceivedAtItsPeriodThere) {
  const struct {
    const char* frame;
    const char* radec;
    Equatorial source;
  } cases[] = {
      {"bary", "166,6", {166.0, 6.0}},
      {"bary", "346,-6", {346.0, -6.0}},
      {"topo", "166,6", {166.0, 6.0}},
  };
  const Site site{52.2, 0.09, 20.0};
  const char* start = "2026-12-07T01:00:00Z";
  const double seconds = 10.0, resolution_ms = 5e-6;
  test::ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.frame) + " " + c.radec);
    const auto sim = test::run_tool(run_iqsim, {dir.path("p.bin"),
                                                "--force",
                                                "-r",
                                                "0.24",
                                                "-t",
                                                "10",
                                                "-s",
                                                "5",
                                                "--pulse-period",
                                                "1",
                                                "--pulse-duty",
                                                "0.1",
                                                "--pulse-strength",
                                                "2",
                                                "--pulse-frame",
                                                c.frame,
                                                "--site",
                                                "52.2,0.09,20",
                                                "--start",
                                                start,
                                                "--radec",
                                                c.radec});
    ASSERT_EQ(sim.status, 0) << sim.err;
    const auto search = test::run_tool(run_cyclesearch, {dir.path("p.bin"), dir.path("t.txt"), "0.24", "20", "1",
                                                         "0.0003", "241", "--radec", c.radec});
    ASSERT_EQ(search.status, 0) << search.err;
    const auto figure = [&](const std::string& key) {
      const auto at = search.out.find(key);
      EXPECT_NE(at, std::string::npos) << key;
      return std::strtod(search.out.c_str() + at + key.size(), nullptr);
    };
    const UtcInstant middle = later_by(*parse_utc(start), seconds / 2.0);
    const double v_over_c = barycentric_timing(site, c.source, middle).v_over_c;
    const double shift = std::string(c.frame) == "bary" ? v_over_c : 0.0;
    EXPECT_GT(std::abs(v_over_c), 4.0 * resolution_ms);
    EXPECT_NEAR(figure("Best period="), 1.0 / (1.0 + shift), resolution_ms);
    EXPECT_NEAR(figure("Barycentric period="), (1.0 + v_over_c) / (1.0 + shift), 1.5 * resolution_ms);
  }
}

}  // namespace
}  // namespace iq
