#pragma once
// The [sun] section of quelvand.conf: the day program from the sun at a place, followed day
// by day (daemon/sun_keeper.h), and the acclimation ramp of its maxima.
//
//   [sun]   place =, tz =, noon =, twilight = none, max =, siesta =   (as quelvanctl sun program)
//           follow = off | daily, boards = all, save_eeprom = off | weekly
//           acclimate_from = (YYYY-MM-DD, empty: off), acclimate_days = 14, acclimate_start = 50

#include <optional>
#include <string>
#include <vector>

#include "service/service_config.h"
#include "sun/daylight.h"
#include "sun/zone_clock.h"

namespace quelvan::service {

struct SunSection {
    std::string place;  // a zone name, part of one, or LAT,LON
    std::string tz;     // the clock of the times; empty: the place's zone (or this computer's)
    std::optional<int> noon;
    bool civil = false;  // twilight = civil
    std::string maxima;  // "A=80,C=60"; channels not named: the board's own program
    std::optional<sun::Siesta> siesta;
    bool follow = false;
    std::vector<std::string> boards;  // empty: all
    std::optional<sun::CivilDate> acclimateFrom;
    int acclimateDays = 14;
    double acclimateStart = 50;  // percent
    bool saveWeekly = false;
};

ConfigSection SunConfigSection(SunSection& target);
// What only the whole section can tell: a place that is found (and a zone that exists) when
// following, and the ramp's full maxima named.
void CheckSunSection(const SunSection& sun, std::vector<std::string>& errors);

// The percentage of the maxima on `today`: acclimate_start before acclimate_from and on it,
// rising in a straight line to 100 over acclimate_days days, 100 from then on; 100 without
// a ramp.
double AcclimationPercent(const SunSection& sun, const sun::CivilDate& today);

// Days from `from` to `to` (negative when `to` lies before).
int DaysBetween(const sun::CivilDate& from, const sun::CivilDate& to);

}  // namespace quelvan::service
