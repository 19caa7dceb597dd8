#include <gtest/gtest.h>

#include <set>

#include "device/config_keys.h"
#include "device/temperature_text.h"

namespace quelvan {
namespace {

TEST(TemperatureText, TenthsShowWithAtMostOneDecimal) {
    const std::pair<int, const char*> cases[] = {
        {215, "21,5"}, {250, "25"},     {-35, "-3,5"},     {-5, "-0,5"},
        {0, "0"},      {-126, "-12,6"}, {32767, "3276,7"}, {-32768, "-3276,8"},
    };
    for (const auto& [tenths, text] : cases) EXPECT_EQ(FormatTenths(tenths, ","), text) << tenths;
    EXPECT_EQ(FormatTenths(215, "."), "21.5");
}

TEST(TemperatureText, TypedNumbersUseTheGivenSeparatorOnly) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"21,5", 21.5},
        {" -3,5 ", -3.5},
        {"+2", 2.0},
        {",5", 0.5},
        {"7,", 7.0},
        {"2,25", 2.25},
        {"21.5", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {",", std::nullopt},
        {"1,2,3", std::nullopt},
        {"1e3", std::nullopt},
        {"abc", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseDecimalNumber(text, ","), value) << '"' << text << '"';
    EXPECT_EQ(ParseDecimalNumber("21.5", "."), 21.5);
}

TEST(TemperatureText, StoredAsRoundedTenthsInTheFieldsLowBits) {
    EXPECT_EQ(Tenths16FromDegrees(21.5), 215);
    EXPECT_EQ(Tenths16FromDegrees(-3.5), -35);
    EXPECT_EQ(Tenths16FromDegrees(2.25), 22) << "22.5 tenths: halves go to even";
    EXPECT_EQ(Tenths16FromDegrees(-2.75), -28) << "-27.5 tenths: halves go to even";
    EXPECT_EQ(Tenths16FromDegrees(3276.8), -32768);
    EXPECT_EQ(Tenths16FromDegrees(1e300), 0) << "huge numbers keep their (zero) low bits";
    EXPECT_EQ(Tenths8FromDegrees(13), -126);
    EXPECT_EQ(Tenths8FromDegrees(-12.6), -126);
    EXPECT_EQ(Tenths8FromDegrees(20), -56);
}

TEST(ConfigKeys, SectionsHoldTheirKeysInFileOrder) {
    const std::pair<std::string_view, std::size_t> counts[] = {
        {kSectionConfig, 17}, {kSectionWeather, 36}, {kSectionNames, 12}, {kSectionRC5, 8}};
    std::size_t total = 0;
    for (const auto& [section, count] : counts) {
        EXPECT_EQ(ConfigKeysOf(section).size(), count) << section;
        total += count;
    }
    EXPECT_EQ(ConfigKeys().size(), total);

    auto names = [](std::string_view section) {
        std::vector<std::string> list;
        for (const ConfigKey* key : ConfigKeysOf(section)) list.push_back(key->name);
        return list;
    };
    EXPECT_EQ(names(kSectionConfig),
              (std::vector<std::string>{"Mode", "Step", "FanLow", "FanHigh", "LCDBLMin", "LCDBLMax", "TimeLapse",
                                        "PoweronPosition", "PWMPrescaler", "TWIBitrate", "FanMode", "TempWaterLow",
                                        "TempWaterHigh", "JMPMode", "TempJMPLow", "TempJMPHigh", "TempOffset"}));
    const std::vector<std::string> weather = names(kSectionWeather);
    EXPECT_EQ(weather[0], "CloudP");
    EXPECT_EQ(weather[11], "FullmoonTransitMinute");
    EXPECT_EQ(weather[12], "LightningColor0");
    EXPECT_EQ(weather[23], "LightningColor11");
    EXPECT_EQ(weather[24], "MoonColor0");
    EXPECT_EQ(weather[35], "MoonColor11");
    EXPECT_EQ(names(kSectionNames).back(), "ColorName11");
    EXPECT_EQ(names(kSectionRC5),
              (std::vector<std::string>{"Up", "Down", "Left", "Right", "Previous", "Next", "Settings", "Step"}));
}

TEST(ConfigKeys, EveryKeyReachesItsOwnField) {
    // Writing a distinct value through each key must change exactly one field's bytes, and
    // a different field for every key.
    std::set<std::pair<int, std::size_t>> touched;
    for (const ConfigKey& key : ConfigKeys()) {
        DeviceConfig before;
        DeviceConfig after;
        StoreConfigKey(after, key, 0x15);
        EXPECT_EQ(ReadConfigKey(after, key), 0x15) << key.QualifiedName();
        int changedBytes = 0;
        auto compare = [&](int part, auto a, auto b) {
            for (std::size_t i = 0; i < a.size(); ++i)
                if (a[i] != b[i]) {
                    ++changedBytes;
                    EXPECT_TRUE(touched.insert({part, i}).second) << key.QualifiedName() << " shares a byte";
                }
        };
        compare(2, before.EncodePart1(), after.EncodePart1());
        compare(4, before.EncodePart2(), after.EncodePart2());
        compare(5, before.EncodePart3(), after.EncodePart3());
        compare(6, before.EncodePart4(), after.EncodePart4());
        EXPECT_EQ(changedBytes, 1) << key.QualifiedName();
    }
}

TEST(ConfigKeys, WidthsRangesAndLowBitStorage) {
    struct Case {
        const char* section;
        const char* name;
        long long minimum, maximum, stored, read;
    };
    const Case cases[] = {
        {"Config", "FanLow", 0, 255, 300, 44},
        {"Config", "TempOffset", -128, 127, 200, -56},
        {"Config", "TempWaterLow", -32768, 32767, -50, -50},
        {"Weather", "CloudAlpha", 0, 65535, 70000, 4464},
        {"Weather", "MoonColor11", 0, 255, -1, 255},
        {"RC5", "Step", 0, 65535, 65536, 0},
        // A colour name takes 0..11 (the window shows larger ones as 0), yet a file's 200 is stored.
        {"Names", "ColorName3", 0, 11, 200, 200},
    };
    for (const Case& c : cases) {
        const ConfigKey* key = FindConfigKey(c.section, c.name);
        ASSERT_NE(key, nullptr) << c.name;
        EXPECT_EQ(key->Minimum(), c.minimum) << c.name;
        EXPECT_EQ(key->Maximum(), c.maximum) << c.name;
        EXPECT_FALSE(key->InRange(c.maximum + 1)) << c.name;
        DeviceConfig config;
        StoreConfigKey(config, *key, c.stored);
        EXPECT_EQ(ReadConfigKey(config, *key), c.read) << c.name;
    }
}

TEST(ConfigKeys, NamesCompareWithoutCaseAndStepIsInTwoSections) {
    EXPECT_EQ(FindConfigKey("config", "fanlow"), FindConfigKey("Config", "FanLow"));
    EXPECT_EQ(FindConfigKey("Config", "Up"), nullptr);
    EXPECT_EQ(FindConfigKey("Nowhere", "Mode"), nullptr);
    const std::vector<const ConfigKey*> steps = FindConfigKeysNamed("STEP");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0]->QualifiedName(), "Config.Step");
    EXPECT_EQ(steps[1]->QualifiedName(), "RC5.Step");

    DeviceConfig config;
    StoreConfigKey(config, *steps[1], 513);
    EXPECT_EQ(config.RC5.Step, 513);
    EXPECT_EQ(config.Step, 0) << "the RC5 key code is not the step flag";
}

}  // namespace
}  // namespace quelvan
