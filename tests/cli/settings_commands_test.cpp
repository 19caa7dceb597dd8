// The settings commands in-process on a simulated board: config and config set under the
// configuration-file keys, weather and weather set through the window's conversions, and the
// moon in status.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "board_fixture.h"
#include "cli/quelvanctl.h"
#include "device/weather_conversions.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

using Summary = std::vector<std::string>;
const Summary kConnect = {"get 1", "get 2", "get 4", "get 5", "get 6"};
const Summary kWriteConfig = {"set 2", "set 4", "set 5", "set 6"};

class SettingsCommands : public ::testing::Test {
protected:
    SettingsCommands() : clock_(LocalDateTime{2024, 5, 17, 13, 45, 30, 0}), backend_({}, &clock_) {
        backend_.Board().SetFrozen(true);
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"quelvanctl", "--trace", trace_});
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        backend_.ClearTransfers();
        std::filesystem::remove(trace_);  // a refused command writes no trace at all
        const int code = cli::RunQuelvanctl(static_cast<int>(argv.size()), argv.data(), backend_, clock_, out, err);
        out_ = out.str();
        err_ = err.str();
        summary_ = TraceSummary(ParseTrace(ReadLines(trace_)));
        return code;
    }
    std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        std::istringstream in(out_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    DeviceConfig& Board() { return backend_.Board().Config(); }

    ScratchDir dir_;
    const std::string trace_ = dir_.File("trace.txt");
    ManualClock clock_;
    sim::SimulatedHidBackend backend_;
    std::string out_, err_;
    Summary summary_;
};

TEST_F(SettingsCommands, ConfigListsEveryKeyBySectionAsTextAndJson) {
    Board().TempOffset = -5;
    Board().MoonColor[11] = 77;
    Board().RC5.Step = 513;
    ASSERT_EQ(Run({"config"}), 0) << err_;
    EXPECT_EQ(summary_, kConnect);
    const std::vector<std::string> lines = OutLines();
    std::vector<std::string> sections;
    std::map<std::string, int> keysPerSection;
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        if (line.front() == '[') {
            sections.push_back(line);
        } else {
            ++keysPerSection[sections.back()];
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"[Config]", "[Weather]", "[Names]", "[RC5]"}));
    EXPECT_EQ(keysPerSection["[Config]"], 17);
    EXPECT_EQ(keysPerSection["[Weather]"], 36);
    EXPECT_EQ(keysPerSection["[Names]"], 12);
    EXPECT_EQ(keysPerSection["[RC5]"], 8);
    EXPECT_EQ(lines[1], "Mode=1");
    EXPECT_NE(out_.find("\nTempOffset=-5\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("\nMoonColor11=77\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("\nStep=513\n"), std::string::npos) << out_;

    ASSERT_EQ(Run({"--json", "config"}), 0) << err_;
    const auto json = nlohmann::json::parse(out_);
    ASSERT_EQ(json.size(), 4u);
    EXPECT_EQ(json["Config"].size(), 17u);
    EXPECT_EQ(json["Weather"].size(), 36u);
    EXPECT_EQ(json["Names"].size(), 12u);
    EXPECT_EQ(json["RC5"].size(), 8u);
    EXPECT_EQ(json["Config"]["TempOffset"], -5);
    EXPECT_EQ(json["Config"]["FanHigh"], 230);
    EXPECT_EQ(json["Weather"]["LightningColor0"], 100);
    EXPECT_EQ(json["Names"]["ColorName1"], 7);
    EXPECT_EQ(json["RC5"]["Step"], 513);
}

