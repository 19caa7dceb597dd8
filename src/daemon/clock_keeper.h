#pragma once
// Keeps each board's clock on the computer's local time. The poll's readings are checked
// against the computer's clock; a board that runs in real time and is off by the tolerance
// or more (drifted, an hour off after the change to or from summer time, back at midnight
// after a power cut) has its clock set as the window's clock controls set it: the live-state
// write with the clock alone, in a session on records read afresh, and read back after it.
// At most once a minute per board, so that a board that will not keep its time is not
// written to on every poll. Time-lapse boards are left alone.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "device/clock.h"

namespace quelvan::service {

class BoardOwner;

enum class ClockReason { None, Drift, SummerTime, Restart };

// What one check of one board knows.
struct ClockCheck {
    int boardSeconds = 0;  // the board's clock as seconds of its day
    bool realTime = true;  // TimeLapse is 1
    LocalDateTime now;     // the computer's local time
    int utcOffset = 0;     // its offset from UTC in seconds (changes with summer time)
    int toleranceS = 2;
    std::optional<int> previousBoardSeconds;  // at this board's check before
    std::optional<int> previousUtcOffset;     // the computer's offset then
    std::optional<std::int64_t> msSinceSet;   // since this board's clock was last set
};

inline constexpr std::int64_t kClockSetIntervalMs = 60'000;

// The board's clock minus the computer's, across midnight the shorter way, in seconds.
int ClockDifference(int boardSeconds, const LocalDateTime& now);
// Whether to set the board's clock now, and why.
ClockReason DecideClock(const ClockCheck& check);
const char* ClockReasonText(ClockReason reason);

class ClockKeeper : public QObject {
    Q_OBJECT
public:
    // `monotonicMs`: a clock that never jumps, for the once-a-minute limit; `utcOffset`: the
    // computer's offset from UTC now. Tests set both; empty: this computer's.
    ClockKeeper(BoardOwner& owner, const Clock& clock, int toleranceS, std::function<std::int64_t()> monotonicMs = {},
                std::function<int()> utcOffset = {});

    // Checks the board after a poll has read it (connected to the owner's StateChanged).
    void Check(const QString& device);

private:
    struct Board {
        std::optional<int> previousBoardSeconds;
        std::optional<int> previousUtcOffset;
        std::optional<std::int64_t> setAtMs;
        bool pending = false;
    };
    void Set(const std::string& serial, ClockReason reason);

    BoardOwner& owner_;
    const Clock& clock_;
    int toleranceS_;
    std::function<std::int64_t()> monotonicMs_;
    std::function<int()> utcOffset_;
    std::map<std::string, Board> boards_;  // by serial number
};

}  // namespace quelvan::service
