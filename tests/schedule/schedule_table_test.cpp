#include "schedule/schedule_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quelvan {
namespace {

ScheduleEntry At(int hour, int minute, std::uint8_t marker = 0) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color[0] = marker;  // tells entries with equal times apart
    return e;
}

std::vector<std::string> Times(const std::vector<ScheduleEntry>& table) {
    std::vector<std::string> times;
    for (const ScheduleEntry& e : table) times.push_back(CellTexts(0, e).time);
    return times;
}

std::vector<int> Markers(const std::vector<ScheduleEntry>& table) {
    std::vector<int> markers;
    for (const ScheduleEntry& e : table) markers.push_back(e.Color[0]);
    return markers;
}

TEST(SortTableByTime, OrdersByHourThenMinuteAsSignedBytes) {
    struct Case {
        const char* name;
        std::vector<ScheduleEntry> table;
        std::vector<std::string> times;
    };
    const Case cases[] = {
        {"day's end last, midnight first",
         {At(12, 0), At(6, 30), At(24, 0), At(0, 0)},
         {"00:00", "06:30", "12:00", "24:00"}},
        // The byte 200 is minute -56: it comes before minute 0 of the same hour.
        {"minute 200 is negative", {At(8, 0), At(8, 200), At(7, 59)}, {"07:59", "08:-56", "08:00"}},
        {"negative hour first", {At(1, 0), At(-3, 0), At(0, 59)}, {"-03:00", "00:59", "01:00"}},
        {"already sorted", {At(0, 0), At(0, 1), At(23, 59)}, {"00:00", "00:01", "23:59"}},
        {"one entry", {At(5, 5)}, {"05:05"}},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<ScheduleEntry> table = c.table;
        SortTableByTime(table);
        EXPECT_EQ(Times(table), c.times) << c.name;
    }
}

TEST(SortTableByTime, EqualTimesKeepTheirOrderAtEveryRunLength) {
    // Many equal times spread over runs of different lengths: any merge that took the
    // right entry on a tie would swap some of them.
    for (int n : {2, 3, 5, 8, 13, 255}) {
        std::vector<ScheduleEntry> table;
        for (int i = 0; i < n; ++i) table.push_back(At(i % 3 == 0 ? 10 : 9, 0, static_cast<std::uint8_t>(i)));
        SortTableByTime(table);
        std::vector<int> nines, tens;
        for (int i = 0; i < n; ++i) (i % 3 == 0 ? tens : nines).push_back(i);
        std::vector<int> expected = nines;
        expected.insert(expected.end(), tens.begin(), tens.end());
        EXPECT_EQ(Markers(table), expected) << n;
    }
}

TEST(ScheduleCells, TextsAsTheGridShowsThem) {
    ScheduleEntry e = At(7, 5);
    e.Color = {0, 5, 10, 100, 255, 44, 1, 2, 3, 4, 99, 200};
    const EntryCells cells = CellTexts(12, e);
    EXPECT_EQ(cells.pos, "12");
    EXPECT_EQ(cells.time, "07:05");
    const std::array<std::string, 12> channels = {"0", "5", "10", "100", "255", "44", "1", "2", "3", "4", "99", "200"};
    EXPECT_EQ(cells.channels, channels);
    EXPECT_EQ(CellTexts(0, At(24, 0)).time, "24:00");
    EXPECT_EQ(CellTexts(0, At(12, 200)).time, "12:-56");
}

TEST(ScheduleCells, TimeCellColonRules) {
    struct Case {
        const char* text;
        int hour;
        int minute;
    };
    // The entry starts at 11:45; fields the text does not give keep those values.
    const Case cases[] = {
        {"8", 11, 8},          // no colon: the minute only
        {"8:", 8, 45},         // nothing after the colon
        {":30", 11, 30},       // nothing before the colon
        {"07:05", 7, 5},       //
        {" 6 : 7 ", 6, 7},     // blanks around the numbers
        {"12:30:15", 12, 45},  // the rest after the first colon is no number
        {"ab:cd", 11, 45},     //
        {"", 11, 45},          //
        {":", 11, 45},         //
        {"25:61", 25, 61},     // no range check
        {"300:-1", 44, -1},    // low 8 bits, signed
        {"-1:200", -1, -56},   //
    };
    for (const Case& c : cases) {
        ScheduleEntry e = At(11, 45);
        ReadCellTexts(e, c.text, {});
        EXPECT_EQ(e.Hour, c.hour) << '"' << c.text << '"';
        EXPECT_EQ(e.Minute, c.minute) << '"' << c.text << '"';
    }
}

TEST(ScheduleCells, ChannelCellsKeepLow8BitsOrTheirValue) {
    ScheduleEntry e = At(1, 2);
    e.Color.fill(77);
    const std::array<std::string, 12> cells = {"300", "-1",   "0",   "100", "",     "x",
                                               "1.5", " 42 ", "256", "+7",  "0x10", "99999999999999999999"};
    ReadCellTexts(e, "1:2", cells);
    const std::array<std::uint8_t, 12> expected = {44, 255, 0, 100, 77, 77, 77, 42, 0, 7, 77, 77};
    EXPECT_EQ(e.Color, expected);
}

TEST(ScheduleTable, LoadTracksWhichRowsArrived) {
    ScheduleTable table;
    EXPECT_FALSE(table.LoadedCompletelyFrom(1)) << "nothing loaded yet";

    table.BeginLoad(3, 7);
    EXPECT_EQ(table.Size(), 3u);
    EXPECT_TRUE(table.Store(std::make_pair(std::uint8_t{2}, At(2, 0))));
    EXPECT_FALSE(table.Store(std::nullopt)) << "a failed read stores nothing";
    EXPECT_FALSE(table.Store(std::make_pair(std::uint8_t{3}, At(3, 0)))) << "index at the end";
    EXPECT_FALSE(table.Store(std::make_pair(std::uint8_t{255}, At(3, 0)))) << "index past the end";
    EXPECT_TRUE(table.Store(std::make_pair(std::uint8_t{0}, At(0, 0))));
    EXPECT_TRUE(table.Store(std::make_pair(std::uint8_t{2}, At(2, 2)))) << "the same index again";
    EXPECT_EQ(table.Size(), 3u);
    EXPECT_EQ(table.ArrivedCount(), 2);
    EXPECT_FALSE(table.LoadedCompletelyFrom(7)) << "row 1 is missing";

    EXPECT_TRUE(table.Store(std::make_pair(std::uint8_t{1}, At(1, 0))));
    EXPECT_TRUE(table.LoadedCompletelyFrom(7));
    EXPECT_FALSE(table.LoadedCompletelyFrom(8)) << "another board since";
    EXPECT_EQ(Times(table.Entries()), (std::vector<std::string>{"00:00", "01:00", "02:02"}));

    // A new load starts over; rows keep their contents until they arrive again.
    table.BeginLoad(4, 8);
    EXPECT_EQ(table.ArrivedCount(), 0);
    EXPECT_FALSE(table.LoadedCompletelyFrom(8));
    EXPECT_EQ(Times(table.Entries()), (std::vector<std::string>{"00:00", "01:00", "02:02", "00:00"}));

    table.BeginLoad(0, 9);
    EXPECT_TRUE(table.Empty());
    EXPECT_TRUE(table.LoadedCompletelyFrom(9)) << "an empty board's table is complete";
}

}  // namespace
}  // namespace quelvan
