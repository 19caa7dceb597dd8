// quelvand on simulated boards with a real broker (Debian's mosquitto on a loopback port) and
// a client standing in for Home Assistant: what Home Assistant is told, what its commands do
// to the board byte for byte, and how both sides come back after restarts.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "broker_fixture.h"
#include "device/weather_conversions.h"

namespace quelvan::testing {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

TEST_F(ThroughTheBroker, DiscoveryIsOneDeviceWithEveryEntityCheckedKeyByKey) {
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();

    const json device = {{"identifiers", {"quelvan_QV2-000123"}},
                         {"name", "Quelvan QV2-000123"},
                         {"manufacturer", "www.dravik.info"},
                         {"model", "Quelvan 2.x"},
                         {"sw_version", "4"},
                         {"serial_number", kSerial}};
    const json availability = {{{"topic", kBase + "/availability"}},
                               {{"topic", std::string("quelvan/service/") + kClientId + "/availability"}}};
    struct Entity {
        std::string object;
        std::string name;
        json keys;  // every further key, with its value
    };
    std::vector<Entity> entities;
    for (char c = 'a'; c <= 'l'; ++c) {
        const std::string object = std::string("channel_") + c;
        entities.push_back(
            {object,
             "Kanal " + std::string(1, static_cast<char>(c - 'a' + 'A')) + (c == 'c' ? " (Warmweiß)" : ""),
             {{"schema", "json"},
              {"command_topic", kBase + "/" + object + "/set"},
              {"state_topic", kBase + "/" + object + "/state"},
              {"supported_color_modes", {"brightness"}},
              {"brightness_scale", 4096},
              {"qos", 1}}});
    }
    const std::string state = kBase + "/state";
    auto reading = [&](const char* value) { return json{{"state_topic", state}, {"value_template", value}}; };
    auto setting = [&](const char* object, const char* value, int min, int max) {
        json keys = reading(value);
        keys.update({{"command_topic", kBase + "/" + object + "/set"},
                     {"min", min},
                     {"max", max},
                     {"step", 1},
                     {"mode", "box"},
                     {"entity_category", "config"},
                     {"qos", 1}});
        return keys;
    };
    json mode = reading("{{ value_json.mode_name }}");
    mode.update({{"command_topic", kBase + "/mode/set"},
                 {"options", {"Manuell", "Auto", "Demo", "Flash", "Slave"}},
                 {"qos", 1}});
    json water = reading("{{ value_json.temperature }}");
    water.update(
        {{"device_class", "temperature"},
         {"unit_of_measurement", "°C"},
         {"state_class", "measurement"},
         {"suggested_display_precision", 1},
         {"availability", {availability[0], availability[1], {{"topic", kBase + "/water_temperature/availability"}}}}});
    json voltage = reading("{{ value_json.supply_voltage }}");
    voltage.update({{"device_class", "voltage"},
                    {"unit_of_measurement", "V"},
                    {"state_class", "measurement"},
                    {"suggested_display_precision", 1},
                    {"entity_category", "diagnostic"}});
    json moon = reading("{{ (value_json.moon_phase * 100) | round(1) }}");
    moon.update({{"unit_of_measurement", "%"}, {"state_class", "measurement"}, {"icon", "mdi:moon-waxing-gibbous"}});
    json cloudSeconds = setting("cloud_seconds", "{{ value_json.cloud_seconds }}", 1, 900);
    cloudSeconds.update({{"unit_of_measurement", "s"}, {"device_class", "duration"}});
    json stormMinutes = setting("storm_minutes", "{{ value_json.storm_minutes }}", 1, 200);
    stormMinutes.update({{"unit_of_measurement", "min"}, {"device_class", "duration"}});
    auto button = [&](const char* object) {
        return json{{"command_topic", kBase + "/" + object + "/set"},
                    {"payload_press", "PRESS"},
                    {"entity_category", "config"},
                    {"qos", 1}};
    };
    entities.insert(
        entities.end(),
        {{"mode", "Modus", mode},
         {"water_temperature", "Wassertemperatur", water},
         {"supply_voltage", "Versorgungsspannung", voltage},
         {"moon_phase", "Mondphase", moon},
         {"clouds_per_day", "Wolken pro Tag", setting("clouds_per_day", "{{ value_json.clouds_per_day }}", 0, 1000)},
         {"cloud_seconds", "Dauer einer Wolke", cloudSeconds},
         {"storms_per_day", "Gewitter pro Tag", setting("storms_per_day", "{{ value_json.storms_per_day }}", 0, 20)},
         {"storm_minutes", "Dauer eines Gewitters", stormMinutes},
         {"sync_clock", "Uhr stellen", button("sync_clock")},
         {"save_eeprom", "Einstellungen im EEPROM speichern", button("save_eeprom")}});
    // The alarms' problem sensors; the board missing depends on the service alone.
    auto alarm = [&](const char* object) {
        json keys = {{"state_topic", kBase + "/" + object + "/state"},
                     {"device_class", "problem"},
                     {"payload_on", "ON"},
                     {"payload_off", "OFF"},
                     {"entity_category", "diagnostic"}};
        if (std::string(object) == "missing_alarm") keys["availability"] = json::array({availability[1]});
        return keys;
    };
    entities.insert(entities.end(), {{"water_alarm", "Temperaturalarm", alarm("water_alarm")},
                                     {"supply_alarm", "Spannungsalarm", alarm("supply_alarm")},
                                     {"missing_alarm", "Board nicht erreichbar", alarm("missing_alarm")}});
    ASSERT_EQ(entities.size(), ObjectIds().size());

    // As Home Assistant starting now gets them: retained.
    auto late = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*late));
    for (const Entity& e : entities) {
        const auto message = late->Last(ConfigTopic(kSerial, e.object));
        ASSERT_TRUE(message) << e.object;
        EXPECT_TRUE(message->retained) << e.object;
        json config = Parsed(message);
        ASSERT_TRUE(config.is_object()) << e.object;
        json expected = e.keys;
        expected["name"] = e.name;
        expected["unique_id"] = "quelvan_QV2-000123_" + e.object;
        expected["device"] = device;
        if (!expected.contains("availability")) expected["availability"] = availability;
        expected["availability_mode"] = "all";
        for (const auto& [key, value] : expected.items())
            EXPECT_EQ(config.value(key, json()), value) << e.object << "." << key;
        EXPECT_EQ(config["origin"]["name"], "quelvand") << e.object;
        // Nothing beyond what was checked, the origin aside.
        EXPECT_EQ(config.size(), expected.size() + 1) << e.object << ": " << config.dump();
    }

    // The state, the lights' states, and who is there.
    json board = Parsed(ha->Last(state));
    ASSERT_TRUE(board.is_object());
    EXPECT_EQ(board["serial"], kSerial);
    EXPECT_EQ(board["service"], kClientId);
    EXPECT_EQ(board["mode_name"], "Manuell");
    EXPECT_EQ(board["channels"].size(), 12u);
    EXPECT_TRUE(board["temperature"].is_number());
    EXPECT_GT(board["supply_voltage"].get<double>(), 10.0);
    EXPECT_GE(board["moon_phase"].get<double>(), 0.0);
    for (const char* key : {"clock", "clouds_per_day", "cloud_seconds", "storms_per_day", "storm_minutes"})
        EXPECT_TRUE(board.contains(key)) << key;
    for (int n = 0; n < 12; ++n) {
        const int value = board["channels"][n]["value"];
        json light = Parsed(ha->Last(kBase + "/channel_" + std::string(1, static_cast<char>('a' + n)) + "/state"));
        EXPECT_EQ(light["state"], value > 0 ? "ON" : "OFF") << n;
        if (value > 0) {
            EXPECT_EQ(light["brightness"], value) << n;
        }
    }
    EXPECT_TRUE(ha->WaitFor(kBase + "/availability", "online"));
    EXPECT_TRUE(ha->WaitFor(kBase + "/water_temperature/availability", "online"));
    EXPECT_TRUE(ha->WaitFor(std::string("quelvan/service/") + kClientId + "/availability", "online"));
    EXPECT_TRUE(ha->WaitFor(std::string("quelvan/service/") + kClientId + "/boards", R"(["QV2-000123"])"));

    const ProcessResult status = RunQuelvanctlBinary({"--service", "service", "status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_NE(status.out.find("MQTT: connected to 127.0.0.1:" + std::to_string(broker_.Port()) + " as " + kClientId),
              std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find("announced: QV2-000123"), std::string::npos) << status.out;
}

