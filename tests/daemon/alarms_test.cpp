// The alarms: when each kind is raised and cleared (a rule table with the hysteresis), and
// through a real quelvand and a real broker: the three binary sensors Home Assistant is
// told of, their states following the board, the journal's lines and `service status`.

#include <gtest/gtest.h>

#include "broker_service.h"
#include "daemon/alarm_keeper.h"

namespace quelvan::testing {
namespace {

using nlohmann::json;
using service::AlarmSide;

TEST(AlarmRule, RaisedBeyondTheBoundClearedOnlyBackByTheHysteresis) {
    struct Step {
        const char* what;
        std::optional<double> value;
        AlarmSide expected;
    };
    struct Kind {
        const char* name;
        std::optional<double> minimum, maximum;
        double hysteresis;
        std::vector<Step> steps;
    };
    const Kind kinds[] = {
        {"water 24..27 °C, 0.3",
         22.0,
         27.0,
         0.3,
         {{"inside", 25.3, AlarmSide::None},
          {"on the upper bound", 27.0, AlarmSide::None},
          {"above", 27.1, AlarmSide::High},
          {"back on the bound", 27.0, AlarmSide::High},
          {"back by less", 26.8, AlarmSide::High},
          {"no sensor", std::nullopt, AlarmSide::High},
          {"back by the hysteresis", 26.7, AlarmSide::None},
          {"on the lower bound", 22.0, AlarmSide::None},
          {"below", 21.9, AlarmSide::Low},
          {"back by less", 22.2, AlarmSide::Low},
          {"back by the hysteresis", 22.3, AlarmSide::None},
          {"from low straight to high", 21.0, AlarmSide::Low},
          {"", 27.5, AlarmSide::High}}},
        {"supply 11.0..13.0 V, 0.1",
         11.0,
         13.0,
         0.1,
         {{"inside", 12.0, AlarmSide::None},
          {"on the lower bound", 11.0, AlarmSide::None},
          {"below", 10.999, AlarmSide::Low},
          {"back by less", 11.099, AlarmSide::Low},
          {"back by the hysteresis", 11.1, AlarmSide::None},
          {"above", 13.001, AlarmSide::High},
          {"back by the hysteresis", 12.9, AlarmSide::None}}},
        {"water, upper bound only",
         std::nullopt,
         30.0,
         0.3,
         {{"very cold is no alarm", -5.0, AlarmSide::None}, {"above", 30.5, AlarmSide::High}}},
        {"no bounds", std::nullopt, std::nullopt, 0.3, {{"anything", 99.0, AlarmSide::None}}},
    };
    for (const Kind& k : kinds) {
        AlarmSide side = AlarmSide::None;
        for (const Step& s : k.steps) {
            side = service::StepAlarm(side, s.value, k.minimum, k.maximum, k.hysteresis);
            EXPECT_EQ(side, s.expected) << k.name << ": " << s.what;
        }
    }
    // A bound switched off clears what it raised.
    EXPECT_EQ(service::StepAlarm(AlarmSide::High, 40.0, std::nullopt, std::nullopt, 0.3), AlarmSide::None);
}

constexpr const char* kSerial = "QV2-000123";

void EditBoard(const std::string& state, const std::function<void(sim::SimulatedHidBackend&)>& edit) {
    sim::SimulatedHidBackend board;
    std::string error;
    ASSERT_TRUE(board.SetStateFile(state, &error)) << error;
    edit(board);
}

class AlarmsThroughTheBroker : public BrokerService {
protected:
    void SetUp() override {
        ASSERT_TRUE(broker_.Running()) << "mosquitto did not start";
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
            b.Board().Live().Temperature = 253;
            b.Board().Live().SupplyVoltage = 12000;
        });
        StartService("[alarm]\nwater_max = 26.0\nsupply_min = 11.0\nmissing_after_s = 1\n");
    }
    bool WaitForAlarm(const char* object, const char* payload) {
        return client_->WaitFor(std::string("quelvan/") + kSerial + "/" + object + "/state", payload);
    }
    json Status() {
        const ProcessResult r = RunQuelvanctlBinary({"--service", "--json", "service", "status"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    }
};

TEST_F(AlarmsThroughTheBroker, ThreeProblemSensorsFollowTheBoardWithTheirHysteresis) {
    const std::string serviceAvailability = "quelvan/service/quelvand-test/availability";
    struct Entity {
        const char* object;
        const char* name;
    };
    for (const Entity& e : {Entity{"water_alarm", "Temperaturalarm"}, Entity{"supply_alarm", "Spannungsalarm"},
                            Entity{"missing_alarm", "Board nicht erreichbar"}}) {
        const std::string topic = std::string("homeassistant/binary_sensor/") + kSerial + "/" + e.object + "/config";
        ASSERT_TRUE(client_->WaitUntil([&] { return client_->Last(topic).has_value(); })) << topic;
        const json config = json::parse(client_->Last(topic)->payload);
        EXPECT_EQ(config["name"], e.name);
        EXPECT_EQ(config["device_class"], "problem");
        EXPECT_EQ(config["state_topic"], std::string("quelvan/") + kSerial + "/" + e.object + "/state");
        const std::size_t sources = std::string(e.object) == "missing_alarm" ? 1u : 2u;
        ASSERT_EQ(config["availability"].size(), sources) << e.object;
        EXPECT_EQ(config["availability"].back()["topic"], serviceAvailability) << e.object;
        EXPECT_TRUE(WaitForAlarm(e.object, "OFF")) << e.object;
    }
    EXPECT_TRUE(Status()["alarms"].empty());

    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Board().Live().Temperature = 262; });
    ASSERT_TRUE(WaitForAlarm("water_alarm", "ON"));
    // The state goes out at QoS 0, the sensors at 1: the broker may hand them over in either order.
    const std::string stateTopic = std::string("quelvan/") + kSerial + "/state";
    EXPECT_TRUE(client_->WaitUntil([&] {
        const json state = json::parse(client_->Last(stateTopic)->payload, nullptr, false);
        return state.is_object() && state["alarms"] == json{{"water", true}, {"supply", false}, {"missing", false}};
    })) << client_->Last(stateTopic)->payload;
    const json status = Status();
    ASSERT_EQ(status["alarms"].size(), 1u) << status.dump(1);
    EXPECT_EQ(status["alarms"][0]["kind"], "water");
    EXPECT_EQ(status["alarms"][0]["value"], 26.2);
    EXPECT_EQ(status["alarms"][0]["bound"], 26.0);
    EXPECT_FALSE(status["alarms"][0]["since"].get<std::string>().empty());
    const ProcessResult text = RunQuelvanctlBinary({"--service", "service", "status"});
    EXPECT_NE(text.out.find("board QV2-000123: water temperature 26.2 °C above 26.0 °C, since"), std::string::npos)
        << text.out;

    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Board().Live().Temperature = 258; });
    client_->Listen(std::chrono::milliseconds(800));
    EXPECT_EQ(client_->Last(std::string("quelvan/") + kSerial + "/water_alarm/state")->payload, "ON")
        << "25.8 °C is not back by 0.3";
    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Board().Live().Temperature = 257; });
    EXPECT_TRUE(WaitForAlarm("water_alarm", "OFF"));

    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Board().Live().SupplyVoltage = 10950; });
    EXPECT_TRUE(WaitForAlarm("supply_alarm", "ON"));
    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Board().Live().SupplyVoltage = 11100; });
    EXPECT_TRUE(WaitForAlarm("supply_alarm", "OFF"));

    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Unplug(); });
    EXPECT_TRUE(client_->WaitFor(std::string("quelvan/") + kSerial + "/availability", "offline"));
    EXPECT_TRUE(WaitForAlarm("missing_alarm", "ON")) << "told while the board is gone";
    EXPECT_EQ(Status()["alarms"][0]["kind"], "missing");
    EditBoard(state_, [](sim::SimulatedHidBackend& b) { b.Plug(); });
    EXPECT_TRUE(WaitForAlarm("missing_alarm", "OFF"));

    const std::string log = service_->Log();
    for (const char* line :
         {"alarm: water temperature 26.2 °C above 26.0 °C", "alarm cleared: water temperature 25.7 °C",
          "alarm: supply voltage 10.95 V below 11.00 V", "alarm cleared: supply voltage 11.10 V",
          "alarm: not reachable for 1 s or more", "alarm cleared: the board is back"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

}  // namespace
}  // namespace quelvan::testing
