#!/usr/bin/env python3
"""Elevation and azimuth of GPS satellites computed the textbook way, for the
orbit tests' expected values: the orbit is propagated in an inertial frame and
turned to the Earth-fixed frame by Greenwich mean sidereal time (IAU 1982
formula, UT1 taken as UTC), never through the receiver model's own equations.

    python3 sky_reference.py
prints the values the tests compare against.
"""
import math
from datetime import datetime, timezone

MU = 3.986005e14
WGS_A = 6378137.0
WGS_E2 = 6.69437999014e-3


def unix(*args):
    return datetime(*args, tzinfo=timezone.utc).timestamp()


def gmst_radians(utc):
    # Days since J2000.0 (2000-01-01 12:00 UT).
    d = (utc - unix(2000, 1, 1, 12)) / 86400.0
    t = d / 36525.0
    degrees = 280.46061837 + 360.98564736629 * d + 0.000387933 * t * t - t ** 3 / 38710000.0
    return math.radians(degrees % 360.0)


def kepler(m, e):
    ecc = m
    for _ in range(50):
        ecc = m + e * math.sin(ecc)
    return ecc


def inertial(a, e, incl, raan, perigee, mean_anomaly):
    ecc = kepler(mean_anomaly, e)
    nu = math.atan2(math.sqrt(1 - e * e) * math.sin(ecc), math.cos(ecc) - e)
    r = a * (1 - e * math.cos(ecc))
    u = nu + perigee
    return (r * (math.cos(u) * math.cos(raan) - math.sin(u) * math.cos(incl) * math.sin(raan)),
            r * (math.cos(u) * math.sin(raan) + math.sin(u) * math.cos(incl) * math.cos(raan)),
            r * math.sin(u) * math.sin(incl))


def earth_fixed(eci, utc):
    g = gmst_radians(utc)
    x, y, z = eci
    return (x * math.cos(g) + y * math.sin(g), -x * math.sin(g) + y * math.cos(g), z)


def look(lat, lon, h, sat):
    la, lo = math.radians(lat), math.radians(lon)
    n = WGS_A / math.sqrt(1 - WGS_E2 * math.sin(la) ** 2)
    obs = ((n + h) * math.cos(la) * math.cos(lo), (n + h) * math.cos(la) * math.sin(lo),
           (n * (1 - WGS_E2) + h) * math.sin(la))
    d = [s - o for s, o in zip(sat, obs)]
    e = -math.sin(lo) * d[0] + math.cos(lo) * d[1]
    nn = -math.sin(la) * math.cos(lo) * d[0] - math.sin(la) * math.sin(lo) * d[1] + math.cos(la) * d[2]
    u = math.cos(la) * math.cos(lo) * d[0] + math.cos(la) * math.sin(lo) * d[1] + math.sin(la) * d[2]
    return math.degrees(math.atan2(u, math.hypot(e, nn))), math.degrees(math.atan2(e, nn)) % 360


def baseline(raan_deg, arg_lat_deg, utc):
    """A slot of the 24-slot constellation; its elements hold at 1993-07-01 00:00 UTC."""
    epoch = unix(1993, 7, 1)
    # Nine leap seconds passed between the epoch and 2017; the orbit runs on atomic time.
    elapsed = utc - epoch + (18 - 9)
    a = 26559.7e3
    n = math.sqrt(MU / a ** 3)
    raan = math.radians(raan_deg) + math.radians(-4.4874e-7) * elapsed
    return earth_fixed(inertial(a, 0.0, math.radians(55), raan, 0.0,
                                math.radians(arg_lat_deg) + n * elapsed), utc)


def yuma(sqrt_a, e, incl, rate, node_at_week, perigee, m0, toa, week, utc):
    gps_epoch = unix(1980, 1, 6)
    leaps = 18
    week_start_utc = gps_epoch + week * 604800 - leaps
    t_week = utc + leaps - (gps_epoch + week * 604800)
    tk = t_week - toa
    a = sqrt_a ** 2
    n = math.sqrt(MU / a ** 3)
    # The node's longitude at the week's start is its right ascension less
    # Greenwich's sidereal angle then.
    raan = node_at_week + gmst_radians(week_start_utc) + rate * tk
    return earth_fixed(inertial(a, e, incl, raan, perigee, m0 + n * tk), week_start_utc + t_week)


if __name__ == "__main__":
    munich = (48.1173, 11.5167, 545.4 + 47.6)
    at = unix(2024, 6, 1, 12, 0, 0)
    for name, raan, u in (("D2 (PRN 1)", 92.847, 265.446), ("B3 (PRN 28)", 332.847, 309.976),
                          ("C4 (PRN 17)", 32.847, 241.556), ("C2 (PRN 3)", 32.847, 11.796)):
        print("baseline", name, "%.3f %.3f" % look(*munich, baseline(raan, u, at)))
    sydney = (-33.8688, 151.2093, 30.0)
    at = unix(2024, 6, 5, 3, 30, 0)
    print("yuma PRN 7 at Sydney", "%.3f %.3f" % look(*sydney, yuma(
        5153.6, 0.0125, 0.9651, -7.9e-9, -1.2345, 0.6, 5.0, 405504.0, 2317, at)))