TEST_F(ThroughTheBroker, ALightCommandChangesExactlyItsChannelAndInAutoSwitchesToManuellFirst) {
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();

    ha->Publish(kBase + "/channel_c/set", R"({"state": "ON", "brightness": 1234})");
    ASSERT_TRUE(WaitForChannel(*ha, kSerial, 'c', 1234)) << service_->Log();
    std::vector<TraceLine> trace = Trace();
    auto set = std::find_if(trace.rbegin(), trace.rend(), [](const TraceLine& t) { return t.isSet; });
    ASSERT_NE(set, trace.rend());
    const std::size_t at = static_cast<std::size_t>(trace.rend() - set) - 1;
    ASSERT_GE(at, 5u);
    ASSERT_LE(at + 6, trace.size());
    // Inside one session: the records read afresh, the write, and the read-back.
    EXPECT_EQ(TraceSummary({trace.begin() + static_cast<long>(at) - 5, trace.begin() + static_cast<long>(at) + 6}),
              (std::vector<std::string>{"get 1", "get 2", "get 4", "get 5", "get 6", "set 1", "get 1", "get 2", "get 4",
                                        "get 5", "get 6"}));
    const std::vector<std::uint8_t>& read = trace[at - 5].bytes;
    const std::vector<std::uint8_t>& sent = trace[at].bytes;
    ASSERT_EQ(sent.size(), read.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (i == 7 || i == 11) {
            EXPECT_EQ(sent[i], 255) << "clock and moon transit are left alone";
        } else if (i != 17 && i != 18) {
            EXPECT_EQ(sent[i], read[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(ChannelInBuffer(sent, 2), 1234);

    // In "Auto" the board's program would override the value: "Manuell" first, as "ALLES EIN".
    ha->Publish(kBase + "/mode/set", "Auto");
    ASSERT_TRUE(ha->WaitUntil([&] { return Parsed(ha->Last(kBase + "/state"))["mode_name"] == "Auto"; }));
    ha->Publish(kBase + "/channel_a/set", R"({"state": "ON"})");
    ASSERT_TRUE(WaitForChannel(*ha, kSerial, 'a', 4096)) << "never on before: full";
    EXPECT_TRUE(ha->WaitUntil([&] { return Parsed(ha->Last(kBase + "/state"))["mode_name"] == "Manuell"; }));
    trace = Trace();
    std::vector<std::string> sets;
    for (const TraceLine& t : trace)
        if (t.isSet)
            sets.push_back("set " + std::to_string(t.reportId) +
                           (t.reportId == 2 ? "/" + std::to_string(t.bytes[1]) : ""));
    EXPECT_EQ(sets, (std::vector<std::string>{"set 1", "set 2/1", "set 4", "set 5", "set 6", "set 2/0", "set 4",
                                              "set 5", "set 6", "set 1"}));

    // A weather number with the weather page's conversion.
    ha->Publish(kBase + "/storms_per_day/set", "20");
    ASSERT_TRUE(ha->WaitUntil([&] { return Parsed(ha->Last(kBase + "/state"))["storms_per_day"] == 20; }));
    trace = Trace();
    const auto last2 =
        std::find_if(trace.rbegin(), trace.rend(), [](const TraceLine& t) { return t.isSet && t.reportId == 2; });
    ASSERT_NE(last2, trace.rend());
    EXPECT_EQ(last2->bytes[24] | last2->bytes[25] << 8, ProbabilityFromCountPerDay(20));
}

TEST_F(ThroughTheBroker, BadAndRetainedCommandsLeaveTheBoardUntouchedAndTheServiceRunning) {
    // A retained command from long ago waits on the broker: it must not act when the service
    // subscribes.
    {
        MqttTestClient old(broker_.Port());
        old.Publish(kBase + "/channel_b/set", R"({"state": "ON"})", true);
    }
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();
    const int setsBefore = SetTransfers(Trace());

    const std::string light = kBase + "/channel_b/set";
    const std::pair<std::string, std::string> bad[] = {
        {light, "ON"},
        {light, "[1, 2]"},
        {light, R"({"state": "MAYBE"})"},
        {light, R"({"brightness": 5000})"},
        {light, R"({"brightness": -1})"},
        {light, R"({"brightness": "full"})"},
        {light, "{}"},
        {light, std::string("\xff\xfe\x00\x01", 4)},
        // A NUL byte ends the payload for a parser that stops there: the rest must not vanish.
        {light, std::string("{\"brightness\": 5}\0garbage", 25)},
        {kBase + "/storms_per_day/set", std::string("20\0", 3)},
        {light, R"({"state": "ON", "padding": ")" + std::string(1000, 'x') + "\"}"},
        {kBase + "/mode/set", "Turbo"},
        {kBase + "/mode/set", ""},
        {kBase + "/clouds_per_day/set", "1001"},
        {kBase + "/clouds_per_day/set", "12.5"},
        {kBase + "/cloud_seconds/set", "0"},
        {kBase + "/storm_minutes/set", "many"},
        {kBase + "/sync_clock/set", "press"},
        {kBase + "/colour/set", "1"},
    };
    for (const auto& [topic, payload] : bad) ha->Publish(topic, payload);
    // Commands are carried out in their order: once this one is done, every one before it was
    // looked at.
    ha->Publish(kBase + "/channel_a/set", R"({"brightness": 7})");
    ASSERT_TRUE(WaitForChannel(*ha, kSerial, 'a', 7)) << service_->Log();
    EXPECT_EQ(SetTransfers(Trace()), setsBefore + 1) << "only the good command wrote";
    EXPECT_EQ(Parsed(ha->Last(kBase + "/channel_b/state"))["brightness"], 100) << "the retained command did nothing";

    const std::string log = service_->Log();
    std::size_t refusals = 0;
    for (std::size_t at = log.find("refused, nothing sent"); at != std::string::npos;
         at = log.find("refused, nothing sent", at + 1))
        ++refusals;
    EXPECT_EQ(refusals, std::size(bad) + 1) << log;
    EXPECT_NE(log.find("retained command ignored"), std::string::npos) << log;
    EXPECT_TRUE(service_->Running());
    EXPECT_EQ(RunQuelvanctlBinary({"--service", "status"}).exitCode, 0);
    ha->Publish(kBase + "/channel_b/set", "", true);  // the broker forgets the old command
}

TEST_F(ThroughTheBroker, AvailabilityFollowsUnplugPlugAndTheServicesDeath) {
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();
    const std::string board = kBase + "/availability";
    const std::string service = std::string("quelvan/service/") + kClientId + "/availability";
    ASSERT_TRUE(ha->WaitFor(board, "online"));

    SetPlugged(state_, false);
    EXPECT_TRUE(ha->WaitFor(board, "offline")) << service_->Log();
    SetPlugged(state_, true);
    EXPECT_TRUE(ha->WaitFor(board, "online")) << service_->Log();
    // The board is back in the service's own list before the service dies (the list follows
    // the availability), or the service could not find it there when it comes back.
    ASSERT_TRUE(ha->WaitFor(std::string("quelvan/service/") + kClientId + "/boards", R"(["QV2-000123"])"));

    // Killed: the broker says so with the service's will.
    service_->Kill();
    EXPECT_TRUE(ha->WaitFor(service, "offline"));
    EXPECT_EQ(ha->Last(board)->payload, "online") << "the dead service could not say more";

    // The board goes while the service is away; the service, back, finds it in its own list.
    SetPlugged(state_, false);
    StartService();
    EXPECT_TRUE(ha->WaitFor(service, "online")) << service_->Log();
    EXPECT_TRUE(ha->WaitFor(board, "offline")) << service_->Log();
}

TEST_F(ThroughTheBroker, HomeAssistantsBirthBringsEveryConfigAgain) {
    // With the web page on, each device links to it: at the address it is reached at from
    // elsewhere (a page on loopback alone has none, see the rules).
    const std::string webPort = std::to_string(FreeLoopbackPort());
    StartService({}, "[web]\nport = " + webPort + "\ntoken_file = " + dir_.File("web-token") +
                         "\npublic_url = https://tank.example.lan/\n");
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();
    EXPECT_EQ(Parsed(ha->Last(ConfigTopic(kSerial, "mode")))["device"].value("configuration_url", ""),
              "https://tank.example.lan/");
    ha->Clear();
    ha->Publish("homeassistant/status", "online");
    EXPECT_TRUE(WaitForDiscovery(*ha, kSerial, true)) << service_->Log();
    EXPECT_TRUE(ha->Last(kBase + "/state")) << "and the state after them";
}

TEST_F(ThroughTheBroker, AfterTheBrokersRestartTheServiceReconnectsRepublishesAndLosesNoCommand) {
    StartService();
    {
        auto ha = HomeAssistant();
        ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();
    }
    broker_.Kill();
    ASSERT_TRUE(broker_.Start());
    // Nothing survived the broker: whatever comes, the service sent anew.
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();
    ASSERT_TRUE(ha->WaitFor(std::string("quelvan/service/") + kClientId + "/availability", "online"));
    for (const int brightness : {100, 200, 300}) {
        ha->Publish(kBase + "/channel_e/set", json{{"brightness", brightness}}.dump());
        EXPECT_TRUE(WaitForChannel(*ha, kSerial, 'e', brightness)) << service_->Log();
    }
}

TEST_F(ThroughTheBroker, TwoBoardsAreTwoDevicesAndACommandReachesOnlyItsOwn) {
    const std::string second = dir_.File("second.state");
    sim::BoardSettings settings;
    settings.serialNumber = u"QV2-000456";
    WriteBoardState(
        second, [](sim::SimulatedHidBackend& b) { b.Board().Config().Mode = 0; }, settings);
    StartService({state_, second});
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha, kSerial)) << service_->Log();
    ASSERT_TRUE(WaitForDiscovery(*ha, "QV2-000456")) << service_->Log();
    json one = Parsed(ha->Last(ConfigTopic(kSerial, "channel_a")));
    json two = Parsed(ha->Last(ConfigTopic("QV2-000456", "channel_a")));
    EXPECT_EQ(two["device"]["identifiers"], json({"quelvan_QV2-000456"}));
    EXPECT_NE(one["device"]["identifiers"], two["device"]["identifiers"]);
    EXPECT_NE(one["unique_id"], two["unique_id"]);
    EXPECT_TRUE(ha->WaitFor(std::string("quelvan/service/") + kClientId + "/boards", R"(["QV2-000123","QV2-000456"])"));

    const int firstBefore = Parsed(ha->Last(kBase + "/state"))["channels"][5]["value"];
    ha->Publish("quelvan/QV2-000456/channel_f/set", R"({"brightness": 2222})");
    ASSERT_TRUE(WaitForChannel(*ha, "QV2-000456", 'f', 2222)) << service_->Log();
    EXPECT_EQ(Parsed(ha->Last(kBase + "/state"))["channels"][5]["value"], firstBefore);
}

TEST_F(ThroughTheBroker, ForgetEmptiesTheConfigsOfAGoneBoardAndRefusesAHeldOne) {
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();

    ProcessResult refused = RunQuelvanctlBinary({"service", "forget", kSerial});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("holds board QV2-000123"), std::string::npos) << refused.err;

    SetPlugged(state_, false);
    ASSERT_TRUE(ha->WaitFor(kBase + "/availability", "offline"));
    const ProcessResult forgot = RunQuelvanctlBinary({"--json", "service", "forget", kSerial});
    ASSERT_EQ(forgot.exitCode, 0) << forgot.err;
    // Every config, the lights' and the alarms' states, the sensor's availability, state, availability.
    EXPECT_EQ(json::parse(forgot.out)["topics"], 25 + 12 + 3 + 3);
    // Home Assistant, starting now, finds nothing of the board.
    MqttTestClient fresh(broker_.Port());
    fresh.Subscribe("homeassistant/#");
    fresh.Subscribe(kBase + "/#");
    fresh.Listen(milliseconds(500));
    EXPECT_TRUE(fresh.Messages().empty()) << fresh.Messages().front().topic;
}

