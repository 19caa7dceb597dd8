// End-to-end: the built quelvanctl binary against a simulated board kept in a state file.

#include <gtest/gtest.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include "board_fixture.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

using Summary = std::vector<std::string>;
const Summary kConnect = {"get 1", "get 2", "get 4", "get 5", "get 6"};

Summary Concat(Summary a, const Summary& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class QuelvanctlBinary : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Config().Mode = 0; });
    }

    // Runs `--simulate=STATE --trace TRACE args...` and parses the trace.
    ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--simulate=" + state_, "--trace", trace_});
        ProcessResult r = RunQuelvanctlBinary(args);
        lines_ = ParseTrace(ReadLines(trace_));
        return r;
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    std::vector<TraceLine> lines_;
};

TEST_F(QuelvanctlBinary, StatusShowsTheBoardAsTextAndJson) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
        b.Board().Config().Mode = 0;
        b.Board().Live().ChannelValue[0] = 1000;
        b.Board().Live().ChannelValue[2] = 2048;
    });
    ProcessResult r = Run({"status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(TraceSummary(lines_), kConnect);
    EXPECT_NE(r.out.find("Firmware version: 4"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Mode: 0 (Manuell)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("24.41 %"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Kaltweiß"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;

    r = Run({"status", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["firmware_version"], 4);
    EXPECT_EQ(json["entry_count"], sim::DefaultSchedule().size());
    EXPECT_EQ(json["mode"], 0);
    EXPECT_EQ(json["mode_name"], "Manuell");
    EXPECT_EQ(json["time_lapse"], 1);
    ASSERT_EQ(json["channels"].size(), 12u);
    EXPECT_EQ(json["channels"][0]["letter"], "A");
    EXPECT_EQ(json["channels"][0]["name"], "Weiß");
    EXPECT_EQ(json["channels"][0]["value"], 1000);
    EXPECT_EQ(json["channels"][0]["percent"], 24.41);
    EXPECT_EQ(json["channels"][2]["percent"], 50);
    EXPECT_EQ(json["channels"][11]["name"], "Kanal L");
    EXPECT_TRUE(json["supply_voltage"].is_number());
    EXPECT_TRUE(json["temperature"].is_number());
    EXPECT_TRUE(json["clock"].is_string());
    EXPECT_EQ(json["clock"].get<std::string>().size(), 8u);
    EXPECT_EQ(json["moon_transit"].get<std::string>().size(), 5u);
}

TEST_F(QuelvanctlBinary, StatusWithoutTemperatureSensor) {
    sim::BoardSettings settings;
    settings.temperatureSensor = false;
    WriteBoardState(state_, {}, settings);
    ProcessResult r = Run({"--json", "status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(nlohmann::json::parse(r.out)["temperature"].is_null());
    r = Run({"status"});
    EXPECT_NE(r.out.find("Temperature: no sensor fitted"), std::string::npos) << r.out;
}

TEST_F(QuelvanctlBinary, SetChannelSendsExactlyOneLiveStateWrite) {
    struct Case {
        const char* value;
        int expected;
    };
    for (const Case c : {Case{"50", 2048}, Case{"33,3", 1364}, Case{"33.3", 1364}, Case{"on", 4096}, Case{"off", 0}}) {
        const ProcessResult r = Run({"set", "C", c.value});
        ASSERT_EQ(r.exitCode, 0) << c.value << ": " << r.err;
        ASSERT_EQ(TraceSummary(lines_), Concat(kConnect, {"set 1"})) << c.value;
        const TraceLine& get = lines_.front();
        const TraceLine& set = lines_.back();
        EXPECT_EQ(set.length, 42);
        EXPECT_EQ(ChannelInBuffer(set.bytes, 2), c.expected) << c.value;
        EXPECT_EQ(set.bytes[7], 0xff) << "the clock is left alone";
        EXPECT_EQ(set.bytes[11], 0xff) << "the moon transit is left alone";
        for (int n : {0, 1, 3, 4, 11}) EXPECT_EQ(ChannelInBuffer(set.bytes, n), ChannelInBuffer(get.bytes, n)) << n;
    }
    // The value stays on the board for the next run (mode "Manuell").
    const ProcessResult r = Run({"--json", "status"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["channels"][2]["value"], 0);
}

TEST_F(QuelvanctlBinary, BadValuesAreUsageErrorsAndSendNothing) {
    for (const char* value : {"abc", "", "101", "-5", "12%"}) {
        const ProcessResult r = Run({"set", "C", value});
        EXPECT_EQ(r.exitCode, 2) << value;
        EXPECT_NE(r.err.find("error"), std::string::npos) << value;
        for (const TraceLine& l : lines_) EXPECT_FALSE(l.isSet) << value;
    }
}

TEST_F(QuelvanctlBinary, AllOnInAutoModeSwitchesToManualFirst) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Config().Mode = 1; });
    const ProcessResult r = Run({"set", "all", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(TraceSummary(lines_), Concat(kConnect, {"set 2", "set 4", "set 5", "set 6", "set 1"}));
    EXPECT_EQ(lines_[5].bytes[1], 0) << "mode byte";
    for (int n = 0; n < 12; ++n) EXPECT_EQ(ChannelInBuffer(lines_.back().bytes, n), 4096) << n;
    EXPECT_TRUE(r.err.empty()) << "no mode warning: the command switches to Manuell itself";
}

TEST_F(QuelvanctlBinary, SettingOneChannelOutsideManualModeWarns) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Config().Mode = 1; });
    const ProcessResult r = Run({"set", "a", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("warning"), std::string::npos);
    EXPECT_NE(r.err.find("Auto"), std::string::npos);
    EXPECT_EQ(TraceSummary(lines_), Concat(kConnect, {"set 1"}));
}

TEST_F(QuelvanctlBinary, ModeWritesTheWholeConfiguration) {
    ProcessResult r = Run({"--json", "mode", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(TraceSummary(lines_), Concat(kConnect, {"set 2", "set 4", "set 5", "set 6"}));
    EXPECT_EQ(lines_[5].bytes[1], 2);
    // Everything else of the configuration goes back as read.
    for (int i = 0; i < 4; ++i) {
        std::vector<std::uint8_t> expected = lines_[1 + i].bytes;
        if (i == 0) expected[1] = 2;
        EXPECT_EQ(lines_[5 + i].bytes, expected) << "report " << lines_[5 + i].reportId;
    }
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["mode"], 2);
    r = Run({"--json", "status"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["mode_name"], "Demo");
}

TEST_F(QuelvanctlBinary, ClockSetsHourAndMinuteAndKeepsSecondsAndTick) {
    const ProcessResult r = Run({"clock", "07:05"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(TraceSummary(lines_), Concat(kConnect, {"set 1"}));
    const TraceLine& get = lines_.front();
    const TraceLine& set = lines_.back();
    EXPECT_EQ(set.bytes[8], 7);
    EXPECT_EQ(set.bytes[7], 5);
    EXPECT_EQ(set.bytes[6], get.bytes[6]) << "seconds as read";
    EXPECT_EQ(set.bytes[5], get.bytes[5]) << "tick as read";
    EXPECT_EQ(set.bytes[11], 0xff) << "moon transit left alone";
    for (int i = 13; i <= 20; ++i) EXPECT_EQ(set.bytes[static_cast<std::size_t>(i)], 0xff) << "channels A..D kept";
}

TEST_F(QuelvanctlBinary, SaveEepromSendsCommand255) {
    const ProcessResult r = Run({"save-eeprom"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> raw = ReadLines(trace_);
    ASSERT_EQ(raw.size(), 6u);
    EXPECT_EQ(raw.back().rfind("set 3 28 ok 03 ff 00 ", 0), 0u) << raw.back();
    EXPECT_EQ(lines_.back().bytes, [] {
        std::vector<std::uint8_t> b(28, 0);
        b[0] = 3;
        b[1] = 0xff;
        return b;
    }());
}

TEST_F(QuelvanctlBinary, BoardsThatCannotBeUsedExitWithThree) {
    struct Case {
        const char* what;
        std::function<void(sim::SimulatedHidBackend&)> edit;
        sim::BoardSettings settings;
        const char* message;
    };
    sim::BoardSettings firmware3;
    firmware3.firmwareVersion = 3;
    const Case cases[] = {
        {"unplugged", [](sim::SimulatedHidBackend& b) { b.Unplug(); }, {}, "no Quelvan 2.x board found"},
        // Both ways to update are named, this tool's own first.
        {"firmware 3",
         {},
         firmware3,
         "firmware version 3; quelvanctl needs version 4\nhint: update the firmware with 'quelvanctl flash FILE', "
         "or with the window's menu"},
        {"bootloader",
         [](sim::SimulatedHidBackend& b) { SendEnterBootloader(b); },
         {},
         "waits for a firmware update\nhint: flash a firmware with 'quelvanctl flash FILE', or with the window's"},
        {"no permission", [](sim::SimulatedHidBackend& b) { b.SetOpenError(EACCES); }, {}, "70-quelvan.rules"},
    };
    for (const Case& c : cases) {
        WriteBoardState(state_, c.edit, c.settings);
        const ProcessResult r = Run({"set", "A", "on"});
        EXPECT_EQ(r.exitCode, 3) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.what;
        for (const TraceLine& l : lines_) EXPECT_FALSE(l.isSet) << c.what;
    }
}

TEST_F(QuelvanctlBinary, ListShowsEveryDeviceWithItsRole) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.AddForeignDevice({}); });
    ProcessResult r = Run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(lines_.empty()) << "list reads no reports";
    EXPECT_NE(r.out.find(": 16C0:05DF \"www.dravik.info\" \"Quelvan2\" \"QV2-000123\" board\n"), std::string::npos)
        << r.out;
    // The service holds boards and bootloaders only, and lists only what it holds.
    const bool foreignListed =
        r.out.find(": 046D:C31C \"Logitech\" \"USB Keyboard\" \"\" other\n") != std::string::npos;
    EXPECT_EQ(foreignListed, !RunsThroughService()) << r.out;

    r = Run({"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json.size(), RunsThroughService() ? 1u : 2u);
    bool board = false;
    for (const auto& d : json) {
        if (d["role"] != "board") continue;
        board = true;
        EXPECT_EQ(d["vendor_id"], "16C0");
        EXPECT_EQ(d["product_id"], "05DF");
        EXPECT_TRUE(d["index"].is_number());
    }
    EXPECT_TRUE(board) << r.out;
}

TEST_F(QuelvanctlBinary, UsageErrorsAndHelp) {
    ProcessResult r = RunQuelvanctlBinary({});
    EXPECT_EQ(r.exitCode, 2);
    r = RunQuelvanctlBinary({"--simulate", "bogus"});
    EXPECT_EQ(r.exitCode, 2);
    r = RunQuelvanctlBinary({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos);
    EXPECT_NE(r.out.find("refuses percentages outside 0..100"), std::string::npos);
    EXPECT_NE(r.out.find("70-quelvan.rules"), std::string::npos);
    EXPECT_NE(r.out.find("  5  a file named on the command line cannot be used"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quelvan::testing
