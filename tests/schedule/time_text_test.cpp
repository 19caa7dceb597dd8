#include "schedule/time_text.h"

#include <gtest/gtest.h>

#include "schedule/render/argb_image.h"

namespace quelvan {
namespace {

TEST(TimeText, TwoDigitPatternKeepsTheSignOfSignedBytes) {
    const std::pair<int, const char*> cases[] = {{0, "00"},   {7, "07"},    {24, "24"},    {123, "123"},
                                                 {-5, "-05"}, {-56, "-56"}, {-128, "-128"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatTwoDigits(value), text) << value;
    EXPECT_EQ(FormatTimeOfDay(7, 5), "07:05");
    EXPECT_EQ(FormatTimeOfDay(24, 0), "24:00");
    EXPECT_EQ(FormatTimeOfDay(12, static_cast<std::int8_t>(200)), "12:-56");
}

TEST(TimeText, IntegersAreDecimalWithSignOnly) {
    const std::pair<const char*, std::optional<long long>> cases[] = {
        {"8", 8},
        {" -1 ", -1},
        {"+30", 30},
        {"300", 300},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"1.5", std::nullopt},
        {"12a", std::nullopt},
        {"0x1F", std::nullopt},
        {"+-1", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseInteger(text), value) << '"' << text << '"';
}

TEST(TimeText, SplitsAtTheFirstColonOnly) {
    ColonSplit s = SplitAtFirstColon("12:30:15");
    EXPECT_TRUE(s.hasColon);
    EXPECT_EQ(s.before, "12");
    EXPECT_EQ(s.after, "30:15");
    s = SplitAtFirstColon("8");
    EXPECT_FALSE(s.hasColon);
    EXPECT_EQ(s.before, "8");
    s = SplitAtFirstColon(":30");
    EXPECT_EQ(s.before, "");
    EXPECT_EQ(s.after, "30");
}

TEST(ArgbImage, FilledWithTheExactColourAndAlpha) {
    const QImage image = NewArgbImage(3, 2, 0x20FF8000);
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(PixelArgb(image, 2, 1), 0x20FF8000u);
    EXPECT_EQ(PixelArgb(image, 3, 0), 0u);  // outside
}

}  // namespace
}  // namespace quelvan

namespace quelvan {
namespace {

TEST(TimeText, TypedTimeStoresHourThenMinute) {
    struct Case {
        const char* text;
        bool written;
        int hour, minute;  // after, starting from 7:5
    };
    const Case cases[] = {
        {"12:30", true, 12, 30}, {"12:", false, 12, 5},     {"1230", false, 7, 5},
        {":30", false, 7, 5},    {"ab:30", false, 7, 5},    {"12:3x", false, 12, 5},
        {" 9 : 8 ", true, 9, 8}, {"300:-1", true, 44, 255}, {"12:30:15", false, 12, 5},
    };
    for (const Case& c : cases) {
        std::uint8_t hour = 7, minute = 5;
        EXPECT_EQ(StoreTypedTime(c.text, hour, minute), c.written) << c.text;
        EXPECT_EQ(hour, c.hour) << c.text;
        EXPECT_EQ(minute, c.minute) << c.text;
    }
    // Signed fields take the same low bits.
    std::int8_t hour = 0, minute = 0;
    EXPECT_TRUE(StoreTypedTime("200:-1", hour, minute));
    EXPECT_EQ(hour, -56);
    EXPECT_EQ(minute, -1);
}

}  // namespace
}  // namespace quelvan