TEST_F(ThroughTheBroker, TlsWithACaFileAndAPasswordFromAFile) {
    const std::string tls = broker_.Folder();
    ASSERT_TRUE(MakeTestCertificates(tls)) << ReadFile(tls + "/openssl.log");
    const std::string passwords = tls + "/passwords";
    ASSERT_EQ(std::system(("mosquitto_passwd -b -c " + passwords + " tank 's3cret pass' >/dev/null").c_str()), 0);
    MqttBroker secured("cafile " + tls + "/ca.crt\ncertfile " + tls + "/server.crt\nkeyfile " + tls +
                       "/server.key\nallow_anonymous false\npassword_file " + passwords + "\n");
    ASSERT_TRUE(secured.Running()) << ReadFile(secured.Folder() + "/mosquitto.log");
    std::ofstream(dir_.File("right.pw")) << "s3cret pass\n";
    std::ofstream(dir_.File("wrong.pw")) << "guess\n";
    // A password file for the service's user alone, as the README installs it.
    for (const char* name : {"right.pw", "wrong.pw"}) ::chmod(dir_.File(name).c_str(), 0600);

    for (const bool right : {false, true}) {
        ServiceProcess::Options options;
        options.stateFiles = {state_};
        options.pollMs = 200;
        options.moreConfig = "[mqtt]\nhost = 127.0.0.1\nport = " + std::to_string(secured.Port()) +
                             "\nclient_id = quelvand-tls\nusername = tank\npassword_file = " +
                             dir_.File(right ? "right.pw" : "wrong.pw") + "\nca_file = " + tls + "/ca.crt\n";
        ServiceProcess service(options);
        ASSERT_TRUE(service.Running());
        MqttTestClient ha(secured.Port(), {"ha-tls", "tank", "s3cret pass", tls + "/ca.crt"});
        ASSERT_TRUE(ha.Connected());
        ha.Subscribe("homeassistant/#");
        if (right) {
            EXPECT_TRUE(WaitForDiscovery(ha, kSerial)) << service.Log();
        }
        std::string status;
        for (int i = 0; i < 50; ++i) {
            status = RunQuelvanctlBinary({"service", "status"}).out;
            if (status.find(right ? "MQTT: connected" : "refused") != std::string::npos) break;
            ha.Listen(milliseconds(100));
        }
        EXPECT_NE(status.find(right ? "MQTT: connected" : "refused the connection"), std::string::npos) << status;
        EXPECT_NE(status.find("(TLS)"), std::string::npos) << status;
        EXPECT_EQ(ha.Messages().empty(), !right) << "nothing is published without the right password";
    }
}

}  // namespace
}  // namespace quelvan::testing
