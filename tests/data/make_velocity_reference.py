#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Writes velocity_reference.txt: radial-velocity corrections computed with astropy (Debian
# python3-astropy) for random sites, pointings and times from 1990 to 2050, the reference the
# C++ tests check against. Not run by the tests: run it once with /usr/bin/python3.
#
# No network: astropy's bundled IERS-B table stands in for downloads, and beyond its end UT1 -
# UTC and polar motion are extrapolated or taken as zero. Either is at most about a second of
# UT1 and an arcsecond of pole, which moves the site's rotation velocity (0.47 km/s at most) by
# under 1e-3 m/s: far below the 0.01 km/s checked.
#
# Each line: kind ("radec", "galactic" or "azel"), site latitude, longitude, height (deg, deg,
# m), the pointing's two angles (deg), the UTC time, then the barycentric and LSRK corrections
# (km/s) and, for azel, the ICRS RA and Dec astropy finds for it.
import random
import warnings

import astropy.units as u
from astropy.coordinates import FK4, ICRS, AltAz, EarthLocation, SkyCoord
from astropy.time import Time
from astropy.utils import iers

iers.conf.auto_download = False
iers.conf.iers_degraded_accuracy = "ignore"
warnings.simplefilter("ignore")

# The Sun's motion relative to the kinematic LSR: 20 km/s toward RA 18h, Dec +30 (B1900).
APEX = FK4(ra=270 * u.deg, dec=30 * u.deg, equinox="B1900").transform_to(ICRS()).cartesian.xyz.value * 20.0


def random_case(r):
    lat = r.uniform(-89.0, 89.0)
    lon = r.uniform(-180.0, 180.0)
    height = r.uniform(-100.0, 5000.0)
    kind = r.choice(["radec", "galactic", "azel"])
    a = r.uniform(0.0, 360.0)
    b = r.uniform(5.0, 89.0) if kind == "azel" else r.uniform(-89.0, 89.0)
    seconds = r.uniform(0.0, (Time("2050-12-31T00:00:00") - Time("1990-01-01T00:00:00")).sec)
    when = Time(Time("1990-01-01T00:00:00", scale="utc").unix + seconds, format="unix", scale="utc")
    when = Time(when.isot, scale="utc")
    return kind, lat, lon, height, a, b, when


def reference_line(kind, lat, lon, height, a, b, when):
    site = EarthLocation.from_geodetic(lon * u.deg, lat * u.deg, height * u.m)
    if kind == "radec":
        target = SkyCoord(ra=a * u.deg, dec=b * u.deg, frame="icrs")
    elif kind == "galactic":
        target = SkyCoord(l=a * u.deg, b=b * u.deg, frame="galactic")
    else:
        frame = AltAz(obstime=when, location=site, pressure=0 * u.hPa)
        target = SkyCoord(az=a * u.deg, alt=b * u.deg, frame=frame).icrs
    icrs = SkyCoord(ra=target.icrs.ra, dec=target.icrs.dec, frame="icrs")
    bary = icrs.radial_velocity_correction("barycentric", obstime=when, location=site).to(u.km / u.s).value
    n = icrs.cartesian.xyz.value
    lsrk = bary + float(sum(APEX * n))
    line = f"{kind} {lat:.6f} {lon:.6f} {height:.2f} {a:.6f} {b:.6f} {when.isot} {bary:.6f} {lsrk:.6f}"
    if kind == "azel":
        line += f" {icrs.ra.deg:.7f} {icrs.dec.deg:.7f}"
    return line


def main():
    r = random.Random(20261207)
    lines = [reference_line(*random_case(r)) for _ in range(40)]
    with open("velocity_reference.txt", "w") as out:
        out.write("# kind lat_deg lon_deg height_m angle1_deg angle2_deg utc bary_kms lsrk_kms [ra_deg dec_deg]\n")
        out.write("# made by make_velocity_reference.py with astropy; see there\n")
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