TEST_F(SettingsCommands, ConfigSetChangesTheNamedFieldsAndWritesOnce) {
    const DeviceConfig before = Board();
    ASSERT_EQ(Run({"--json", "config", "set", "FanLow", "10", "rc5.step", "513", "Config.TempOffset", "-128",
                   "TempWaterHigh", "-32768", "MoonColor3", "255"}),
              0)
        << err_;
    Summary expected = kConnect;
    expected.insert(expected.end(), kWriteConfig.begin(), kWriteConfig.end());
    EXPECT_EQ(summary_, expected);
    DeviceConfig after = before;
    after.FanLow = 10;
    after.RC5.Step = 513;
    after.TempOffset = -128;
    after.TempWaterHigh = -32768;
    after.MoonColor[3] = 255;
    EXPECT_EQ(Board(), after);
    const auto json = nlohmann::json::parse(out_);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["changed"]["Config.FanLow"], 10);
    EXPECT_EQ(json["changed"]["RC5.Step"], 513);
    EXPECT_EQ(json["changed"]["Weather.MoonColor3"], 255);
}

TEST_F(SettingsCommands, ConfigSetRefusesBadKeysAndValuesAndWritesNothing) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"FanLow", "256"}, "Config.FanLow takes a whole number between 0 and 255, not '256'"},
        {{"FanLow", "-1"}, "between 0 and 255"},
        {{"TempOffset", "128"}, "Config.TempOffset takes a whole number between -128 and 127"},
        {{"TempJMPLow", "32768"}, "Config.TempJMPLow takes a whole number between -32768 and 32767"},
        {{"CloudAlpha", "70000"}, "Weather.CloudAlpha takes a whole number between 0 and 65535"},
        {{"FanLow", "1.5"}, "not '1.5'"},
        {{"FanLow", "0x10"}, "not '0x10'"},
        // One strict parser for every number: a sign, then digits; nothing else.
        {{"FanLow", "", "FanHigh", "5"}, "Config.FanLow takes a whole number between 0 and 255, not ''"},
        {{"FanLow", " 5"}, "not ' 5'"},
        {{"TempOffset", "+-5"}, "not '+-5'"},
        // The window shows a colour name past the twelfth as the first: refused here.
        {{"ColorName3", "12"}, "Names.ColorName3 takes a whole number between 0 and 11, not '12'"},
        {{"Step", "1"}, "key 'Step' is in more than one section: write Config.Step or RC5.Step"},
        {{"Blitz", "1"}, "unknown key 'Blitz'"},
        {{"Config.Up", "1"}, "unknown key 'Config.Up'"},
        {{"FanLow", "10", "FanHigh"}, "pairs of KEY VALUE"},
        {{"FanLow", "10", "FanHigh", "300"}, "Config.FanHigh"},  // one bad pair: nothing at all
    };
    const DeviceConfig before = Board();
    for (const Case& c : cases) {
        std::vector<std::string> args = {"config", "set"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Run(args), 2) << c.message;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_TRUE(summary_.empty()) << c.message << ": no transfer at all";
        EXPECT_EQ(Board(), before) << c.message;
    }
}

TEST_F(SettingsCommands, WeatherShowsWhatTheWindowShows) {
    Board().CloudP = 1942;
    Board().CloudD = 186;
    Board().StormP = 39;
    Board().StormD = 47;
    ASSERT_EQ(Run({"weather"}), 0) << err_;
    EXPECT_EQ(OutLines(),
              (std::vector<std::string>{"Clouds per day: 1000", "Cloud duration: 900 s", "Cloud share: 91.3 %",
                                        "Storms per day: 20", "Storm duration: 59 min", "Storm share: 45.3 %"}));
    Board().CloudP = 0;
    Board().CloudD = 0;
    ASSERT_EQ(Run({"--json", "weather"}), 0) << err_;
    const auto json = nlohmann::json::parse(out_);
    EXPECT_EQ(json["clouds_per_day"], 0);
    EXPECT_TRUE(json["cloud_seconds"].is_null());
    EXPECT_TRUE(json["cloud_share"].is_null());
    EXPECT_EQ(json["storms_per_day"], 20);
    EXPECT_EQ(json["storm_minutes"], 59);
    EXPECT_EQ(json["storm_share"], 45.3);
    EXPECT_EQ(json["StormD"], 47);
}

