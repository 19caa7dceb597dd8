#include "device/clock.h"

#include <chrono>
#include <ctime>

#include "device/numeric.h"

namespace quelvan {

LocalDateTime SystemClock::Now() const {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&secs, &tm);
    LocalDateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(ms < 0 ? ms + 1000 : ms);
    return t;
}

std::uint8_t ClockTickFromMilliseconds(int milliseconds) {
    // Dividing by 40 is the same scale as multiplying by 0.025, but exact at the halves.
    return Low8(RoundHalfEven(milliseconds / 40.0));
}

}  // namespace quelvan
