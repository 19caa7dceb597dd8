// The sun layer: places from the time-zone table, days of the sun against published values,
// the clock changing, polar day and night, the brightness curve and its fit to the board's
// rows checked against a dense evaluation, the moved noon and the midday pause, and the moon
// setting read back through the board's own phase rule. (Many more days, against an
// independent computation of the sky, in sun_oracle_test.py.)

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "schedule/moon_phase.h"
#include "sun/daylight.h"

namespace quelvan::sun {
namespace {

const std::string kFixture = QUELVAN_SUN_FIXTURE;

TEST(Places, ReadsCoordinatesOfBothLayouts) {
    const std::vector<Place> places = ReadZoneTable(kFixture);
    ASSERT_EQ(places.size(), 7u);  // the broken lines are skipped
    struct Case {
        std::size_t index;
        const char* zone;
        const char* country;
        double lat, lon;
    };
    for (const Case& c :
         {Case{0, "Europe/London", "GB,GG,IM,JE", 51 + 30 / 60.0 + 30 / 3600.0, -(7 / 60.0 + 31 / 3600.0)},
          Case{1, "America/Manaus", "BR", -(3 + 8 / 60.0), -(60 + 1 / 60.0)},
          Case{6, "Europe/Berlin", "DE", 52.5, 13 + 22 / 60.0}}) {
        SCOPED_TRACE(c.zone);
        EXPECT_EQ(places[c.index].zone, c.zone);
        EXPECT_EQ(places[c.index].country, c.country);
        EXPECT_NEAR(places[c.index].latitude, c.lat, 1e-9);
        EXPECT_NEAR(places[c.index].longitude, c.lon, 1e-9);
    }
}

TEST(Places, FindsByZonePartOrCoordinatesAndRefusesAmbiguity) {
    const std::vector<Place> places = ReadZoneTable(kFixture);
    struct Case {
        const char* text;
        const char* zone;   // expected zone; "" for coordinates, nullptr for a refusal
        const char* error;  // part of the refusal
    };
    for (const Case& c : {Case{"America/Manaus", "America/Manaus", ""}, Case{"manaus", "America/Manaus", ""},
                          Case{"BERLIN", "Europe/Berlin", ""}, Case{"buenos", "America/Argentina/Buenos_Aires", ""},
                          Case{"America/", nullptr, "America/Indiana/Indianapolis"}, Case{"an", nullptr, "ambiguous"},
                          Case{"Atlantis", nullptr, "unknown place 'Atlantis'"}, Case{"-3.1,-60.02", "", ""},
                          Case{"91,0", nullptr, "LAT,LON"}, Case{"12.5,abc", nullptr, "LAT,LON"}}) {
        SCOPED_TRACE(c.text);
        const PlaceLookup found = FindPlace(places, c.text);
        if (!c.zone) {
            EXPECT_FALSE(found.place);
            EXPECT_NE(found.error.find(c.error), std::string::npos) << found.error;
            continue;
        }
        ASSERT_TRUE(found.place) << found.error;
        EXPECT_EQ(found.place->zone, c.zone);
    }
    const PlaceLookup typed = FindPlace(places, "-3.1,-60.02");
    EXPECT_DOUBLE_EQ(typed.place->latitude, -3.1);
    EXPECT_DOUBLE_EQ(typed.place->longitude, -60.02);
}

TEST(Places, TheComputersTableHoldsTheZones) {
    const std::vector<Place> places = LoadPlaces();
    ASSERT_GT(places.size(), 350u);
    const PlaceLookup manaus = FindPlace(places, "Manaus");
    ASSERT_TRUE(manaus.place) << manaus.error;
    EXPECT_NEAR(manaus.place->latitude, -3.13, 0.01);
    EXPECT_NEAR(manaus.place->longitude, -60.02, 0.01);
    // Only in zone.tab (a link in zone1970.tab): still a place, with its own country.
    const PlaceLookup vaduz = FindPlace(places, "Europe/Vaduz");
    ASSERT_TRUE(vaduz.place) << vaduz.error;
    EXPECT_EQ(vaduz.place->country, "LI");
    EXPECT_TRUE(ZoneExists("America/Manaus"));
    EXPECT_FALSE(ZoneExists("../etc/passwd"));
}

Place At(double lat, double lon) {
    return Place{"", "", lat, lon};
}

// Published almanac values (UTC).
TEST(SunDay, MatchesPublishedTimes) {
    struct Case {
        const char* what;
        Place place;
        CivilDate date;
        double sunrise, sunset;  // minutes after midnight UTC
    };
    const Case cases[] = {
        {"London 2015-12-01", At(51.5074, -0.1278), {2015, 12, 1}, 7 * 60 + 43, 15 * 60 + 55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SunDay day(c.place, "UTC", c.date);
        ASSERT_TRUE(day.Sunrise() && day.Sunset());
        EXPECT_NEAR(*day.Sunrise(), c.sunrise, 1.0);
        EXPECT_NEAR(*day.Sunset(), c.sunset, 1.0);
    }
}

TEST(SunDay, ADayTheClockChangesCountsItsRealLength) {
    // Berlin, spring forward on 2026-03-29, back on 2026-10-25: sunrise jumps by an hour less
    // the day's few minutes, the day's length does not jump at all.
    struct Case {
        CivilDate before, change;
        double jump;  // the clock's change in minutes
    };
    for (const Case& c : {Case{{2026, 3, 28}, {2026, 3, 29}, 60}, Case{{2026, 10, 24}, {2026, 10, 25}, -60}}) {
        SCOPED_TRACE(FormatDate(c.change));
        const Place berlin = At(52.5, 13.37);
        const SunDay before(berlin, "Europe/Berlin", c.before), change(berlin, "Europe/Berlin", c.change);
        EXPECT_NEAR(*change.Sunrise() - *before.Sunrise(), c.jump, 4.0);
        EXPECT_NEAR(change.DayLength() - before.DayLength(), c.jump > 0 ? 3.7 : -3.6, 1.0);
        EXPECT_NEAR(change.UtcSeconds(*change.Sunrise()) - before.UtcSeconds(*before.Sunrise()), 86400, 240);
    }
}

TEST(SunDay, PolarDayAndNight) {
    const Place longyearbyen = At(78.0, 16.0);
    const SunDay summer(longyearbyen, "Arctic/Longyearbyen", {2026, 6, 21});
    EXPECT_EQ(summer.PolarState(), Polar::Day);
    EXPECT_FALSE(summer.Sunrise() || summer.Sunset());
    EXPECT_EQ(summer.DayLength(), 1440);
    const SunDay winter(longyearbyen, "Arctic/Longyearbyen", {2026, 12, 21});
    EXPECT_EQ(winter.PolarState(), Polar::Night);
    EXPECT_EQ(winter.DayLength(), 0);
    EXPECT_LT(winter.NoonElevation(), -6);
}

TEST(SunDay, MoonAtPublishedFullAndNewMoons) {
    // The total lunar eclipse of 2026-03-03 (full) and the annular solar eclipse of 2026-02-17 (new).
    const Place greenwich = At(51.48, 0.0);
    EXPECT_GT(SunDay(greenwich, "UTC", {2026, 3, 3}).MoonIlluminatedFraction(), 0.98);
    EXPECT_LT(SunDay(greenwich, "UTC", {2026, 2, 17}).MoonIlluminatedFraction(), 0.02);
    EXPECT_TRUE(SunDay(greenwich, "UTC", {2026, 2, 24}).MoonIsWaxing());
    EXPECT_FALSE(SunDay(greenwich, "UTC", {2026, 3, 10}).MoonIsWaxing());
}

// What the board runs from its rows, computed here on its own: straight lines, wrapping.
double RunsAt(const std::vector<ScheduleEntry>& rows, int channel, double minute) {
    std::vector<std::pair<double, double>> points;
    for (const ScheduleEntry& r : rows) points.push_back({r.Hour * 60.0 + r.Minute, r.Color[channel]});
    points.insert(points.begin(), {points.back().first - 1440, points.back().second});
    points.push_back({points[1].first + 1440, points[1].second});
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        if (minute >= points[i].first && minute < points[i + 1].first) {
            const double span = points[i + 1].first - points[i].first;
            return points[i].second + (points[i + 1].second - points[i].second) * (minute - points[i].first) / span;
        }
    }
    return points.back().second;
}

double SinDeg(double d) {
    return std::sin(d * std::numbers::pi / 180);
}

struct FitCase {
    const char* what;
    Place place;
    const char* zone;
    CivilDate date;
    double horizon;
};

TEST(Daylight, CurveFollowsTheElevationAndTheFitHoldsWithinAPointWith24Rows) {
    const FitCase cases[] = {
        {"London summer", At(51.51, -0.13), "Europe/London", {2026, 6, 21}, kStandardHorizon},
        {"London winter", At(51.51, -0.13), "Europe/London", {2026, 12, 21}, kStandardHorizon},
        {"Manaus civil", At(-3.13, -60.02), "America/Manaus", {2026, 3, 20}, kCivilHorizon},
        {"Sydney", At(-33.87, 151.21), "Australia/Sydney", {2026, 1, 15}, kStandardHorizon},
        {"Berlin clock change", At(52.5, 13.37), "Europe/Berlin", {2026, 3, 29}, kStandardHorizon},
        {"Longyearbyen polar day", At(78.0, 16.0), "Arctic/Longyearbyen", {2026, 6, 21}, kStandardHorizon},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.what);
        const SunDay day(c.place, c.zone, c.date);
        DaylightOptions options;
        options.horizon = c.horizon;
        options.maxima = {100, 80, 60, 40, 20, 0, 100, 90, 70, 50, 30, 10};
        const DaylightCurve curve(day, options);
        const double sinNoon = SinDeg(day.NoonElevation()), sinH0 = SinDeg(c.horizon);
        for (int m = 0; m < 1440; m += 7) {
            const double h = day.ElevationAtMinute(m);
            const double want = h <= c.horizon ? 0 : (SinDeg(h) - sinH0) / (sinNoon - sinH0);
            ASSERT_NEAR(curve.Fraction(m), want, 1e-9) << m;
        }
        EXPECT_NEAR(curve.Fraction(day.SolarNoon()), 1.0, 1e-6);

        const FittedProgram program = FitProgram(curve, 24);
        ASSERT_EQ(program.rows.size(), 24u);
        double worst = 0;
        for (double s = 0; s < 86400; s += 5)
            for (int ch = 0; ch < kChannelCount; ++ch)
                worst = std::max(
                    worst, std::abs(RunsAt(program.rows, ch, s / 60) - curve.ChannelTop(ch) * curve.Fraction(s / 60)));
        EXPECT_NEAR(program.maxError, worst, 0.05);
        EXPECT_LE(worst, 1.0);
        for (std::size_t i = 1; i < program.rows.size(); ++i)
            EXPECT_LT(program.rows[i - 1].Hour * 60 + program.rows[i - 1].Minute,
                      program.rows[i].Hour * 60 + program.rows[i].Minute);
        const auto sunrise = c.horizon == kCivilHorizon ? day.CivilDawn() : day.Sunrise();
        int dark = 0;
        for (const ScheduleEntry& r : program.rows) {
            EXPECT_EQ(r.Color[5], 0);  // a channel at 0 stays off
            if (r.Color[0] == 0) ++dark;
        }
        if (sunrise) {
            // A row where the night ends, one where it begins.
            EXPECT_GE(dark, 2);
            EXPECT_NEAR(RunsAt(program.rows, 0, *sunrise - 5), 0, 1e-9);
        } else {
            EXPECT_EQ(dark, 0);  // a polar day never reaches 0
        }
    }
}

TEST(Daylight, APolarNightIsADarkDay) {
    const SunDay day(At(78.0, 16.0), "Arctic/Longyearbyen", {2026, 12, 21});
    const DaylightCurve curve(day, DaylightOptions{});
    const FittedProgram program = FitProgram(curve, 12);
    ASSERT_EQ(program.rows.size(), 12u);
    for (const ScheduleEntry& r : program.rows) EXPECT_EQ(r.Color, (std::array<std::uint8_t, kChannelCount>{}));
    EXPECT_EQ(program.maxError, 0);
}

TEST(Daylight, NoonMovesTheWholeDayAndTheSiestaDimsItsSpan) {
    const SunDay day(At(-13.5, 34.0), "Africa/Blantyre", {2026, 6, 1});  // Lake Malawi
    DaylightOptions plain;
    const DaylightCurve usual(day, plain);
    DaylightOptions evening;
    evening.noon = 20 * 60;
    const DaylightCurve moved(day, evening);
    EXPECT_NEAR(moved.Fraction(20 * 60), 1.0, 1e-6);
    for (int m = -300; m <= 300; m += 30)
        EXPECT_NEAR(moved.Fraction(20 * 60 + m), usual.Fraction(day.SolarNoon() + m), 1e-9) << m;
    const FittedProgram program = FitProgram(moved, 24);
    int peak = 0, highest = -1;
    for (const ScheduleEntry& r : program.rows)
        if (r.Color[0] > highest) highest = r.Color[0], peak = r.Hour * 60 + r.Minute;
    EXPECT_NEAR(peak, 20 * 60, 40);
    EXPECT_LE(program.maxError, 1.0);

    DaylightOptions pause;
    pause.siesta = ParseSiesta("12:00-14:00=40");
    ASSERT_TRUE(pause.siesta);
    const DaylightCurve paused(day, pause);
    for (int m : {12 * 60, 13 * 60, 14 * 60}) EXPECT_NEAR(paused.Fraction(m), 0.4 * usual.Fraction(m), 1e-9);
    for (int m : {11 * 60 + 59, 14 * 60 + 1, 10 * 60}) EXPECT_NEAR(paused.Fraction(m), usual.Fraction(m), 1e-9);
    const FittedProgram stepped = FitProgram(paused, 24);
    std::vector<int> times;
    for (const ScheduleEntry& r : stepped.rows) times.push_back(r.Hour * 60 + r.Minute);
    for (int edge : {11 * 60 + 59, 12 * 60, 14 * 60, 14 * 60 + 1})
        EXPECT_NE(std::find(times.begin(), times.end(), edge), times.end()) << edge;
    EXPECT_LE(stepped.maxError, 1.0);
}

TEST(Daylight, ParsesTheOwnersChoices) {
    EXPECT_EQ(ParseMinuteOfDay("07:05"), 425);
    EXPECT_EQ(ParseMinuteOfDay("24:00"), 1440);
    for (const char* bad : {"24:01", "7:5", "12:60", "1200", "ab:cd"}) EXPECT_FALSE(ParseMinuteOfDay(bad)) << bad;
    const auto siesta = ParseSiesta("12:30-14:00=25.5");
    ASSERT_TRUE(siesta);
    EXPECT_EQ(siesta->start, 750);
    EXPECT_EQ(siesta->end, 840);
    EXPECT_DOUBLE_EQ(siesta->percent, 25.5);
    for (const char* bad : {"14:00-12:00=50", "12:00-14:00=101", "12:00-14:00", "00:00-02:00=50"})
        EXPECT_FALSE(ParseSiesta(bad)) << bad;
    std::array<double, kChannelCount> maxima{};
    maxima.fill(100);
    std::string error;
    ASSERT_TRUE(ParseMaxima("A=80,c=60", maxima, error)) << error;
    EXPECT_EQ(maxima[0], 80);
    EXPECT_EQ(maxima[1], 100);
    EXPECT_EQ(maxima[2], 60);
    EXPECT_FALSE(ParseMaxima("M=50", maxima, error));
    EXPECT_FALSE(ParseMaxima("A=150", maxima, error));
}

TEST(Moon, TheBoardReadsBackThePhaseAndTheSide) {
    struct Case {
        double illumination;
        bool waxing;
        int fullMoon;
    };
    for (const Case& c : {Case{1.0, true, 0}, Case{0.0, false, 0}, Case{0.5, true, 0}, Case{0.5, false, 0},
                          Case{0.75, true, 23 * 60 + 30}, Case{0.2, false, 2 * 60}, Case{0.93, false, 12 * 60}}) {
        SCOPED_TRACE(std::to_string(c.illumination) + (c.waxing ? " waxing" : " waning"));
        const int transit = BoardMoonTransit(c.illumination, c.waxing, c.fullMoon);
        ASSERT_GE(transit, 0);
        ASSERT_LT(transit, 1440);
        const MoonPhase board = ComputeMoonPhase(transit / 60, transit % 60, c.fullMoon / 60, c.fullMoon % 60);
        EXPECT_NEAR(board.phase, c.illumination, 1.0 / 720);
        // Seen from the north, a waxing moon is lit on the right.
        if (c.illumination > 0 && c.illumination < 1) {
            EXPECT_EQ(board.litRight, c.waxing);
        }
    }
}

}  // namespace
}  // namespace quelvan::sun
