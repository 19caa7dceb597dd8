#include "daemon/clock_keeper.h"

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "device/numeric.h"
#include "service/board_owner.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

constexpr int kDay = 24 * 3600;
// A board clock found this close after midnight, and behind where it was, started again.
constexpr int kRestartWindowS = 15 * 60;

int BoardSeconds(const LiveState& live) {
    return live.ClockHour * 3600 + live.ClockMinute * 60 + live.ClockSecond;
}

std::string TimeText(int seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

}  // namespace

int ClockDifference(int boardSeconds, const LocalDateTime& now) {
    const long long computer = RoundHalfEven(now.SecondsOfDay()) % kDay;
    long long diff = boardSeconds - computer;
    // 23:59:59 on the board and 00:00:01 here are two seconds apart, not a day.
    diff = ((diff % kDay) + kDay) % kDay;
    if (diff >= kDay / 2) diff -= kDay;
    return static_cast<int>(diff);
}

ClockReason DecideClock(const ClockCheck& c) {
    if (!c.realTime) return ClockReason::None;
    const int diff = ClockDifference(c.boardSeconds, c.now);
    if (std::abs(diff) < c.toleranceS) return ClockReason::None;
    if (c.msSinceSet && *c.msSinceSet < kClockSetIntervalMs) return ClockReason::None;
    if (c.previousUtcOffset && *c.previousUtcOffset != c.utcOffset) return ClockReason::SummerTime;
    const bool wentBack = !c.previousBoardSeconds || *c.previousBoardSeconds > c.boardSeconds;
    if (c.boardSeconds < kRestartWindowS && wentBack && std::abs(diff) >= 60) return ClockReason::Restart;
    return ClockReason::Drift;
}

const char* ClockReasonText(ClockReason reason) {
    switch (reason) {
        case ClockReason::Drift:
            return "it had drifted";
        case ClockReason::SummerTime:
            return "the change to or from summer time";
        case ClockReason::Restart:
            return "it started again from midnight (a power cut)";
        case ClockReason::None:
            break;
    }
    return "";
}

ClockKeeper::ClockKeeper(BoardOwner& owner, const Clock& clock, int toleranceS,
                         std::function<std::int64_t()> monotonicMs, std::function<int()> utcOffset)
    : owner_(owner),
      clock_(clock),
      toleranceS_(toleranceS),
      monotonicMs_(std::move(monotonicMs)),
      utcOffset_(std::move(utcOffset)) {
    if (!utcOffset_) {
        utcOffset_ = [] {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            return static_cast<int>(local.tm_gmtoff);
        };
    }
    if (!monotonicMs_) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        monotonicMs_ = [started] { return started->elapsed(); };
    }
    connect(&owner_, &BoardOwner::StateChanged, this, &ClockKeeper::Check);
}

void ClockKeeper::Check(const QString& device) {
    const HeldDevice* held = owner_.Find(device.toStdString());
    if (!held || held->role != DeviceRole::Board || !held->liveValid || !held->configValid) return;
    Board& b = boards_[held->serial];
    const LocalDateTime now = clock_.Now();
    ClockCheck check;
    check.boardSeconds = BoardSeconds(held->live);
    check.realTime = held->config.TimeLapse == 1;
    check.now = now;
    check.utcOffset = utcOffset_();
    check.toleranceS = toleranceS_;
    check.previousBoardSeconds = b.previousBoardSeconds;
    check.previousUtcOffset = b.previousUtcOffset;
    if (b.setAtMs) check.msSinceSet = monotonicMs_() - *b.setAtMs;
    b.previousBoardSeconds = check.boardSeconds;
    b.previousUtcOffset = check.utcOffset;
    if (b.pending || held->sessionHolder != 0) return;
    const ClockReason reason = DecideClock(check);
    if (reason != ClockReason::None) Set(held->serial, reason);
}

void ClockKeeper::Set(const std::string& serial, ClockReason reason) {
    Board& b = boards_[serial];
    b.pending = true;
    b.setAtMs = monotonicMs_();
    auto work = [this, serial, reason](BoardProtocol& board) {
        // Decided again on what the session read: the board may have been set meanwhile.
        const int old = BoardSeconds(board.live);
        if (board.config.TimeLapse != 1 || std::abs(ClockDifference(old, clock_.Now())) < toleranceS_) return;
        board.SetClockFromComputer();
        const int set = BoardSeconds(board.live);
        if (!board.WriteLiveState(true, false, false).ok) {
            LogWarning("board " + serial + ": setting its clock failed");
            return;
        }
        LogInfo("board " + serial + ": clock set from " + TimeText(old) + " to " + TimeText(set) + ", since " +
                ClockReasonText(reason));
    };
    owner_.RunSession(serial, work, [this, serial](bool ok, const std::string& error) {
        boards_[serial].pending = false;
        if (!ok) LogWarning("board " + serial + ": its clock could not be checked: " + error);
    });
}

}  // namespace quelvan::service
