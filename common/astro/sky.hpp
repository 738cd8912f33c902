// SPDX-License-Identifier: MIT
// The observer, the pointing and the instant of an observation, and the radial-velocity
// corrections between the topocentric, barycentric and kinematic-LSR frames, computed with ERFA.
#pragma once

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace iq {

// The rest frequency of the hydrogen line (21 cm), MHz.
inline constexpr double kHydrogenRestMhz = 1420.405751768;
// The speed of light in km/s.
inline constexpr double kLightKmPerS = 299792.458;

// A place on the Earth (WGS84): degrees north, degrees east, metres above the ellipsoid.
struct Site {
  double latitude_deg = 0.0;
  double longitude_deg = 0.0;
  double height_m = 0.0;
};

// A direction in the ICRS, in degrees: right ascension from 0 to 360, declination -90 to 90.
struct Equatorial {
  double ra_deg = 0.0;
  double dec_deg = 0.0;
};

// An instant in UTC as ERFA's two-part quasi Julian date (whole day and fraction apart).
struct UtcInstant {
  double jd1 = 0.0;
  double jd2 = 0.0;
};

// The instant `seconds` after `time` (a leap second on the way is not counted).
inline UtcInstant later_by(const UtcInstant& time, double seconds) {
  return {time.jd1, time.jd2 + seconds / 86400.0};
}

// The modified Julian date of an instant, MJD = JD - 2400000.5, its whole days kept exact.
inline double modified_julian_date(double jd1, double jd2) { return (jd1 - 2400000.5) + jd2; }

// The UTC instant of a modified Julian date in UTC.
inline UtcInstant utc_of_mjd(double mjd) {
  const double day = std::floor(mjd);
  return {2400000.5 + day, mjd - day};
}

// The years the Earth's ephemeris covers (ERFA's epv00: 1900 to 2100).
inline constexpr int kFirstYear = 1900;
inline constexpr int kLastYear = 2100;

// An ISO 8601 UTC date and time, "YYYY-MM-DDTHH:MM[:SS[.fff]][Z]" (a blank may stand for the
// T), in the years kFirstYear .. kLastYear; nothing for any other text or an impossible date.
std::optional<UtcInstant> parse_utc(std::string_view text);

// "YYYY-MM-DDTHH:MM:SS.fffZ", the instant to the millisecond.
std::string utc_text(const UtcInstant& time);

// Terrestrial and barycentric dynamical time of a UTC instant, two-part Julian dates.
struct DynamicalTimes {
  double tt1 = 0.0;
  double tt2 = 0.0;
  double tdb1 = 0.0;
  double tdb2 = 0.0;
};
DynamicalTimes dynamical_times(const UtcInstant& time, const Site& site);

// The ICRS direction of galactic longitude and latitude (degrees).
Equatorial galactic_to_icrs(double l_deg, double b_deg);

// The ICRS direction of azimuth (from north through east) and elevation (degrees) seen from
// `site` at `time`, without refraction, with UT1 taken as UTC and polar motion as zero.
Equatorial horizontal_to_icrs(double az_deg, double el_deg, const Site& site, const UtcInstant& time);

using Vector3 = std::array<double, 3>;

// The unit vector of an ICRS direction.
Vector3 unit_vector(const Equatorial& direction);

// The observer's position (m) and velocity (km/s) relative to the solar-system barycentre, on
// ICRS axes: the Earth's (epv00) plus the site's on the turning Earth (pvtob, polar motion 0,
// UT1 = UTC).
struct ObserverState {
  Vector3 position_m{};
  Vector3 velocity_kms{};
};
ObserverState observer_barycentric_state(const Site& site, const UtcInstant& time);

// The observer's velocity relative to the solar-system barycentre, km/s on ICRS axes: the
// Earth's (epv00) plus the site's turning with the Earth (pvtob, polar motion 0, UT1 = UTC).
Vector3 observer_barycentric_velocity(const Site& site, const UtcInstant& time);

// The Sun's velocity relative to the kinematic LSR, km/s on ICRS axes: 20 km/s toward
// RA 18h, Dec +30 deg of the equator and equinox B1900, precessed to J2000.
Vector3 lsrk_solar_motion();

// The corrections, km/s, that added to a topocentric radial velocity give the barycentric and
// the LSRK one, and the observer's barycentric velocity along the line of sight over c.
struct VelocityCorrections {
  double barycentric_kms = 0.0;
  double lsrk_kms = 0.0;
  double v_over_c = 0.0;
};
VelocityCorrections velocity_corrections(const Site& site, const Equatorial& pointing, const UtcInstant& time);

// A pulsar's timing seen from `site` at `time` and referred to the solar-system barycentre,
// the source in direction `source`: the observer's barycentric velocity toward it over c
// (a period measured at the site is P (1 + v_over_c) at the barycentre), the Roemer delay
// r . n / c (a pulse reaches the barycentre that many seconds after the site), and the time
// at the site in TDB as an MJD.
struct BarycentricTiming {
  double v_over_c = 0.0;
  double roemer_s = 0.0;
  double tdb_mjd = 0.0;
};
BarycentricTiming barycentric_timing(const Site& site, const Equatorial& source, const UtcInstant& time);

}  // namespace iq
