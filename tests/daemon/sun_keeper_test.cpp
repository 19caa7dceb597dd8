// The day from the sun followed by quelvand: the acclimation ramp and the weekly store as
// rule tables, and in-process on a simulated board through the owner with the computer's
// clock moved by hand: the days it uploads and the ones it leaves alone, the ramp's maxima on
// the board, nothing stored in EEPROM unless asked, and a failed upload tried again.

#include "daemon/sun_keeper.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>

#include "schedule/moon_phase.h"
#include "schedule/schedule_table.h"
#include "service/board_owner.h"
#include "simulator/simulated_backend.h"

namespace quelvan::service {
namespace {

constexpr const char* kSerial = "QV2-000123";

TEST(SunRules, TheAcclimationRampRisesInAStraightLineFromItsStartToFullAndStays) {
    struct Case {
        const char* what;
        const char* from;  // empty: no ramp
        int days;
        double start;
        sun::CivilDate today;
        double percent;
    };
    const Case cases[] = {
        {"no ramp", "", 10, 40, {2026, 3, 1}, 100},
        {"ten days before", "2026-03-01", 10, 40, {2026, 2, 19}, 40},
        {"the day before", "2026-03-01", 10, 40, {2026, 2, 28}, 40},
        {"day 0", "2026-03-01", 10, 40, {2026, 3, 1}, 40},
        {"day 1", "2026-03-01", 10, 40, {2026, 3, 2}, 46},
        {"half-way", "2026-03-01", 10, 40, {2026, 3, 6}, 70},
        {"the last day before the end", "2026-03-01", 10, 40, {2026, 3, 10}, 94},
        {"at the end", "2026-03-01", 10, 40, {2026, 3, 11}, 100},
        {"long after", "2026-03-01", 10, 40, {2027, 3, 1}, 100},
        {"across the new year", "2026-12-25", 14, 30, {2027, 1, 1}, 65},
        {"across 29 February", "2028-02-20", 20, 0, {2028, 3, 1}, 50},
        {"no days: full from the first", "2026-03-01", 0, 40, {2026, 3, 1}, 100},
        {"no days, before", "2026-03-01", 0, 40, {2026, 2, 28}, 40},
    };
    for (const Case& c : cases) {
        SunSection s;
        s.acclimateFrom = sun::ParseDate(c.from);
        s.acclimateDays = c.days;
        s.acclimateStart = c.start;
        EXPECT_NEAR(AcclimationPercent(s, c.today), c.percent, 1e-9) << c.what;
    }
}

TEST(SunRules, SettingsAreStoredInEepromAtMostWeeklyAndOnlyAfterAnUpload) {
    struct Case {
        const char* what;
        bool weekly, uploaded;
        std::optional<sun::CivilDate> last;
        sun::CivilDate today;
        bool store;
    };
    const Case cases[] = {
        {"off", false, true, std::nullopt, {2026, 3, 1}, false},
        {"the first upload", true, true, std::nullopt, {2026, 3, 1}, true},
        {"nothing new", true, false, std::nullopt, {2026, 3, 1}, false},
        {"the next day", true, true, sun::CivilDate{2026, 3, 1}, {2026, 3, 2}, false},
        {"six days on", true, true, sun::CivilDate{2026, 3, 1}, {2026, 3, 7}, false},
        {"seven days on", true, true, sun::CivilDate{2026, 3, 1}, {2026, 3, 8}, true},
        {"seven days on across the year", true, true, sun::CivilDate{2026, 12, 29}, {2027, 1, 5}, true},
        {"a week on without an upload", true, false, sun::CivilDate{2026, 3, 1}, {2026, 3, 20}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(DueForStore(c.weekly, c.uploaded, c.last, c.today), c.store) << c.what;
}

// The board's own day program: A up to 90 %, C to 45 %, the other channels off.
std::vector<ScheduleEntry> OwnersRows() {
    std::vector<ScheduleEntry> rows(24);
    for (int i = 0; i < 24; ++i) {
        rows[static_cast<std::size_t>(i)].Hour = static_cast<std::int8_t>(i);
        rows[static_cast<std::size_t>(i)].Color = {10, 0, 5};
    }
    rows[12].Color = {90, 0, 45};
    return rows;
}

class FollowedSun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "Europe/London", 1);
        ::tzset();
        backend_.Board().SetFrozen(true);
        backend_.Board().Schedule() = OwnersRows();
        backend_.Board().Config().FullmoonTransitHour = 23;
        backend_.Board().Config().FullmoonTransitMinute = 30;
        settings_.place = "Europe/London";
        settings_.follow = true;
    }
    void TearDown() override {
        keeper_.reset();
        if (savedTz_)
            ::setenv("TZ", savedTz_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    // The service starting at this local time.
    void Start(int year, int month, int day, int hour, int minute) {
        SetTime(year, month, day, hour, minute);
        if (owner_.Devices().empty()) {
            owner_.Start();
            QCoreApplication::processEvents();
        }
        keeper_ = std::make_unique<SunKeeper>(owner_, clock_, settings_, [this] { return monotonicMs_; });
        Check();
    }
    void SetTime(int year, int month, int day, int hour, int minute) {
        clock_.Set(LocalDateTime{year, month, day, hour, minute, 0, 0});
    }
    // Day by day: the first starts the service at `startHour`, each later one is the first
    // check after its midnight.
    void NextDay(const sun::CivilDate& date, int startHour) {
        if (!keeper_) {
            Start(date.year, date.month, date.day, startHour, 0);
            return;
        }
        SetTime(date.year, date.month, date.day, 0, 1);
        Check();
    }
    // One check of the keeper's timer, with the transfers it makes.
    void Check() {
        backend_.ClearTransfers();
        keeper_->CheckAll();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    int SetsOf(int report) const {
        int n = 0;
        for (const sim::SimTransfer& t : backend_.Transfers())
            if (t.isSet && !t.bytes.empty() && t.bytes[0] == report) ++n;
        return n;
    }
    // Row writes by index, in order (report 3 with an index; 255 there is the EEPROM store).
    std::vector<int> RowIndexesWritten() const {
        std::vector<int> indexes;
        for (const sim::SimTransfer& t : backend_.Transfers())
            if (t.isSet && t.bytes.size() > 1 && t.bytes[0] == 3 && t.bytes[1] != 255) indexes.push_back(t.bytes[1]);
        return indexes;
    }
    int RowsWritten() const { return static_cast<int>(RowIndexesWritten().size()); }
    int StoreCommands() const {
        int n = 0;
        for (const sim::SimTransfer& t : backend_.Transfers())
            if (t.isSet && t.bytes.size() > 1 && t.bytes[0] == 3 && t.bytes[1] == 255) ++n;
        return n;
    }
    int BoardTop(int channel) {
        int top = 0;
        for (const ScheduleEntry& e : backend_.Board().Schedule())
            top = std::max(top, static_cast<int>(e.Color[static_cast<std::size_t>(channel)]));
        return top;
    }

    std::optional<std::string> savedTz_;
    ManualClock clock_;
    std::int64_t monotonicMs_ = 0;
    sim::SimulatedHidBackend backend_;
    BoardOwner owner_{backend_, clock_, OwnerOptions{}};
    SunSection settings_;
    std::unique_ptr<SunKeeper> keeper_;
};

TEST_F(FollowedSun, ThreeDaysUploadOnTheDaysTheProgramChangesAndNeverStoreInEeprom) {
    const int storedBefore = backend_.Board().EEPROMStoreCount();
    std::vector<int> allRows(24);
    for (int i = 0; i < 24; ++i) allRows[static_cast<std::size_t>(i)] = i;

    // Day 1, the start: London on 1 December 2015.
    Start(2015, 12, 1, 9, 0);
    EXPECT_EQ(RowIndexesWritten(), allRows) << "every row by index";
    EXPECT_EQ(SetsOf(1), 1) << "the moon transit";
    ASSERT_TRUE(keeper_->Today(kSerial));
    const SunToday day1 = *keeper_->Today(kSerial);
    EXPECT_TRUE(day1.uploaded);
    EXPECT_EQ(day1.place, "Europe/London");
    // Published for London, 1 December 2015: sunrise 07:43 UTC, sunset 15:55 UTC (GMT).
    ASSERT_TRUE(day1.sunriseUnix && day1.sunsetUnix);
    EXPECT_NEAR(static_cast<double>(*day1.sunriseUnix), 1448955780.0, 60);
    EXPECT_NEAR(static_cast<double>(*day1.sunsetUnix), 1448985300.0, 60);
    EXPECT_EQ(BoardTop(0), 90) << "the owner's maxima stay";
    EXPECT_EQ(BoardTop(1), 0);
    EXPECT_EQ(BoardTop(2), 45);
    const std::vector<ScheduleEntry> program1 = backend_.Board().Schedule();

    // Later the same day, and after a restart of the service: the board holds today's program.
    SetTime(2015, 12, 1, 23, 59);
    Check();
    EXPECT_TRUE(backend_.Transfers().empty()) << "done for today: not even a read";
    Start(2015, 12, 1, 23, 59);
    EXPECT_EQ(RowsWritten(), 0) << "the board's table is today's program";
    EXPECT_EQ(SetsOf(1), 0) << "the moon transit is today's";
    EXPECT_FALSE(keeper_->Today(kSerial)->uploaded);

    // Day 2, shortly after midnight: the days shorten, the program with them.
    SetTime(2015, 12, 2, 0, 1);
    Check();
    EXPECT_EQ(RowIndexesWritten(), allRows);
    EXPECT_NE(backend_.Board().Schedule(), program1);
    EXPECT_TRUE(keeper_->Today(kSerial)->uploaded);
    EXPECT_EQ(keeper_->Today(kSerial)->date, (sun::CivilDate{2015, 12, 2}));

    // Day 3, after the owner put another program on the board: its colour mix is taken.
    std::vector<ScheduleEntry> owners = OwnersRows();
    owners[12].Color = {50, 20, 0};
    backend_.Board().Schedule() = owners;
    SetTime(2015, 12, 3, 0, 1);
    Check();
    EXPECT_EQ(RowIndexesWritten(), allRows);
    EXPECT_EQ(BoardTop(0), 50);
    EXPECT_EQ(BoardTop(1), 20);
    EXPECT_EQ(BoardTop(2), 5) << "C's highest value is now the 5 % of the other rows";
    EXPECT_EQ(StoreCommands(), 0);
    EXPECT_EQ(backend_.Board().EEPROMStoreCount(), storedBefore) << "the power-on program stays the owner's";
}

TEST_F(FollowedSun, APolarNightLikeTheDayBeforeUploadsNoRow) {
    settings_.place = "Longyearbyen";
    Start(2015, 12, 20, 12, 0);
    EXPECT_EQ(RowsWritten(), 24) << "the owner's program becomes a dark day";
    EXPECT_EQ(BoardTop(0), 0);
    SetTime(2015, 12, 21, 0, 1);
    Check();
    EXPECT_EQ(RowsWritten(), 0) << "the same dark day again";
    ASSERT_TRUE(keeper_->Today(kSerial));
    EXPECT_FALSE(keeper_->Today(kSerial)->uploaded);
    EXPECT_FALSE(keeper_->Today(kSerial)->sunrise);
    EXPECT_EQ(keeper_->Today(kSerial)->date, (sun::CivilDate{2015, 12, 21}));
}

TEST_F(FollowedSun, TheBoardsMoonFollowsTheRealMoonsPhases) {
    // The moon's phases of late 2015 as published (UTC): full 25 November 22:44, last
    // quarter 3 December 07:40, new 11 December 10:29, first quarter 18 December 15:14. The
    // board draws its moon from today's transit against its full-moon transit (23:30 here).
    struct Day {
        sun::CivilDate date;
        double phase;                  // the published phase's illuminated part
        std::optional<bool> litRight;  // waxing: lit on the right; none at full and new
    };
    const Day days[] = {
        {{2015, 11, 25}, 1.0, std::nullopt},
        {{2015, 12, 3}, 0.5, false},
        {{2015, 12, 11}, 0.0, std::nullopt},
        {{2015, 12, 18}, 0.5, true},
    };
    for (const Day& d : days) {
        SCOPED_TRACE(sun::FormatDate(d.date));
        NextDay(d.date, 10);
        const LiveState& live = backend_.Board().Live();
        const MoonPhase moon = ComputeMoonPhase(live.MoonTransitHour, live.MoonTransitMinute, 23, 30);
        // Within a day of the real moon: it changes by at most about 0.12 a day.
        EXPECT_NEAR(moon.phase, d.phase, 0.12);
        if (d.litRight) {
            EXPECT_EQ(moon.litRight, *d.litRight);
        }
    }
}

TEST_F(FollowedSun, TheSensorsInstantsCountTheHourTheClockSkipsOrRepeats) {
    // London's clock goes from 01:00 to 02:00 on 29 March 2026 and from 02:00 back to 01:00
    // on 25 October 2026: a time of the board's clock after that lies an hour nearer to (or
    // further from) midnight than its reading says.
    struct Day {
        sun::CivilDate date;
        double midnightUtc;  // local midnight, seconds since 1970
        int skippedMinutes;  // the clock's jump by the afternoon
    };
    const Day days[] = {
        {{2026, 3, 29}, 1774742400, 60},
        {{2026, 6, 1}, 1780268400, 0},
        {{2026, 10, 25}, 1792882800, -60},
    };
    for (const Day& d : days) {
        SCOPED_TRACE(sun::FormatDate(d.date));
        Start(d.date.year, d.date.month, d.date.day, 12, 0);
        ASSERT_TRUE(keeper_->Today(kSerial));
        const SunToday t = *keeper_->Today(kSerial);
        ASSERT_TRUE(t.sunset && t.sunsetUnix);
        EXPECT_NEAR(static_cast<double>(*t.sunsetUnix), d.midnightUtc + (*t.sunset - d.skippedMinutes) * 60, 1);
    }
}

TEST_F(FollowedSun, ABoardNotNamedInBoardsIsLeftAlone) {
    settings_.boards = {"QV2-999999"};
    Start(2026, 6, 1, 10, 0);
    EXPECT_FALSE(keeper_->Follows(kSerial));
    EXPECT_TRUE(backend_.Transfers().empty());
    EXPECT_FALSE(keeper_->Today(kSerial));
    EXPECT_EQ(backend_.Board().Schedule(), OwnersRows());
}

TEST_F(FollowedSun, WeeklyStoresOnceInSevenDays) {
    settings_.saveWeekly = true;
    const int storedBefore = backend_.Board().EEPROMStoreCount();
    std::vector<int> stores;
    Start(2026, 3, 1, 8, 0);
    EXPECT_EQ(StoreCommands(), 1) << "one store command, not retried after it went through";
    stores.push_back(backend_.Board().EEPROMStoreCount() - storedBefore);
    for (int day = 2; day <= 9; ++day) {
        SetTime(2026, 3, day, 0, 1);
        Check();
        ASSERT_EQ(RowsWritten(), 24) << "March's days lengthen: a new program every day, day " << day;
        stores.push_back(backend_.Board().EEPROMStoreCount() - storedBefore);
    }
    // 1 March stores, the next six days do not, 8 March (seven days on) stores again.
    EXPECT_EQ(stores, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 2, 2}));
}

TEST_F(FollowedSun, TheRampsMaximaReachTheBoard) {
    settings_.maxima = "A=80,C=40";
    settings_.acclimateFrom = sun::CivilDate{2026, 3, 10};
    settings_.acclimateDays = 10;
    settings_.acclimateStart = 50;
    struct Day {
        sun::CivilDate date;
        int topA, topC;  // 80 % and 40 % times the ramp's percentage
    };
    const Day days[] = {
        {{2026, 3, 8}, 40, 20},   // before: the start's 50 %
        {{2026, 3, 10}, 40, 20},  // day 0
        {{2026, 3, 15}, 60, 30},  // half-way: 75 %
        {{2026, 3, 20}, 80, 40},  // the end
        {{2026, 4, 2}, 80, 40},   // after
    };
    for (const Day& d : days) {
        SCOPED_TRACE(sun::FormatDate(d.date));
        NextDay(d.date, 6);
        // The fitted rows may miss noon's top by the rounding of a row between.
        EXPECT_NEAR(BoardTop(0), d.topA, 1);
        EXPECT_NEAR(BoardTop(2), d.topC, 1);
        EXPECT_EQ(BoardTop(1), 0) << "a channel off stays off";
    }
}

TEST_F(FollowedSun, AFailedUploadIsTriedAgainMinutesLaterNotAtOnce) {
    backend_.FailNext(true, 3, 100);  // every row write fails, retries included
    Start(2026, 6, 1, 10, 0);
    EXPECT_GT(RowsWritten(), 0);
    EXPECT_FALSE(keeper_->Today(kSerial));
    backend_.FailNext(true, 3, 0);
    monotonicMs_ += kSunRetryMs - 1000;
    Check();
    EXPECT_TRUE(backend_.Transfers().empty()) << "not again within the retry interval";
    monotonicMs_ += 1000;
    Check();
    EXPECT_EQ(RowsWritten(), 24);
    ASSERT_TRUE(keeper_->Today(kSerial));
    EXPECT_TRUE(keeper_->Today(kSerial)->uploaded);
}

}  // namespace
}  // namespace quelvan::service
