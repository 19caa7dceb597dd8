// The clock keeper: when a board's clock is set (a rule table), and in-process on a simulated
// board through the owner, the night of each change of summer time in Europe/Berlin from the
// time-zone database, the exact transfers of the write, time-lapse and the once-a-minute limit.

#include "daemon/clock_keeper.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "board_fixture.h"
#include "service/board_owner.h"
#include "service_process.h"
#include "simulator/simulated_backend.h"

namespace quelvan::service {
namespace {

struct Moment {
    LocalDateTime local;
    int utcOffset;
};

Moment At(int hour, int minute, int second, int offset = 3600) {
    return {LocalDateTime{2026, 6, 1, hour, minute, second, 0}, offset};
}

int Hms(int h, int m, int s) {
    return h * 3600 + m * 60 + s;
}

TEST(ClockRule, SetsWhatIsOffByTheToleranceAndSaysWhy) {
    struct Case {
        const char* what;
        int board;
        Moment now;
        std::optional<int> previousBoard;
        std::optional<int> previousOffset;
        std::optional<std::int64_t> msSinceSet;
        bool realTime;
        ClockReason expected;
    };
    const Case cases[] = {
        {"3 s ahead", Hms(12, 0, 3), At(12, 0, 0), Hms(12, 0, 2), 3600, {}, true, ClockReason::Drift},
        {"40 s behind", Hms(11, 59, 20), At(12, 0, 0), Hms(11, 59, 19), 3600, {}, true, ClockReason::Drift},
        {"an hour ahead", Hms(13, 0, 0), At(12, 0, 0), Hms(12, 59, 59), 3600, {}, true, ClockReason::Drift},
        {"1 s off is in step", Hms(12, 0, 1), At(12, 0, 0), {}, {}, {}, true, ClockReason::None},
        {"2 s off is the tolerance", Hms(11, 59, 58), At(12, 0, 0), {}, {}, {}, true, ClockReason::Drift},
        {"2 s across midnight", Hms(23, 59, 59), At(0, 0, 1), Hms(23, 59, 58), 3600, {}, true, ClockReason::Drift},
        {"1 s across midnight", Hms(23, 59, 59), At(0, 0, 0), {}, {}, {}, true, ClockReason::None},
        {"into summer time", Hms(2, 0, 0), At(3, 0, 0, 7200), Hms(1, 59, 59), 3600, {}, true, ClockReason::SummerTime},
        {"out of summer time",
         Hms(3, 0, 0),
         At(2, 0, 0, 3600),
         Hms(2, 59, 59),
         7200,
         {},
         true,
         ClockReason::SummerTime},
        {"restarted at midnight", Hms(0, 0, 5), At(14, 0, 6), Hms(14, 0, 5), 3600, {}, true, ClockReason::Restart},
        {"found at midnight after a start", Hms(0, 1, 0), At(9, 30, 0), {}, {}, {}, true, ClockReason::Restart},
        {"time-lapse is left alone", Hms(13, 0, 0), At(12, 0, 0), {}, {}, {}, false, ClockReason::None},
        {"set 30 s ago", Hms(12, 0, 40), At(12, 0, 0), {}, {}, 30'000, true, ClockReason::None},
        {"set a minute ago", Hms(12, 0, 40), At(12, 0, 0), {}, {}, 60'000, true, ClockReason::Drift},
    };
    for (const Case& c : cases) {
        ClockCheck check;
        check.boardSeconds = c.board;
        check.now = c.now.local;
        check.utcOffset = c.now.utcOffset;
        check.previousBoardSeconds = c.previousBoard;
        check.previousUtcOffset = c.previousOffset;
        check.msSinceSet = c.msSinceSet;
        check.realTime = c.realTime;
        EXPECT_EQ(DecideClock(check), c.expected) << c.what;
    }
}

// The computer's clock as a moment, shown in the zone of TZ by the C library as the real one.
class MomentClock final : public Clock {
public:
    LocalDateTime Now() const override {
        const std::tm t = Local();
        return {
            t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(unixMs % 1000)};
    }
    int UtcOffset() const { return static_cast<int>(Local().tm_gmtoff); }
    std::int64_t unixMs = 0;

private:
    std::tm Local() const {
        const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
        std::tm t{};
        localtime_r(&seconds, &t);
        return t;
    }
};

class KeptClock : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
        backend_.Board().SetFrozen(true);
    }
    void TearDown() override {
        if (savedTz_)
            ::setenv("TZ", savedTz_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    // Starts the owner with the board's clock at the computer's time plus `offsetS`.
    void Start(int offsetS = 0) {
        SetBoardClock(offsetS);
        owner_.Start();
        QCoreApplication::processEvents();
    }
    void SetBoardClock(int offsetS) {
        const LocalDateTime now = clock_.Now();
        const int s = ((Hms(now.hour, now.minute, now.second) + offsetS) % 86400 + 86400) % 86400;
        LiveState& live = backend_.Board().Live();
        live.ClockHour = static_cast<std::int8_t>(s / 3600);
        live.ClockMinute = static_cast<std::int8_t>(s / 60 % 60);
        live.ClockSecond = static_cast<std::int8_t>(s % 60);
    }
    // One poll a second later, the board's clock having run along (it is frozen otherwise).
    void Tick(int boardStepS = 1) {
        clock_.unixMs += 1000;
        LiveState& live = backend_.Board().Live();
        const int s = (Hms(live.ClockHour, live.ClockMinute, live.ClockSecond) + boardStepS) % 86400;
        live.ClockHour = static_cast<std::int8_t>(s / 3600);
        live.ClockMinute = static_cast<std::int8_t>(s / 60 % 60);
        live.ClockSecond = static_cast<std::int8_t>(s % 60);
        backend_.ClearTransfers();
        owner_.PollBoards();
        QCoreApplication::processEvents();
    }
    int BoardClock() {
        const LiveState& live = backend_.Board().Live();
        return Hms(live.ClockHour, live.ClockMinute, live.ClockSecond);
    }
    std::vector<const sim::SimTransfer*> Sets() {
        std::vector<const sim::SimTransfer*> sets;
        for (const sim::SimTransfer& t : backend_.Transfers())
            if (t.isSet) sets.push_back(&t);
        return sets;
    }

    std::optional<std::string> savedTz_;
    MomentClock clock_;
    std::int64_t monotonicMs_ = 0;
    sim::SimulatedHidBackend backend_;
    BoardOwner owner_{backend_, clock_, OwnerOptions{}};
    ClockKeeper keeper_{owner_, clock_, 2, [this] { return monotonicMs_; }, [this] { return clock_.UtcOffset(); }};
};

TEST_F(KeptClock, TheNightsOfTheSummerTimeChangesInBerlinSetTheBoardOnceAndExactlyAsTheWindowDoes) {
    struct Night {
        const char* what;
        std::int64_t lastSecondBefore;  // UTC, from the zone's rules: 01:00 UTC on the last Sunday
        int boardBefore;                // the board's local time then
        int localAfter;                 // the computer's local time one second later
    };
    const Night nights[] = {
        {"into summer time, 29 March 2026", 1774745999, Hms(1, 59, 59), Hms(3, 0, 0)},
        {"out of summer time, 25 October 2026", 1792889999, Hms(2, 59, 59), Hms(2, 0, 0)},
    };
    for (const Night& n : nights) {
        SCOPED_TRACE(n.what);
        clock_.unixMs = n.lastSecondBefore * 1000;
        const LocalDateTime before = clock_.Now();
        ASSERT_EQ(Hms(before.hour, before.minute, before.second), n.boardBefore);
        SetBoardClock(0);
        if (owner_.Devices().empty()) owner_.Start();
        backend_.ClearTransfers();
        owner_.PollBoards();
        QCoreApplication::processEvents();
        EXPECT_TRUE(Sets().empty()) << "in step before the change";

        Tick();  // the board runs on to 02:00 or 03:00; the computer's clock changed
        const LocalDateTime after = clock_.Now();
        ASSERT_EQ(Hms(after.hour, after.minute, after.second), n.localAfter);
        ASSERT_EQ(Sets().size(), 1u);
        const std::vector<std::uint8_t>& bytes = Sets().front()->bytes;
        ASSERT_EQ(bytes.size(), 42u);
        EXPECT_EQ(bytes[0], 1);
        EXPECT_EQ(bytes[8] * 3600 + bytes[7] * 60 + bytes[6], n.localAfter) << "the clock, hour/minute/second";
        EXPECT_EQ(bytes[5], 0) << "the tick at 0 ms";
        EXPECT_EQ(bytes[11], 255) << "the moon transit is not set";
        for (int i = 13; i <= 20; ++i) EXPECT_EQ(bytes[i], 0xFF) << "channels A..D left alone, byte " << i;
        std::vector<std::string> order;
        for (const sim::SimTransfer& t : backend_.Transfers())
            order.push_back((t.isSet ? "set " : "get ") + std::to_string(t.bytes.at(0)));
        const std::vector<std::string> expected = {"get 1", "get 1", "get 2", "get 4", "get 5", "get 6",
                                                   "set 1", "get 1", "get 2", "get 4", "get 5", "get 6"};
        EXPECT_EQ(order, expected) << "the poll, the session's fresh reads, the write and the read-back";
        EXPECT_EQ(BoardClock(), n.localAfter);
        monotonicMs_ += 3'600'000;  // the next night is far away
    }
}

TEST_F(KeptClock, DriftARestartAtMidnightTimeLapseAndTheOnceAMinuteLimit) {
    clock_.unixMs = 1781352000000;  // 13 June 2026, 14:00:00 in Berlin
    Start();
    backend_.ClearTransfers();
    owner_.PollBoards();
    EXPECT_TRUE(Sets().empty());

    for (const int drift : {3, -40, 3600}) {
        SetBoardClock(drift);
        Tick();
        ASSERT_EQ(Sets().size(), 1u) << drift;
        EXPECT_EQ(BoardClock(), Hms(clock_.Now().hour, clock_.Now().minute, clock_.Now().second)) << drift;
        monotonicMs_ += 60'000;
    }

    SetBoardClock(25);
    Tick();
    ASSERT_EQ(Sets().size(), 1u);
    SetBoardClock(25);
    monotonicMs_ += 59'000;
    Tick();
    EXPECT_TRUE(Sets().empty()) << "set again within a minute";
    monotonicMs_ += 1'000;
    Tick();
    EXPECT_EQ(Sets().size(), 1u) << "a minute after";

    monotonicMs_ += 60'000;
    backend_.Board().Live().ClockHour = 0;  // a power cut: the board starts again from midnight
    backend_.Board().Live().ClockMinute = 0;
    backend_.Board().Live().ClockSecond = 0;
    Tick(0);
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_EQ(BoardClock(), Hms(clock_.Now().hour, clock_.Now().minute, clock_.Now().second));

    monotonicMs_ += 60'000;
    backend_.Board().Config().TimeLapse = 10;
    SetBoardClock(3600);
    backend_.ClearTransfers();
    for (int i = 0; i < 3; ++i) {
        clock_.unixMs += 1000;
        owner_.PollBoards();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(Sets().size(), 0u) << "time-lapse is left alone";
}

}  // namespace
}  // namespace quelvan::service

namespace quelvan::testing {
namespace {

// A real quelvand on a frozen board whose clock is an hour ahead: set once, with the
// clock-only live-state write, to this computer's time; with clock_sync = off never.
TEST(ClockThroughTheService, ABoardAnHourOffIsSetOnceAsTheWindowSetsItAndNeverWhenOff) {
    for (const bool on : {true, false}) {
        ScratchDir dir;
        const std::string state = dir.File("board.state"), trace = dir.File("trace.txt");
        const LocalDateTime now = SystemClock().Now();
        WriteBoardState(state, [&](sim::SimulatedHidBackend& b) {
            b.Board().Live().ClockHour = static_cast<std::int8_t>((now.hour + 1) % 24);
            b.Board().Live().ClockMinute = static_cast<std::int8_t>(now.minute);
            b.Board().Live().ClockSecond = static_cast<std::int8_t>(now.second);
        });
        ServiceProcess::Options options;
        options.stateFiles = {state};
        options.pollMs = 200;
        options.traceFile = trace;
        options.moreConfig = on ? "[service]\nclock_sync = on\n" : "[service]\nclock_sync = off\n";
        ServiceProcess service(options);
        ASSERT_TRUE(service.Running());
        auto sets = [&] {
            std::vector<TraceLine> found;
            for (const TraceLine& t : ParseTrace(ReadLines(trace)))
                if (t.isSet) found.push_back(t);
            return found;
        };
        for (int i = 0; i < 40 && sets().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a few more polls
        const std::vector<TraceLine> written = sets();
        if (!on) {
            EXPECT_TRUE(written.empty()) << "clock_sync = off";
            continue;
        }
        ASSERT_EQ(written.size(), 1u);
        const std::vector<std::uint8_t>& b = written.front().bytes;
        ASSERT_EQ(b.size(), 42u);
        EXPECT_EQ(b[0], 1);
        EXPECT_EQ(b[11], 255) << "the moon transit is left alone";
        for (int i = 13; i <= 20; ++i) EXPECT_EQ(b[i], 0xFF) << "channels A..D left alone, byte " << i;
        const LocalDateTime after = SystemClock().Now();
        const int set = b[8] * 3600 + b[7] * 60 + b[6];
        const int here = after.hour * 3600 + after.minute * 60 + after.second;
        EXPECT_LE(std::abs(((here - set) % 86400 + 86400 + 43200) % 86400 - 43200), 3);
        const std::string log = service.Log();
        EXPECT_NE(log.find("clock set from"), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace quelvan::testing
