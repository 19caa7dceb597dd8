#pragma once
// Local clock time of a time zone and the instants it stands for, through the C library's
// own reading of the time-zone database (TZ set for the duration of a call).

#include <ctime>
#include <optional>
#include <string>

namespace quelvan::sun {

struct CivilDate {
    int year = 2000;
    int month = 1;
    int day = 1;
    bool operator==(const CivilDate&) const = default;
};

// "YYYY-MM-DD" with a real calendar day; nullopt for anything else.
std::optional<CivilDate> ParseDate(const std::string& text);
std::string FormatDate(const CivilDate& date);
CivilDate AddDays(const CivilDate& date, int days);

class ZoneClock {
public:
    // An empty zone is this computer's own (TZ as the process found it, else /etc/localtime).
    explicit ZoneClock(std::string zone) : zone_(std::move(zone)) {}
    const std::string& Zone() const { return zone_; }

    // Today's date on this clock at the instant `now`.
    CivilDate DateAt(std::time_t now) const;

    // The instants of one local day: its midnight and the minute of local time at which
    // the clock changes that day (nullopt when it keeps its offset), with the offsets
    // before and after. The instant of local minute m (which may lie outside 0..1440) is
    // midnight + (m - offset change) ... see Instant().
    struct Day {
        double midnightUtc = 0;     // seconds since 1970 of local 00:00
        int offsetBefore = 0;       // seconds east of UTC at 00:00
        int offsetAfter = 0;        // seconds east of UTC at the next 00:00
        double changeMinute = 1e9;  // local minute from which offsetAfter holds
        // Seconds since 1970 at local minute `minute` after this day's midnight.
        double Instant(double minute) const;
        // Local minute after this day's midnight of an instant.
        double LocalMinute(double utcSeconds) const;
    };
    Day LocalDay(const CivilDate& date) const;

private:
    std::string zone_;
};

}  // namespace quelvan::sun
