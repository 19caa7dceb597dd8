#include "sun/sky.h"

#include <libnova/libnova.h>

#include <cmath>

namespace quelvan::sun {

namespace {

constexpr double kUnixEpochJd = 2440587.5;
constexpr double kJ2000 = 2451545.0;
// Sidereal hours per solar day.
constexpr double kSiderealRate = 24.0 * 1.00273790935;

double Wrap360(double degrees) {
    degrees = std::fmod(degrees, 360.0);
    return degrees < 0 ? degrees + 360.0 : degrees;
}

}  // namespace

double JulianDay(double unixSeconds) {
    return kUnixEpochJd + unixSeconds / 86400.0;
}
double UnixSeconds(double julianDay) {
    return (julianDay - kUnixEpochJd) * 86400.0;
}

EquatorialPosition ApparentSun(double julianDay) {
    // The geometric position (ecliptic of J2000), as equatorial coordinates of J2000 ...
    ln_helio_posn geometric{};
    ln_get_solar_geom_coords(julianDay, &geometric);
    ln_lnlat_posn ecliptic{geometric.L, geometric.B};
    ln_equ_posn mean{};
    ln_get_equ_from_ecl(&ecliptic, kJ2000, &mean);
    // ... then, as for a star without proper motion: aberration, precession and nutation
    // to the true equator and equinox of date.
    ln_equ_posn noMotion{0, 0}, apparent{};
    ln_get_apparent_posn(&mean, &noMotion, julianDay, &apparent);
    return {apparent.ra, apparent.dec};
}

double Elevation(const EquatorialPosition& position, double latitude, double longitude, double julianDay) {
    ln_equ_posn object{position.rightAscension, position.declination};
    ln_lnlat_posn observer{longitude, latitude};
    ln_hrz_posn horizontal{};
    ln_get_hrz_from_equ(&object, &observer, julianDay, &horizontal);
    return horizontal.alt;
}

SunTrack::SunTrack(double latitude, double longitude, double startJd, double endJd)
    : latitude_(latitude), longitude_(longitude), start_(startJd), span_(endJd - startJd) {
    for (int i = 0; i < 3; ++i) samples_[i] = ApparentSun(startJd + span_ * i / 2.0);
    // Unwrapped, so that interpolation never runs the long way round.
    for (int i = 1; i < 3; ++i) {
        double& ra = samples_[i].rightAscension;
        while (ra - samples_[i - 1].rightAscension > 180) ra -= 360;
        while (ra - samples_[i - 1].rightAscension < -180) ra += 360;
    }
    sidereal0_ = ln_get_apparent_sidereal_time(startJd);
}

EquatorialPosition SunTrack::At(double julianDay) const {
    // Quadratic through the three samples, in u = 0, 1, 2.
    const double u = span_ > 0 ? 2.0 * (julianDay - start_) / span_ : 0.0;
    auto q = [u](double a, double b, double c) {
        return a * (u - 1) * (u - 2) / 2.0 - b * u * (u - 2) + c * u * (u - 1) / 2.0;
    };
    return {Wrap360(q(samples_[0].rightAscension, samples_[1].rightAscension, samples_[2].rightAscension)),
            q(samples_[0].declination, samples_[1].declination, samples_[2].declination)};
}

double SunTrack::ElevationAt(double julianDay) const {
    const EquatorialPosition p = At(julianDay);
    ln_equ_posn object{p.rightAscension, p.declination};
    ln_lnlat_posn observer{longitude_, latitude_};
    ln_hrz_posn horizontal{};
    const double sidereal = std::fmod(sidereal0_ + (julianDay - start_) * kSiderealRate, 24.0);
    ln_get_hrz_from_equ_sidereal_time(&object, &observer, sidereal, &horizontal);
    return horizontal.alt;
}

std::optional<double> SunTrack::Crossing(double horizon, bool rising, double from, double to) const {
    // Steps of ten minutes find the bracket (the sun crosses no elevation twice as fast).
    const double step = 10.0 / 1440.0;
    double a = from;
    double ha = ElevationAt(a) - horizon;
    while (a < to) {
        const double b = std::min(a + step, to);
        const double hb = ElevationAt(b) - horizon;
        if ((rising && ha < 0 && hb >= 0) || (!rising && ha >= 0 && hb < 0)) {
            double lo = a, hi = b;
            while (hi - lo > 0.1 / 86400.0) {
                const double mid = (lo + hi) / 2;
                const bool below = ElevationAt(mid) - horizon < 0;
                ((below == rising) ? lo : hi) = mid;
            }
            return (lo + hi) / 2;
        }
        a = b;
        ha = hb;
    }
    return std::nullopt;
}

double SunTrack::Culmination(double from, double to) const {
    const double step = 10.0 / 1440.0;
    double best = from, bestH = ElevationAt(from);
    for (double t = from + step; t <= to; t += step) {
        const double h = ElevationAt(t);
        if (h > bestH) best = t, bestH = h;
    }
    // Golden-section search around the best sample.
    double lo = std::max(from, best - step), hi = std::min(to, best + step);
    const double g = (std::sqrt(5.0) - 1) / 2;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double f1 = ElevationAt(x1), f2 = ElevationAt(x2);
    while (hi - lo > 0.5 / 86400.0) {
        if (f1 < f2) {
            lo = x1, x1 = x2, f1 = f2, x2 = lo + g * (hi - lo), f2 = ElevationAt(x2);
        } else {
            hi = x2, x2 = x1, f2 = f1, x1 = hi - g * (hi - lo), f1 = ElevationAt(x1);
        }
    }
    return (lo + hi) / 2;
}

std::optional<double> MoonTransit(double latitude, double longitude, double from, double to) {
    ln_lnlat_posn observer{longitude, latitude};
    // The library finds the transit of the day that contains its start: the span's first
    // day, its next, and for a transit early in the span the day before.
    for (double day : {from, to, from - 1}) {
        ln_rst_time rst{};
        ln_get_lunar_rst(day, &observer, &rst);
        if (rst.transit >= from && rst.transit < to) return rst.transit;
    }
    return std::nullopt;
}

double MoonIllumination(double julianDay) {
    return ln_get_lunar_disk(julianDay);
}

bool MoonWaxing(double julianDay) {
    return ln_get_lunar_disk(julianDay + 0.25) > ln_get_lunar_disk(julianDay - 0.25);
}

}  // namespace quelvan::sun
