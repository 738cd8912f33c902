#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Writes barycentre_reference.txt: the observer's barycentric velocity along the direction of a
# source over c, the Roemer delay and the TDB of random sites, sources and times from 1990 to
# 2050, computed with astropy (Debian python3-astropy), the reference the C++ tests check
# against. Not run by the tests: run it once with /usr/bin/python3.
#
# No network: astropy's bundled IERS-B table stands in for downloads, and beyond its end UT1 -
# UTC and polar motion are extrapolated or taken as zero. A second of UT1 turns the site's
# rotation velocity (0.47 km/s at most) by 7e-5 rad: 0.03 m/s, 1e-10 of c, below the 1e-9
# checked.
#
# Each line: site latitude, longitude (deg), height (m), source RA and Dec (deg, ICRS), the UTC
# time, then v/c (the observer's barycentric velocity along the source direction), the Roemer
# delay r.n/c (s) and the TDB at the site as an MJD.
import random
import warnings

import astropy.units as u
from astropy.constants import c
from astropy.coordinates import EarthLocation, SkyCoord, get_body_barycentric_posvel
from astropy.time import Time
from astropy.utils import iers

iers.conf.auto_download = False
iers.conf.iers_degraded_accuracy = "ignore"
warnings.simplefilter("ignore")


def random_case(r):
    lat = r.uniform(-89.0, 89.0)
    lon = r.uniform(-180.0, 180.0)
    height = r.uniform(-100.0, 5000.0)
    ra = r.uniform(0.0, 360.0)
    dec = r.uniform(-89.0, 89.0)
    seconds = r.uniform(0.0, (Time("2050-12-31T00:00:00") - Time("1990-01-01T00:00:00")).sec)
    when = Time(Time("1990-01-01T00:00:00", scale="utc").unix + seconds, format="unix", scale="utc")
    # Rounded as written, so that the C++ side reads the very inputs used here (a millionth of a
    # degree moves the Roemer delay by up to 9 microseconds).
    rounded = [float(f"{x:.6f}") for x in (lat, lon, ra, dec)]
    return rounded[0], rounded[1], float(f"{height:.2f}"), rounded[2], rounded[3], Time(when.isot, scale="utc")


def reference_line(lat, lon, height, ra, dec, when):
    site = EarthLocation.from_geodetic(lon * u.deg, lat * u.deg, height * u.m)
    when = Time(when.isot, scale="utc", location=site)
    n = SkyCoord(ra=ra * u.deg, dec=dec * u.deg, frame="icrs").cartesian.xyz.value
    earth_p, earth_v = get_body_barycentric_posvel("earth", when, ephemeris="builtin")
    site_p, site_v = site.get_gcrs_posvel(when)
    position = (earth_p.xyz + site_p.xyz).to(u.m).value
    velocity = (earth_v.xyz + site_v.xyz).to(u.m / u.s).value
    v_over_c = float(sum(velocity * n)) / c.value
    roemer_s = float(sum(position * n)) / c.value
    tdb_mjd = when.tdb.mjd
    return f"{lat:.6f} {lon:.6f} {height:.2f} {ra:.6f} {dec:.6f} {when.isot} {v_over_c:.15e} {roemer_s:.9f} {tdb_mjd:.12f}"


HEADER = """# lat_deg lon_deg height_m ra_deg dec_deg utc v_over_c roemer_s tdb_mjd
# made by make_barycentre_reference.py with astropy; see there
"""

if __name__ == "__main__":
    cases = random.Random(20261208)
    with open("barycentre_reference.txt", "w") as out:
        out.write(HEADER + "".join(reference_line(*random_case(cases)) + "\n" for _ in range(40)))
