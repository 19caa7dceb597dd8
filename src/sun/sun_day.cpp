#include "sun/sun_day.h"

#include <algorithm>

namespace quelvan::sun {

namespace {

constexpr double kMinutesPerDay = 1440.0;

}  // namespace

SunDay::SunDay(const Place& place, const std::string& zone, const CivilDate& date)
    : place_(place),
      date_(date),
      day_(ZoneClock(zone).LocalDay(date)),
      // A day before and after: a day moved to another noon reaches into its neighbours.
      track_(place.latitude, place.longitude, JulianDay(day_.Instant(-kMinutesPerDay)),
             JulianDay(day_.Instant(2 * kMinutesPerDay))) {
    // Local minute 1440 is the next midnight, whatever the day's real length.
    const double dayEnd = kMinutesPerDay;
    sunrise_ = Cross(kStandardHorizon, true);
    sunset_ = Cross(kStandardHorizon, false);
    civilDawn_ = Cross(kCivilHorizon, true);
    civilDusk_ = Cross(kCivilHorizon, false);

    const double from = JulianDay(day_.Instant(0)), to = JulianDay(day_.Instant(dayEnd));
    const double noon = track_.Culmination(from, to);
    solarNoon_ = day_.LocalMinute(UnixSeconds(noon));
    noonElevation_ = track_.ElevationAt(noon);

    // The day's length from the instants, so that a day the clock changes counts right.
    const double midnight = day_.Instant(0), nextMidnight = day_.Instant(dayEnd);
    auto instant = [&](double minute) { return day_.Instant(minute); };
    if (sunrise_ && sunset_) {
        const double rise = instant(*sunrise_), set = instant(*sunset_);
        dayLength_ = (set > rise ? set - rise : (nextMidnight - rise) + (set - midnight)) / 60.0;
    } else if (sunrise_) {
        dayLength_ = (nextMidnight - instant(*sunrise_)) / 60.0;
    } else if (sunset_) {
        dayLength_ = (instant(*sunset_) - midnight) / 60.0;
    } else if (noonElevation_ > kStandardHorizon) {
        polar_ = Polar::Day;
        dayLength_ = (nextMidnight - midnight) / 60.0;
    } else {
        polar_ = Polar::Night;
    }
}

const SunDay::MoonDay& SunDay::Moon() const {
    if (moon_) return *moon_;
    MoonDay moon;
    const double from = JulianDay(day_.Instant(0)), to = JulianDay(day_.Instant(kMinutesPerDay));
    if (const auto transit = MoonTransit(place_.latitude, place_.longitude, from, to))
        moon.transit = day_.LocalMinute(UnixSeconds(*transit));
    // The phase at the day's local noon: within a day of the real moon's.
    const double localNoon = JulianDay(day_.Instant(720));
    moon.illumination = MoonIllumination(localNoon);
    moon.waxing = MoonWaxing(localNoon);
    moon_ = moon;
    return *moon_;
}

std::optional<double> SunDay::Cross(double horizon, bool rising) const {
    const auto at = track_.Crossing(horizon, rising, JulianDay(day_.Instant(0)), JulianDay(day_.Instant(1440)));
    if (!at) return std::nullopt;
    return day_.LocalMinute(UnixSeconds(*at));
}

double SunDay::ElevationAtMinute(double localMinute) const {
    return track_.ElevationAt(JulianDay(day_.Instant(localMinute)));
}

}  // namespace quelvan::sun
