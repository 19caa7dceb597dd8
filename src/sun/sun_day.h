#pragma once
// One day of the sun (and the moon) at a place, on that place's own clock: the times the
// sun crosses the horizon and civil twilight, its noon and highest elevation, polar day and
// night, and the moon's transit and phase.

#include <optional>
#include <string>

#include "sun/places.h"
#include "sun/sky.h"
#include "sun/zone_clock.h"

namespace quelvan::sun {

// Sunrise and sunset: the upper limb at the horizon under standard refraction.
inline constexpr double kStandardHorizon = -0.8333;
inline constexpr double kCivilHorizon = -6.0;

enum class Polar { None, Day, Night };

class SunDay {
public:
    // `zone`: the clock the times are given in (empty: this computer's).
    SunDay(const Place& place, const std::string& zone, const CivilDate& date);

    const Place& Where() const { return place_; }
    const CivilDate& Date() const { return date_; }
    const ZoneClock::Day& LocalDay() const { return day_; }

    // Minutes after local midnight (on a day the clock changes, as the clock shows them);
    // nullopt where the sun does not cross that elevation this day.
    std::optional<double> Sunrise() const { return sunrise_; }
    std::optional<double> Sunset() const { return sunset_; }
    std::optional<double> CivilDawn() const { return civilDawn_; }
    std::optional<double> CivilDusk() const { return civilDusk_; }
    double SolarNoon() const { return solarNoon_; }
    double NoonElevation() const { return noonElevation_; }
    // Minutes the sun's upper limb spends above the horizon this day.
    double DayLength() const { return dayLength_; }
    Polar PolarState() const { return polar_; }

    // The moon, worked out on the first question (its series are costly, and the light
    // curve does not need it).
    std::optional<double> MoonTransitMinute() const { return Moon().transit; }
    double MoonIlluminatedFraction() const { return Moon().illumination; }
    bool MoonIsWaxing() const { return Moon().waxing; }

    // The sun's elevation (degrees, no refraction) at a local minute, -1440..2880.
    double ElevationAtMinute(double localMinute) const;
    // Local minute to Unix seconds and back.
    double UtcSeconds(double localMinute) const { return day_.Instant(localMinute); }

private:
    struct MoonDay {
        std::optional<double> transit;
        double illumination = 0;
        bool waxing = false;
    };
    const MoonDay& Moon() const;
    std::optional<double> Cross(double horizon, bool rising) const;
    Place place_;
    CivilDate date_;
    ZoneClock::Day day_;
    SunTrack track_;
    std::optional<double> sunrise_, sunset_, civilDawn_, civilDusk_;
    double solarNoon_ = 720, noonElevation_ = 0, dayLength_ = 0;
    Polar polar_ = Polar::None;
    mutable std::optional<MoonDay> moon_;
};

}  // namespace quelvan::sun
