// The MQTT bridge's rules without a broker, each a table: the topic names,
// which commands are taken and which refused, what a taken one writes to the board, and the
// state a board is published with.

#include <gtest/gtest.h>

#include "device/hid_device_controller.h"
#include "device/weather_conversions.h"
#include "mqtt/mqtt_commands.h"
#include "mqtt/mqtt_state.h"
#include "mqtt/mqtt_topics.h"
#include "simulator/simulated_backend.h"

namespace quelvan::service {
namespace {

using mqtt::Command;
using Kind = mqtt::Command::Kind;
using nlohmann::json;

TEST(MqttRules, TopicNamesAndIdsUsersRelyOn) {
    EXPECT_EQ(mqtt::TopicId("QV2-000123"), "QV2-000123");
    EXPECT_EQ(mqtt::TopicId("a/b+c#d e.ä"), "a_b_c_d_e___");
    EXPECT_EQ(mqtt::Entities().size(), 27u);

    const mqtt::Topics t("ha", "home/quelvan", "quelvand-tank.lan");
    EXPECT_EQ(t.State("X"), "home/quelvan/X/state");
    EXPECT_EQ(t.Availability("X"), "home/quelvan/X/availability");
    EXPECT_EQ(t.EntityState("X", "channel_c"), "home/quelvan/X/channel_c/state");
    EXPECT_EQ(t.Command("X", "mode"), "home/quelvan/X/mode/set");
    EXPECT_EQ(t.Config(mqtt::Component::Number, "X", "storm_minutes"), "ha/number/X/storm_minutes/config");
    EXPECT_EQ(t.ServiceAvailability(), "home/quelvan/service/quelvand-tank_lan/availability");
    EXPECT_EQ(t.HomeAssistantStatus(), "ha/status");

    struct Case {
        const char* topic;
        const char* id;  // nullptr: not a command topic
        const char* object;
    };
    const Case cases[] = {
        {"home/quelvan/X/channel_a/set", "X", "channel_a"}, {"home/quelvan/QV2-1/mode/set", "QV2-1", "mode"},
        {"quelvan/X/mode/set", nullptr, nullptr},           {"home/quelvan/X/mode", nullptr, nullptr},
        {"home/quelvan/X/a/b/set", nullptr, nullptr},       {"home/quelvan//mode/set", nullptr, nullptr},
        {"home/quelvan/X//set", nullptr, nullptr},          {"home/quelvan/set", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const auto parsed = t.ParseCommand(c.topic);
        ASSERT_EQ(parsed.has_value(), c.id != nullptr) << c.topic;
        if (parsed) {
            EXPECT_EQ(parsed->id + " " + parsed->objectId, std::string(c.id) + " " + c.object);
        }
    }
    EXPECT_EQ(t.ParseState("home/quelvan/X/state"), "X");
    EXPECT_FALSE(t.ParseState("home/quelvan/X/channel_a/state"));
}

TEST(MqttRules, CommandsAreTakenOrRefusedWithAReason) {
    struct Case {
        const char* object;
        std::string payload;
        bool retained;
        std::optional<Command> command;  // nullopt: refused
        const char* why = "";            // part of the refusal
    };
    const Case cases[] = {
        {"channel_c", R"({"state":"ON","brightness":1234})", false, Command{Kind::Channel, 2, 1234}},
        {"channel_c", R"({"state":"ON"})", false, Command{Kind::Channel, 2, mqtt::kLastBrightness}},
        {"channel_c", R"({"state":"OFF","brightness":99})", false, Command{Kind::Channel, 2, 0}},
        {"channel_l", R"({"brightness":0,"transition":2})", false, Command{Kind::Channel, 11, 0}},
        {"channel_a", R"({"brightness":4095.5})", false, Command{Kind::Channel, 0, 4096}},
        {"channel_a", R"({"brightness":4096.5})", false, std::nullopt, "between 0 and 4096"},
        {"channel_a", R"({"brightness":-1})", false, std::nullopt, "between 0 and 4096"},
        {"channel_a", R"({"brightness":"full"})", false, std::nullopt, "number"},
        {"channel_a", R"({"state":"on"})", false, std::nullopt, "\"ON\" or \"OFF\""},
        {"channel_a", R"({"effect":"rainbow"})", false, std::nullopt, "neither"},
        {"channel_a", "ON", false, std::nullopt, "not a JSON object"},
        {"channel_a", "[1]", false, std::nullopt, "not a JSON object"},
        {"channel_a", R"({"state":"ON"})", true, std::nullopt, "retained"},
        {"channel_a", R"({"state":"ON","x":")" + std::string(300, 'x') + "\"}", false, std::nullopt, "more than 256"},
        {"mode", "Auto", false, Command{Kind::Mode, 0, 1}},
        {"mode", "Slave\n", false, Command{Kind::Mode, 0, 4}},
        {"mode", "manuell", false, std::nullopt, "unknown mode"},
        {"mode", "Turbo", false, std::nullopt, "unknown mode"},
        {"clouds_per_day", "1000", false, Command{Kind::CloudsPerDay, 0, 1000}},
        {"clouds_per_day", "12.0", false, Command{Kind::CloudsPerDay, 0, 12}},
        {"clouds_per_day", "1001", false, std::nullopt, "between 0 and 1000"},
        {"clouds_per_day", "12.5", false, std::nullopt, "whole number"},
        {"cloud_seconds", "0", false, std::nullopt, "between 1 and 900"},
        {"storms_per_day", "20", false, Command{Kind::StormsPerDay, 0, 20}},
        {"storm_minutes", "200", false, Command{Kind::StormMinutes, 0, 200}},
        {"storm_minutes", "lots", false, std::nullopt, "whole number"},
        {"sync_clock", "PRESS", false, Command{Kind::SyncClock, 0, 0}},
        {"save_eeprom", "PRESS", false, Command{Kind::SaveEEPROM, 0, 0}},
        {"save_eeprom", "press", false, std::nullopt, "PRESS"},
        {"colour", "1", false, std::nullopt, "no such command"},
        // A NUL byte anywhere: a parser stopping there would take the front for the whole.
        {"channel_a", std::string("{\"brightness\":5}\0garbage", 24), false, std::nullopt, "NUL"},
        {"channel_a", std::string("\0{\"brightness\":5}", 16), false, std::nullopt, "NUL"},
        {"storms_per_day", std::string("20\0", 3), false, std::nullopt, "NUL"},
        {"mode", std::string("Auto\0", 5), false, std::nullopt, "NUL"},
        {"sync_clock", std::string("PRESS\0x", 7), false, std::nullopt, "NUL"},
    };
    for (const Case& c : cases) {
        const mqtt::ParsedCommand parsed = mqtt::ParseCommand(c.object, c.payload, c.retained);
        EXPECT_EQ(parsed.command, c.command) << c.object << " " << c.payload.substr(0, 40);
        if (!c.command) {
            EXPECT_NE(parsed.refusal.find(c.why), std::string::npos) << parsed.refusal;
        }
    }
}

TEST(MqttRules, OnWithoutABrightnessBringsBackTheLastOneAboveZero) {
    struct Case {
        int current, remembered, expected;
    };
    const Case cases[] = {
        {0, 0, 4096},      // never on: full
        {0, 1234, 1234},   // off now: the last value above 0
        {0, 5000, 4096},   // remembered beyond full: full
        {0, -3, 4096},     // nothing sensible remembered
        {700, 1234, 700},  // on already: left as it is
        {-5, 99, 99},      // a stored negative is off
    };
    for (const Case& c : cases)
        EXPECT_EQ(mqtt::BrightnessForOn(c.current, c.remembered), c.expected) << c.current << " " << c.remembered;
}

TEST(MqttRules, ATakenCommandWritesWhatTheWindowWrites) {
    struct Case {
        const char* what;
        int modeBefore;
        Command command;
        std::vector<std::string> sets;  // report ids set, in order
        std::function<void(const LiveState&, const DeviceConfig&)> check;
    };
    const Case cases[] = {
        {"a channel in Manuell",
         0,
         {Kind::Channel, 2, 1234},
         {"set 1"},
         [](const LiveState& l, const DeviceConfig&) { EXPECT_EQ(l.ChannelValue[2], 1234); }},
        {"a channel in Auto: Manuell first, as ALLES EIN",
         1,
         {Kind::Channel, 3, 4096},
         {"set 2", "set 4", "set 5", "set 6", "set 1"},
         [](const LiveState& l, const DeviceConfig& c) {
             EXPECT_EQ(c.Mode, 0);
             EXPECT_EQ(l.ChannelValue[3], 4096);
         }},
        {"a mode",
         0,
         {Kind::Mode, 0, 2},
         {"set 2", "set 4", "set 5", "set 6"},
         [](const LiveState&, const DeviceConfig& c) { EXPECT_EQ(c.Mode, 2); }},
        {"storms per day, its field only",
         0,
         {Kind::StormsPerDay, 0, 20},
         {"set 2", "set 4", "set 5", "set 6"},
         [](const LiveState&, const DeviceConfig& c) {
             EXPECT_EQ(c.StormP, 39);
             EXPECT_EQ(c.StormD, sim::DefaultConfig().StormD);
         }},
        {"seconds per cloud",
         0,
         {Kind::CloudSeconds, 0, 3},
         {"set 2", "set 4", "set 5", "set 6"},
         [](const LiveState&, const DeviceConfig& c) { EXPECT_EQ(c.CloudD, 55924); }},
        {"\"ON\" alone on a channel that is off: the remembered brightness",
         0,
         {Kind::Channel, 0, mqtt::kLastBrightness},
         {"set 1"},
         [](const LiveState& l, const DeviceConfig&) { EXPECT_EQ(l.ChannelValue[0], 777); }},
        {"the clock", 0, {Kind::SyncClock, 0, 0}, {"set 1"}, nullptr},
        {"save to EEPROM", 0, {Kind::SaveEEPROM, 0, 0}, {"set 3"}, nullptr},
    };
    for (const Case& c : cases) {
        sim::SimulatedHidBackend backend;
        backend.Board().SetFrozen(true);
        backend.Board().Config().Mode = static_cast<std::uint8_t>(c.modeBefore);
        backend.Board().Live().ChannelValue[0] = 0;
        HidDeviceController controller(backend);
        controller.OnDeviceChange = [] {};
        controller.ProcessNotifications();
        const SystemClock clock;
        BoardProtocol board(clock);
        board.SetDevice(controller.AcquireDevice(0));
        ASSERT_TRUE(board.ReadLiveState().ok && board.ReadDeviceConfig().ok);
        backend.ClearTransfers();
        const mqtt::Applied applied = mqtt::ApplyCommand(c.command, board, 777);
        EXPECT_TRUE(applied.ok) << c.what;
        std::vector<std::string> sets;
        for (const sim::SimTransfer& t : backend.Transfers())
            sets.push_back((t.isSet ? "set " : "get ") + std::to_string(t.bytes.at(0)));
        EXPECT_EQ(sets, c.sets) << c.what;
        if (c.check) c.check(backend.Board().Live(), backend.Board().Config());
        board.SetDevice(nullptr);
    }
}

TEST(MqttRules, ABoardsStateAsPublished) {
    LiveState live;
    live.FirmwareVersion = 4;
    live.ChannelValue = {0, 2048, 5000, -5, 1, 0, 0, 0, 0, 0, 0, 4096};
    live.SupplyVoltage = 12034;
    live.Temperature = kNoTemperatureSensor;
    live.MoonTransitHour = 18;
    live.ClockHour = 7;
    live.ClockMinute = 5;
    DeviceConfig config;
    config.Mode = 7;
    config.ColorName[1] = 8;
    config.CloudP = 1942;
    config.CloudD = 0;
    config.StormP = 39;
    config.StormD = 47;
    const json state = mqtt::BoardState("QV2-1", "quelvand-tank", live, config);
    EXPECT_EQ(state["clock"], "07:05:00");
    EXPECT_EQ(state["mode"], 7);
    EXPECT_TRUE(state["mode_name"].is_null()) << "a mode the board should not have has no name";
    EXPECT_EQ(state["channels"][1],
              (json{{"letter", "B"}, {"name", "Warmweiß"}, {"value", 2048}, {"percent", 50.0}, {"state", "ON"}}));
    EXPECT_EQ(state["channels"][4]["percent"], 0.02);
    EXPECT_EQ(state["supply_voltage"], 12.0) << "to the tenth of a volt the board measures";
    for (const auto& [millivolts, volts] : {std::pair{12051, 12.1}, {11949, 11.9}, {12149, 12.1}, {9999, 10.0}}) {
        live.SupplyVoltage = static_cast<std::uint16_t>(millivolts);
        EXPECT_EQ(mqtt::BoardState("QV2-1", "q", live, config)["supply_voltage"], volts) << millivolts;
    }
    EXPECT_TRUE(state["temperature"].is_null());
    EXPECT_EQ(state["moon_phase"], 0.5);
    EXPECT_EQ(state["moon_lit_side"], "right");
    EXPECT_EQ(state["clouds_per_day"], 1000);
    EXPECT_TRUE(state["cloud_seconds"].is_null()) << "CloudD 0 has no duration";
    EXPECT_EQ(state["storms_per_day"], 20);
    EXPECT_EQ(state["storm_minutes"], 59);
    EXPECT_STREQ(mqtt::WaterTemperatureAvailability(live), "offline");
    EXPECT_EQ(state["stale"], false);
    EXPECT_FALSE(state.contains("last_read")) << "a time changing with every read would be a message each time";
    // Not read for three poll periods (a session kept busy): said, with the last read's time.
    const json stale = mqtt::BoardState("QV2-1", "q", live, config, true, 1796835903250);
    EXPECT_EQ(stale["stale"], true);
    EXPECT_EQ(stale["last_read"], "2026-12-09T17:05:03Z");
    EXPECT_TRUE(mqtt::BoardState("QV2-1", "q", live, config, true, 0)["last_read"].is_null());
    EXPECT_EQ(mqtt::UtcText(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(mqtt::UtcText(951782400000), "2000-02-29T00:00:00Z");

    // Brightness 0 (or a stored negative) is OFF, never "ON" at 0; beyond full is full.
    const std::pair<int, json> lights[] = {{0, {{"state", "OFF"}}},
                                           {-5, {{"state", "OFF"}}},
                                           {1, {{"state", "ON"}, {"brightness", 1}}},
                                           {4096, {{"state", "ON"}, {"brightness", 4096}}},
                                           {5000, {{"state", "ON"}, {"brightness", 4096}}}};
    for (const auto& [value, expected] : lights) {
        json light = json::parse(mqtt::ChannelState(value));
        EXPECT_EQ(light["color_mode"], "brightness");
        light.erase("color_mode");
        EXPECT_EQ(light, expected) << value;
    }
    EXPECT_EQ(mqtt::ChannelEntityName(2, 0), "Kanal C");
    EXPECT_EQ(mqtt::ChannelEntityName(2, 8), "Kanal C (Warmweiß)");
    EXPECT_EQ(mqtt::ChannelEntityName(2, 99), "Kanal C");
}

}  // namespace
}  // namespace quelvan::service
