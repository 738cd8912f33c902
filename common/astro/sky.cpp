// SPDX-License-Identifier: MIT
// The sky's side of an observation through ERFA: time scales, coordinate conversions, the
// observer's barycentric velocity and the kinematic LSR.
//
// Approximations, each far below the 0.01 km/s the corrections are good for: UT1 is taken as
// UTC (|UT1 - UTC| < 0.9 s turns the site's velocity, at most 0.47 km/s, by under 3e-5 rad:
// < 0.02 m/s) and polar motion as zero (< 1e-6 rad: < 1 mm/s); the corrections are the
// classical projection v . n, which leaves out the observer's time dilation and the Sun's
// gravitational redshift (together a few m/s, nearly constant).
#include "astro/sky.hpp"

#include <erfa.h>
#include <erfam.h>

#include <charconv>
#include <cmath>

#include "io/text_format.hpp"

namespace iq {

namespace {

// Reads a whole number of exactly `digits` digits at `at`, moving past it.
bool read_digits(std::string_view text, std::size_t& at, std::size_t digits, int& value) {
  if (text.size() < at + digits) return false;
  const char* first = text.data() + at;
  for (std::size_t k = 0; k < digits; ++k) {
    if (first[k] < '0' || first[k] > '9') return false;
  }
  std::from_chars(first, first + digits, value);
  at += digits;
  return true;
}

bool read_char(std::string_view text, std::size_t& at, std::string_view allowed) {
  if (at >= text.size() || allowed.find(text[at]) == std::string_view::npos) return false;
  ++at;
  return true;
}

// Seconds "SS" or "SS.fff" at `at`.
bool read_seconds(std::string_view text, std::size_t& at, double& seconds) {
  int whole = 0;
  if (!read_digits(text, at, 2, whole)) return false;
  seconds = whole;
  if (!read_char(text, at, ".")) return true;
  double scale = 0.1;
  const std::size_t first = at;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10.0) {
    seconds += (text[at] - '0') * scale;
  }
  return at > first;
}

Vector3 to_vector(const double p[3]) { return {p[0], p[1], p[2]}; }

double dot(const Vector3& a, const Vector3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Equatorial from_radians(double ra, double dec) { return {eraAnp(ra) * ERFA_DR2D, dec * ERFA_DR2D}; }

}  // namespace

std::optional<UtcInstant> parse_utc(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double seconds = 0.0;
  std::size_t at = 0;
  const bool date = read_digits(text, at, 4, year) && read_char(text, at, "-") &&
                    read_digits(text, at, 2, month) && read_char(text, at, "-") && read_digits(text, at, 2, day);
  const bool time = date && read_char(text, at, "T ") && read_digits(text, at, 2, hour) &&
                    read_char(text, at, ":") && read_digits(text, at, 2, minute);
  if (!time) return std::nullopt;
  if (read_char(text, at, ":") && !read_seconds(text, at, seconds)) return std::nullopt;
  read_char(text, at, "Z");
  if (at != text.size() || year < kFirstYear || year > kLastYear) return std::nullopt;
  UtcInstant instant;
  // 0: a valid date; 1: a valid date beyond the leap seconds known (taken as none since).
  const int status = eraDtf2d("UTC", year, month, day, hour, minute, seconds, &instant.jd1, &instant.jd2);
  if (status != 0 && status != 1) return std::nullopt;
  return instant;
}

std::string utc_text(const UtcInstant& time) {
  int year = 0, month = 0, day = 0, hmsf[4] = {0, 0, 0, 0};
  eraD2dtf("UTC", 3, time.jd1, time.jd2, &year, &month, &day, hmsf);
  return cformat("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, hmsf[0], hmsf[1], hmsf[2], hmsf[3]);
}

DynamicalTimes dynamical_times(const UtcInstant& time, const Site& site) {
  double tai1 = 0.0, tai2 = 0.0;
  DynamicalTimes t;
  eraUtctai(time.jd1, time.jd2, &tai1, &tai2);
  eraTaitt(tai1, tai2, &t.tt1, &t.tt2);
  // TDB - TT depends a little on where the clock stands: its distances from the Earth's axis
  // and equatorial plane, km.
  double xyz[3];
  eraGd2gc(ERFA_WGS84, site.longitude_deg * ERFA_DD2R, site.latitude_deg * ERFA_DD2R, site.height_m, xyz);
  const double day_fraction = std::fmod(time.jd1 - 0.5 + time.jd2, 1.0);
  const double tdb_minus_tt =
      eraDtdb(t.tt1, t.tt2, day_fraction < 0.0 ? day_fraction + 1.0 : day_fraction, site.longitude_deg * ERFA_DD2R,
              std::hypot(xyz[0], xyz[1]) / 1000.0, xyz[2] / 1000.0);
  t.tdb1 = t.tt1;
  t.tdb2 = t.tt2 + tdb_minus_tt / ERFA_DAYSEC;
  return t;
}

Equatorial galactic_to_icrs(double l_deg, double b_deg) {
  double ra = 0.0, dec = 0.0;
  eraG2icrs(l_deg * ERFA_DD2R, b_deg * ERFA_DD2R, &ra, &dec);
  return from_radians(ra, dec);
}

Equatorial horizontal_to_icrs(double az_deg, double el_deg, const Site& site, const UtcInstant& time) {
  double ra = 0.0, dec = 0.0;
  // Pressure 0 turns refraction off (temperature, humidity and wavelength then do not matter).
  eraAtoc13("A", az_deg * ERFA_DD2R, (90.0 - el_deg) * ERFA_DD2R, time.jd1, time.jd2, 0.0,
            site.longitude_deg * ERFA_DD2R, site.latitude_deg * ERFA_DD2R, site.height_m, 0.0, 0.0, 0.0, 0.0, 0.0,
            0.0, &ra, &dec);
  return from_radians(ra, dec);
}

Vector3 unit_vector(const Equatorial& direction) {
  double p[3];
  eraS2c(direction.ra_deg * ERFA_DD2R, direction.dec_deg * ERFA_DD2R, p);
  return to_vector(p);
}

ObserverState observer_barycentric_state(const Site& site, const UtcInstant& time) {
  const DynamicalTimes t = dynamical_times(time, site);
  double heliocentric[2][3], barycentric[2][3];
  eraEpv00(t.tdb1, t.tdb2, heliocentric, barycentric);
  // The site on the turning Earth (m and m/s, intermediate frame), turned to the GCRS by the
  // inverse of the celestial-to-intermediate matrix.
  double site_pv[2][3], c2i[3][3], site_gcrs[2][3];
  eraPvtob(site.longitude_deg * ERFA_DD2R, site.latitude_deg * ERFA_DD2R, site.height_m, 0.0, 0.0, 0.0,
           eraEra00(time.jd1, time.jd2), site_pv);
  eraC2i06a(t.tt1, t.tt2, c2i);
  eraTrxpv(c2i, site_pv, site_gcrs);
  constexpr double kAuPerDayInKms = ERFA_DAU / ERFA_DAYSEC / 1000.0;
  ObserverState state;
  for (int k = 0; k < 3; ++k) {
    state.position_m[k] = barycentric[0][k] * ERFA_DAU + site_gcrs[0][k];
    state.velocity_kms[k] = barycentric[1][k] * kAuPerDayInKms + site_gcrs[1][k] / 1000.0;
  }
  return state;
}

Vector3 observer_barycentric_velocity(const Site& site, const UtcInstant& time) {
  return observer_barycentric_state(site, time).velocity_kms;
}

Vector3 lsrk_solar_motion() {
  // The apex on the mean equator and equinox of B1900, carried to J2000 by the transpose of
  // the IAU 1976 precession from J2000 to B1900 (the ICRS differs from J2000 by milliarcseconds).
  constexpr double kSpeedKms = 20.0;
  double b1900_jd0 = 0.0, b1900_jd1 = 0.0, precession[3][3], apex[3], apex_j2000[3];
  eraEpb2jd(1900.0, &b1900_jd0, &b1900_jd1);
  eraPmat76(b1900_jd0, b1900_jd1, precession);
  eraS2c(270.0 * ERFA_DD2R, 30.0 * ERFA_DD2R, apex);
  eraTrxp(precession, apex, apex_j2000);
  return {apex_j2000[0] * kSpeedKms, apex_j2000[1] * kSpeedKms, apex_j2000[2] * kSpeedKms};
}

VelocityCorrections velocity_corrections(const Site& site, const Equatorial& pointing, const UtcInstant& time) {
  const Vector3 n = unit_vector(pointing);
  VelocityCorrections c;
  c.barycentric_kms = dot(observer_barycentric_velocity(site, time), n);
  c.lsrk_kms = c.barycentric_kms + dot(lsrk_solar_motion(), n);
  c.v_over_c = c.barycentric_kms * 1000.0 / ERFA_CMPS;
  return c;
}

BarycentricTiming barycentric_timing(const Site& site, const Equatorial& source, const UtcInstant& time) {
  const Vector3 n = unit_vector(source);
  const ObserverState state = observer_barycentric_state(site, time);
  const DynamicalTimes t = dynamical_times(time, site);
  BarycentricTiming timing;
  timing.v_over_c = dot(state.velocity_kms, n) * 1000.0 / ERFA_CMPS;
  timing.roemer_s = dot(state.position_m, n) / ERFA_CMPS;
  timing.tdb_mjd = modified_julian_date(t.tdb1, t.tdb2);
  return timing;
}

}  // namespace iq
