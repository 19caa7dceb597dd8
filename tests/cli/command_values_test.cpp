#include "cli/command_values.h"

#include <gtest/gtest.h>

#include "device/channel_names.h"

namespace quelvan::cli {
namespace {

TEST(CommandValues, PercentagesBecomeBoardValuesRoundedHalfToEven) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"50", 2048},           {"33,3", 1364},  {"33.3", 1364}, {"0", 0},
        {"100", 4096},          {"24.41", 1000}, {"0.02", 1},    {".5", 20},
        {"0.0122070312500", 0},  // exactly 0.5: halves go to the even neighbour
        {"0.0366210937500", 2},  // exactly 1.5
        {"+12,5", 512},
    };
    for (const Case& c : cases) {
        const auto percent = ParseDecimal(c.text);
        ASSERT_TRUE(percent) << c.text;
        EXPECT_EQ(ChannelValueFromPercent(*percent), c.value) << c.text;
    }
}

TEST(CommandValues, OnlyPlainDecimalNumbersParse) {
    for (const char* text :
         {"", "abc", "1e2", "inf", "nan", "1.2.3", "1,2,3", "12%", " 12", "12 ", "-", ".", "0x10", "1,000.5"}) {
        EXPECT_FALSE(ParseDecimal(text)) << text;
    }
    EXPECT_EQ(ParseDecimal("-3,5"), -3.5);
}

TEST(CommandValues, PercentShowsUpToTwoDecimalsWithoutTrailingZeros) {
    struct Case {
        int value;
        const char* text;
    };
    const Case cases[] = {{2048, "50"}, {1000, "24.41"}, {1, "0.02"},  {4096, "100"},
                          {0, "0"},     {-1, "-0.02"},   {1024, "25"}, {410, "10.01"}};
    for (const Case& c : cases) EXPECT_EQ(FormatPercent(c.value), c.text) << c.value;
    EXPECT_DOUBLE_EQ(PercentNumber(1000), 24.41);
    EXPECT_DOUBLE_EQ(PercentNumber(2048), 50);
    EXPECT_EQ(FormatTrimmed(11.85, 2), "11.85");
    EXPECT_EQ(FormatTrimmed(12.0, 2), "12");
    EXPECT_EQ(FormatTrimmed(-4.5, 1), "-4.5");
    EXPECT_EQ(FormatTrimmed(25.0, 1), "25");
}

TEST(CommandValues, ClockTimesUpToTheEndOfTheDay) {
    struct Case {
        const char* text;
        bool valid;
        int hour, minute;
    };
    const Case cases[] = {
        {"07:05", true, 7, 5},  {"7:5", true, 7, 5},       {"00:00", true, 0, 0},    {"23:59", true, 23, 59},
        {"24:00", true, 24, 0}, {"24:01", false, 0, 0},    {"25:00", false, 0, 0},   {"12:60", false, 0, 0},
        {"1200", false, 0, 0},  {":30", false, 0, 0},      {"12:", false, 0, 0},     {"-1:00", false, 0, 0},
        {"a:b", false, 0, 0},   {"12:30:00", false, 0, 0}, {"0256:00", false, 0, 0},
    };
    for (const Case& c : cases) {
        const auto time = ParseClockTime(c.text);
        ASSERT_EQ(time.has_value(), c.valid) << c.text;
        if (!time) continue;
        EXPECT_EQ(time->hour, c.hour) << c.text;
        EXPECT_EQ(time->minute, c.minute) << c.text;
    }
}

TEST(CommandValues, ChannelsModesAndSwitchWords) {
    EXPECT_EQ(ParseChannel("A"), 0);
    EXPECT_EQ(ParseChannel("c"), 2);
    EXPECT_EQ(ParseChannel("L"), 11);
    EXPECT_EQ(ParseChannel("ALL"), kAllChannels);
    for (const char* bad : {"M", "", "AB", "1", "alle"}) EXPECT_FALSE(ParseChannel(bad)) << bad;

    struct Mode {
        const char* text;
        int value;
    };
    const Mode modes[] = {{"manual", 0}, {"Manuell", 0}, {"AUTO", 1}, {"demo", 2}, {"Flash", 3}, {"slave", 4}};
    for (const Mode& m : modes) EXPECT_EQ(ParseModeName(m.text), m.value) << m.text;
    EXPECT_FALSE(ParseModeName("turbo"));
    EXPECT_FALSE(ParseModeName("1"));
    EXPECT_EQ(ModeName(0), "Manuell");
    EXPECT_EQ(ModeName(4), "Slave");
    EXPECT_EQ(ModeName(5), "");

    EXPECT_EQ(ParseOnOff("ON"), true);
    EXPECT_EQ(ParseOnOff("aus"), false);
    EXPECT_FALSE(ParseOnOff("50"));
}

TEST(ChannelNames, DisplayNameUsesTheLetterForIndexZeroAndNeverReadsPastTheTable) {
    struct Case {
        int channel, index;
        const char* name;
    };
    const Case cases[] = {
        {0, 0, "Kanal A"},    {11, 0, "Kanal L"}, {1, 4, "Blau"},      {2, 3, "Grün"},
        {5, 11, "Royalblau"}, {3, 12, "Kanal D"}, {3, 255, "Kanal D"}, {3, -1, "Kanal D"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChannelDisplayName(c.channel, c.index), c.name) << c.channel << "/" << c.index;
}

}  // namespace
}  // namespace quelvan::cli