TEST_F(SettingsCommands, WeatherSetStoresTheGivenValuesOnly) {
    Board().CloudP = 1;
    Board().CloudD = 65535;  // shows as 3 s; must not turn into 55924 when only the count changes
    Board().StormP = 2;
    Board().StormD = 3;
    ASSERT_EQ(Run({"weather", "set", "--clouds-per-day", "1000", "--storm-minutes", "190"}), 0) << err_;
    Summary expected = kConnect;
    expected.insert(expected.end(), kWriteConfig.begin(), kWriteConfig.end());
    EXPECT_EQ(summary_, expected);
    EXPECT_EQ(Board().CloudP, 1942);
    EXPECT_EQ(Board().CloudD, 65535);
    EXPECT_EQ(Board().StormP, 2);
    EXPECT_EQ(Board().StormD, 15);

    ASSERT_EQ(Run({"--json", "weather", "set", "--cloud-seconds", "1", "--storms-per-day", "20"}), 0) << err_;
    EXPECT_EQ(Board().CloudD, 65535);
    EXPECT_EQ(Board().StormP, 39);
    EXPECT_EQ(nlohmann::json::parse(out_)["StormP"], 39);
    // A leading zero is no octal number: 010 minutes are ten.
    ASSERT_EQ(Run({"weather", "set", "--storm-minutes", "010", "--clouds-per-day", "+5"}), 0) << err_;
    EXPECT_EQ(Board().StormD, *StormDFromMinutes(10));
    EXPECT_EQ(Board().CloudP, ProbabilityFromCountPerDay(5));

    struct Refused {
        std::vector<std::string> args;
        const char* message;
    };
    const Refused refused[] = {
        {{"--clouds-per-day", "1001"}, "--clouds-per-day must lie between 0 and 1000"},
        {{"--cloud-seconds", "0"}, "--cloud-seconds must lie between 1 and 900"},
        {{"--storms-per-day", "21"}, "--storms-per-day must lie between 0 and 20"},
        {{"--storm-minutes", "201", "--clouds-per-day", "5"}, "--storm-minutes must lie between 1 and 200"},
        {{"--clouds-per-day", ""}, "--clouds-per-day takes a whole number between 0 and 1000, not ''"},
        {{"--clouds-per-day", "0x10"}, "not '0x10'"},
        {{"--storm-minutes", " 5"}, "--storm-minutes takes a whole number between 1 and 200, not ' 5'"},
        {{"--storms-per-day", "1e1"}, "not '1e1'"},
        {{}, "needs at least one of"},
    };
    const DeviceConfig before = Board();
    for (const Refused& r : refused) {
        std::vector<std::string> args = {"weather", "set"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        EXPECT_EQ(Run(args), 2) << r.message;
        EXPECT_NE(err_.find(r.message), std::string::npos) << err_;
        EXPECT_TRUE(summary_.empty());
    }
    EXPECT_EQ(Board(), before);
}

TEST_F(SettingsCommands, StatusShowsTheMoonsPhaseAndLitSide) {
    struct Case {
        int hour;
        double phase;
        const char* side;
        const char* text;
    };
    const Case cases[] = {
        {0, 1.0, "right", "Moon phase: 1 (lit on the right)"},
        {6, 0.5, "left", "Moon phase: 0.5 (lit on the left)"},
        {12, 0.0, "right", "Moon phase: 0 (lit on the right)"},
        {18, 0.5, "right", "Moon phase: 0.5 (lit on the right)"},
        {21, 0.75, "right", "Moon phase: 0.75 (lit on the right)"},
    };
    Board().FullmoonTransitHour = 0;
    Board().FullmoonTransitMinute = 0;
    for (const Case& c : cases) {
        backend_.Board().Live().MoonTransitHour = static_cast<std::int8_t>(c.hour);
        backend_.Board().Live().MoonTransitMinute = 0;
        ASSERT_EQ(Run({"--json", "status"}), 0) << err_;
        const auto json = nlohmann::json::parse(out_);
        EXPECT_DOUBLE_EQ(json["moon_phase"].get<double>(), c.phase) << c.hour;
        EXPECT_EQ(json["moon_lit_side"], c.side) << c.hour;
        ASSERT_EQ(Run({"status"}), 0) << err_;
        EXPECT_NE(out_.find(c.text), std::string::npos) << out_;
    }
}

}  // namespace
}  // namespace quelvan::testing
