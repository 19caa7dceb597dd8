#include "sun/zone_clock.h"

#include <cstdio>
#include <cstdlib>

namespace quelvan::sun {

namespace {

// Sets TZ for its lifetime and puts back what was there.
class ScopedZone {
public:
    explicit ScopedZone(const std::string& zone) : active_(!zone.empty()) {
        if (!active_) return;
        if (const char* old = std::getenv("TZ")) previous_ = old;
        const std::string value = ":" + zone;
        setenv("TZ", value.c_str(), 1);
        tzset();
    }
    ~ScopedZone() {
        if (!active_) return;
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

private:
    bool active_;
    std::optional<std::string> previous_;
};

std::time_t LocalToUtc(const CivilDate& date, int minute) {
    std::tm t{};
    t.tm_year = date.year - 1900;
    t.tm_mon = date.month - 1;
    t.tm_mday = date.day;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

long OffsetAt(std::time_t instant) {
    std::tm t{};
    localtime_r(&instant, &t);
    return t.tm_gmtoff;
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

}  // namespace

std::optional<CivilDate> ParseDate(const std::string& text) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || y < 1 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m))
        return std::nullopt;
    return CivilDate{y, m, d};
}

std::string FormatDate(const CivilDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

CivilDate AddDays(const CivilDate& date, int days) {
    std::tm t{};
    t.tm_year = date.year - 1900;
    t.tm_mon = date.month - 1;
    t.tm_mday = date.day + days;
    t.tm_hour = 12;
    const std::time_t instant = timegm(&t);
    std::tm out{};
    gmtime_r(&instant, &out);
    return CivilDate{out.tm_year + 1900, out.tm_mon + 1, out.tm_mday};
}

CivilDate ZoneClock::DateAt(std::time_t now) const {
    ScopedZone zone(zone_);
    std::tm t{};
    localtime_r(&now, &t);
    return CivilDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

ZoneClock::Day ZoneClock::LocalDay(const CivilDate& date) const {
    ScopedZone zone(zone_);
    Day day;
    const std::time_t midnight = LocalToUtc(date, 0);
    const std::time_t next = LocalToUtc(AddDays(date, 1), 0);
    day.midnightUtc = static_cast<double>(midnight);
    day.offsetBefore = static_cast<int>(OffsetAt(midnight));
    day.offsetAfter = static_cast<int>(OffsetAt(next));
    if (day.offsetBefore != day.offsetAfter) {
        // The first instant with the new offset, to the minute, then as a local minute.
        std::time_t low = midnight, high = next;
        while (high - low > 60) {
            const std::time_t mid = low + (high - low) / 2;
            (OffsetAt(mid) == day.offsetBefore ? low : high) = mid;
        }
        day.changeMinute = static_cast<double>(high - midnight + day.offsetAfter - day.offsetBefore) / 60.0;
        day.changeMinute = static_cast<double>(static_cast<long>(day.changeMinute + 0.5));
    }
    return day;
}

double ZoneClock::Day::Instant(double minute) const {
    const int offset = minute < changeMinute ? offsetBefore : offsetAfter;
    return midnightUtc + minute * 60.0 - (offset - offsetBefore);
}

double ZoneClock::Day::LocalMinute(double utcSeconds) const {
    const double before = (utcSeconds - midnightUtc) / 60.0;
    const double after = before + (offsetAfter - offsetBefore) / 60.0;
    return after >= changeMinute ? after : before;
}

}  // namespace quelvan::sun
