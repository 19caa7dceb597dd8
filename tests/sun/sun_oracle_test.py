#!/usr/bin/python3
"""quelvanctl sun show against an independent computation of the sky (PyEphem, used here only
as the oracle): sunrise, sunset, civil twilight and solar noon within a minute, the sun's elevation at a
given time within 0.05 degrees, polar day and night, for both hemispheres, the tropics, recent
dates, days the clock changes, and a place beyond the polar circle in summer and in winter.

Usage: sun_oracle_test.py QUELVANCTL
"""
import datetime
import json
import math
import subprocess
import sys
from zoneinfo import ZoneInfo

import ephem

# place, date, zone of the times (None: the place's own), times at which to check the elevation
CASES = [
    ("Europe/London", "2026-06-21", None, ["05:00", "13:00", "20:30"]),
    ("Europe/London", "2026-12-21", None, ["09:00", "12:00"]),
    ("Australia/Sydney", "2026-01-15", None, ["07:00", "13:00", "19:00"]),
    ("Australia/Sydney", "2026-06-21", None, ["08:00", "12:00"]),
    ("America/Manaus", "2026-03-20", None, ["06:30", "12:00", "17:45"]),
    ("Asia/Singapore", "2026-09-01", None, ["08:00", "13:00"]),
    ("America/Argentina/Buenos_Aires", "2026-11-10", None, ["07:00", "14:00"]),
    ("-33.9249,18.4241", "2026-02-01", "Africa/Johannesburg", ["10:00", "18:00"]),
    ("Atlantic/Reykjavik", "2026-12-21", None, ["12:00", "13:30"]),
    ("America/Anchorage", "2026-06-21", None, ["04:00", "14:00", "23:00"]),
    ("Pacific/Honolulu", "2026-07-04", None, ["09:00"]),
    ("Asia/Tokyo", "2026-04-01", None, ["06:00", "11:40"]),
    ("Europe/Helsinki", "2026-03-29", None, ["08:00", "12:00"]),  # the clock goes forward
    ("Europe/Berlin", "2026-10-25", None, ["07:30", "12:00"]),  # the clock goes back
    ("America/New_York", "2026-03-08", None, ["07:30", "17:00"]),  # forward, in America
    ("Pacific/Auckland", "2026-04-05", None, ["07:00", "12:00"]),  # back, in the south
    ("America/Los_Angeles", "2025-11-02", None, ["10:00"]),
    ("69.6492,18.9553", "2026-03-10", "Europe/Oslo", ["09:00", "12:00"]),  # Tromsø, high north
    ("69.6492,18.9553", "2026-06-21", "Europe/Oslo", ["01:00", "13:00"]),  # polar day
    ("69.6492,18.9553", "2026-12-21", "Europe/Oslo", ["12:00"]),  # polar night
    ("Arctic/Longyearbyen", "2026-06-21", None, ["00:30", "12:00"]),
    ("Arctic/Longyearbyen", "2026-12-21", None, ["12:00"]),
    ("-77.85,166.67", "2026-01-10", "Antarctica/McMurdo", ["03:00"]),  # polar day in the south
]

MINUTE_TOLERANCE = 1.0
ELEVATION_TOLERANCE = 0.05


