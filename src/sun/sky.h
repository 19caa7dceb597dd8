#pragma once
// The sun and the moon seen from a place, from the astronomy library. The library gives
// the sun's position for the mean equinox of J2000; it is brought to the true equinox of
// date (precession, nutation, aberration) before it becomes an elevation, or sunrise in
// the 2020s would come out minutes wrong at mid and high latitudes.

#include <optional>

namespace quelvan::sun {

// Julian day of a Unix time (seconds since 1970, UTC).
double JulianDay(double unixSeconds);
double UnixSeconds(double julianDay);

struct EquatorialPosition {
    double rightAscension = 0;  // degrees
    double declination = 0;     // degrees
};

// The sun's apparent position for the true equinox of the given instant.
EquatorialPosition ApparentSun(double julianDay);
// Elevation in degrees above the horizon, without refraction, of a position at an instant.
double Elevation(const EquatorialPosition& position, double latitude, double longitude, double julianDay);

// The sun over one span of time (up to a few days), cheaply: its position sampled at the
// start, the middle and the end and interpolated between (it moves about a degree a day,
// smoothly), the sidereal time advancing at its constant rate.
class SunTrack {
public:
    SunTrack(double latitude, double longitude, double startJd, double endJd);
    double ElevationAt(double julianDay) const;
    // Where the elevation crosses `horizon` (rising: from below) in [from, to], to a tenth
    // of a second; nullopt when it does not.
    std::optional<double> Crossing(double horizon, bool rising, double from, double to) const;
    // The instant of the highest elevation within [from, to].
    double Culmination(double from, double to) const;

private:
    EquatorialPosition At(double julianDay) const;
    double latitude_, longitude_;
    double start_, span_;
    EquatorialPosition samples_[3];
    double sidereal0_;  // apparent sidereal time at start, hours
};

// The moon: its transit over the meridian within [from, to] (nullopt if none), and its
// illuminated fraction and whether it is waxing at an instant.
std::optional<double> MoonTransit(double latitude, double longitude, double from, double to);
double MoonIllumination(double julianDay);
bool MoonWaxing(double julianDay);

}  // namespace quelvan::sun
