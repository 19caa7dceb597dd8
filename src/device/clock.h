#pragma once
// The computer's local clock, behind a seam so that tests can set the time.

#include <cstdint>

namespace quelvan {

struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    // Seconds since local midnight, with the milliseconds as a fraction.
    double SecondsOfDay() const { return hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0; }
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
};

// The real local time of this computer.
class SystemClock final : public Clock {
public:
    LocalDateTime Now() const override;
};

// A clock that stands still until it is set or advanced; for tests and replays.
class ManualClock final : public Clock {
public:
    explicit ManualClock(LocalDateTime t = {}) : now_(t) {}
    LocalDateTime Now() const override { return now_; }
    void Set(LocalDateTime t) { now_ = t; }
    void SetTimeOfDay(int hour, int minute, int second, int millisecond = 0) {
        now_.hour = hour;
        now_.minute = minute;
        now_.second = second;
        now_.millisecond = millisecond;
    }

private:
    LocalDateTime now_;
};

// The board's sub-second clock field: milliseconds in steps of 40 ms, halves to even.
std::uint8_t ClockTickFromMilliseconds(int milliseconds);

}  // namespace quelvan