def show(binary, place, date, zone, at):
    args = [binary, "sun", "show", place, "--date", date, "--json", "--at", at]
    if zone:
        args += ["--tz", zone]
    done = subprocess.run(args, capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        raise AssertionError(f"{args}: exit {done.returncode}: {done.stderr}")
    return json.loads(done.stdout)


def observer(lat, lon):
    o = ephem.Observer()
    o.lat, o.lon = str(lat), str(lon)
    o.elevation = 0
    o.pressure = 0  # no refraction: the horizon below carries the standard one
    return o


def crossing(lat, lon, start, end, horizon, rising):
    """The instant (UTC datetime) the sun's centre crosses `horizon` degrees in [start, end), or None."""
    o = observer(lat, lon)
    o.horizon = str(horizon)
    o.date = ephem.Date(start.replace(tzinfo=None))
    try:
        when = (o.next_rising if rising else o.next_setting)(ephem.Sun(), use_center=True)
    except (ephem.AlwaysUpError, ephem.NeverUpError):
        return None
    when = when.datetime().replace(tzinfo=datetime.timezone.utc)
    return when if when < end else None


def elevation(lat, lon, instant):
    o = observer(lat, lon)
    o.date = ephem.Date(instant.astimezone(datetime.timezone.utc).replace(tzinfo=None))
    sun = ephem.Sun(o)
    return math.degrees(sun.alt)


def local_minutes(instant, zone, day_start):
    """Minutes after local midnight as the clock shows them."""
    local = instant.astimezone(zone)
    return (local.date() - day_start.date()).days * 1440 + local.hour * 60 + local.minute + local.second / 60


def main():
    binary = sys.argv[1]
    failures = []
    worst = {"minutes": 0.0, "elevation": 0.0}
    for place, date, tz, times in CASES:
        first = show(binary, place, date, tz, times[0])
        zone = ZoneInfo(first["zone"])
        lat, lon = first["latitude"], first["longitude"]
        day = datetime.date.fromisoformat(date)
        start = datetime.datetime(day.year, day.month, day.day, tzinfo=zone).astimezone(datetime.timezone.utc)
        nxt = day + datetime.timedelta(days=1)
        end = datetime.datetime(nxt.year, nxt.month, nxt.day, tzinfo=zone).astimezone(datetime.timezone.utc)
        local_start = datetime.datetime(day.year, day.month, day.day, tzinfo=zone)

        expected = {
            "sunrise": crossing(lat, lon, start, end, -0.8333, True),
            "sunset": crossing(lat, lon, start, end, -0.8333, False),
            "civil_dawn": crossing(lat, lon, start, end, -6.0, True),
            "civil_dusk": crossing(lat, lon, start, end, -6.0, False),
        }
        for key, when in expected.items():
            got = first[key]
            if when is None or got is None:
                if (when is None) != (got is None):
                    failures.append(f"{place} {date} {key}: program {got}, oracle {when}")
                continue
            h, m = map(int, got.split(":"))
            diff = abs(h * 60 + m - local_minutes(when, zone, local_start))
            worst["minutes"] = max(worst["minutes"], diff)
            if diff > MINUTE_TOLERANCE:
                failures.append(f"{place} {date} {key}: program {got}, oracle {when.astimezone(zone)} ({diff:.2f} min)")
        for key in ("sunrise", "sunset"):
            when, got = expected[key], first[key + "_utc"]
            if when is None or got is None:
                continue
            program = datetime.datetime.fromisoformat(got.replace("Z", "+00:00"))
            diff = abs((program - when).total_seconds()) / 60
            worst["minutes"] = max(worst["minutes"], diff)
            if diff > MINUTE_TOLERANCE:
                failures.append(f"{place} {date} {key}_utc: program {got}, oracle {when} ({diff:.2f} min)")

        # Solar noon: the sun's transit over the meridian (its highest point within seconds).
        o = observer(lat, lon)
        o.date = ephem.Date(start.replace(tzinfo=None))
        transit = o.next_transit(ephem.Sun()).datetime().replace(tzinfo=datetime.timezone.utc)
        if transit < end:
            h, m = map(int, first["solar_noon"].split(":"))
            diff = abs(h * 60 + m - local_minutes(transit, zone, local_start))
            worst["minutes"] = max(worst["minutes"], diff)
            if diff > MINUTE_TOLERANCE:
                failures.append(f"{place} {date} solar_noon: program {first['solar_noon']}, oracle {transit}")

        rises = expected["sunrise"] is not None or expected["sunset"] is not None
        if not rises:
            up = elevation(lat, lon, start + (end - start) / 2) > 0
            want = "day" if up else "night"
            if first["polar"] != want:
                failures.append(f"{place} {date}: polar {first['polar']}, oracle {want}")
        elif first["polar"] is not None:
            failures.append(f"{place} {date}: polar {first['polar']} on a day the sun rises or sets")

        for at in times:
            got = show(binary, place, date, tz, at) if at != times[0] else first
            h, m = map(int, at.split(":"))
            # On a day the clock changes the time is the clock's, as the program reads it.
            instant = datetime.datetime(day.year, day.month, day.day, h, m, tzinfo=zone)
            want = elevation(lat, lon, instant)
            diff = abs(got["elevation"] - want)
            worst["elevation"] = max(worst["elevation"], diff)
            if diff > ELEVATION_TOLERANCE:
                failures.append(f"{place} {date} {at}: elevation {got['elevation']}, oracle {want:.3f}")

    print(f"{len(CASES)} days compared; worst difference {worst['minutes']:.2f} min, "
          f"elevation {worst['elevation']:.4f} deg")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
