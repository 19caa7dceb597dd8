// Through a real broker: whose a board's retained topics are (forget, and a service putting
// back what someone else emptied), two services with one client id, boards that share a
// serial number, and what a light and a measurement tell Home Assistant.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "broker_fixture.h"

namespace quelvan::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kOtherSerial = "QV2-000456";
constexpr const char* kOtherClient = "quelvand-other";

// Every config of the board was emptied and then published again, in this order.
bool ConfigsCameBack(const MqttTestClient& client, const std::string& id) {
    for (const std::string& object : ObjectIds()) {
        const std::string topic = ConfigTopic(id, object);
        bool emptied = false, back = false;
        for (const MqttMessage& m : client.Messages()) {
            if (m.topic != topic) continue;
            if (m.payload.empty()) {
                emptied = true;
                back = false;
            } else if (emptied) {
                back = true;
            }
        }
        if (!back) return false;
    }
    return true;
}

void EditBoard(const std::string& state, const std::function<void(sim::SimulatedBoard&)>& edit) {
    sim::SimulatedHidBackend board;
    std::string error;
    ASSERT_TRUE(board.SetStateFile(state, &error)) << error;
    edit(board.Board());
}

class Owners : public ThroughTheBroker {
protected:
    // quelvanctl speaking to this test's own service (the other one has a socket of its own).
    ProcessResult Ctl(const std::vector<std::string>& args) {
        ::setenv("QUELVAN_SOCKET", service_->Socket().c_str(), 1);
        return RunQuelvanctlBinary(args);
    }
};

TEST_F(Owners, ForgetRefusesATypoAnOnlineBoardAndAnotherServicesBoardAndForceIsUndoneByALiveOwner) {
    const std::string second = dir_.File("second.state");
    sim::BoardSettings settings;
    settings.serialNumber = u"QV2-000456";
    WriteBoardState(second, {}, settings);
    auto other = OtherService({second}, kOtherClient);
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha, kSerial)) << service_->Log();
    ASSERT_TRUE(WaitForDiscovery(*ha, kOtherSerial)) << other->Log();
    ASSERT_TRUE(ha->WaitFor(std::string("quelvan/") + kOtherSerial + "/availability", "online"));

    struct Refused {
        std::vector<std::string> args;
        const char* why;
    };
    const Refused refused[] = {
        {{"service", "forget", "QV2-999999"}, "the broker holds nothing for board QV2-999999"},
        {{"service", "forget", kOtherSerial}, "board QV2-000456 is online (held by the service quelvand-other)"},
        {{"service", "forget", kSerial}, "this service holds board QV2-000123"},
    };
    for (const Refused& r : refused) {
        const ProcessResult result = Ctl(r.args);
        EXPECT_NE(result.exitCode, 0) << r.args.back();
        EXPECT_NE(result.err.find(r.why), std::string::npos) << result.err;
    }

    // Forced while its service runs: that service puts its board back.
    ha->Clear();
    const ProcessResult forced = Ctl({"--json", "service", "forget", "--force", kOtherSerial});
    ASSERT_EQ(forced.exitCode, 0) << forced.err;
    // Every config (25, the alarms' three included), the lights' and the alarms' states, the
    // sensor's availability, the state and the availability.
    EXPECT_EQ(json::parse(forced.out)["topics"], 25 + 12 + 3 + 3);
    EXPECT_TRUE(ha->WaitUntil([&] { return ConfigsCameBack(*ha, kOtherSerial); })) << other->Log();
    EXPECT_TRUE(ha->WaitFor(std::string("quelvan/") + kOtherSerial + "/availability", "online"));
    EXPECT_NE(other->Log().find("another client emptied its retained topics"), std::string::npos);

    // Its board unplugged (offline) and the service gone: the state still names that service.
    SetPlugged(second, false);
    ASSERT_TRUE(ha->WaitFor(std::string("quelvan/") + kOtherSerial + "/availability", "offline")) << other->Log();
    other->Kill();
    const ProcessResult notOurs = Ctl({"service", "forget", kOtherSerial});
    EXPECT_NE(notOurs.exitCode, 0);
    EXPECT_NE(notOurs.err.find("belongs to the service quelvand-other, not to this one (quelvand-test)"),
              std::string::npos)
        << notOurs.err;
    const ProcessResult gone = Ctl({"service", "forget", "--force", kOtherSerial});
    ASSERT_EQ(gone.exitCode, 0) << gone.err;
    MqttTestClient fresh(broker_.Port());
    fresh.Subscribe("homeassistant/+/" + std::string(kOtherSerial) + "/#");
    fresh.Subscribe(std::string("quelvan/") + kOtherSerial + "/#");
    fresh.Listen(milliseconds(500));
    EXPECT_TRUE(fresh.Messages().empty()) << fresh.Messages().front().topic;
}

TEST_F(Owners, ASecondClientWithTheSameIdIsNoticedAndBackedOffFrom) {
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();

    MqttClientSetup same;
    same.id = kClientId;
    same.exactId = true;
    MqttTestClient intruder(broker_.Port(), same);
    ASSERT_TRUE(intruder.Connected());
    const std::string notice = std::string("another client uses the client id ") + kClientId;
    for (int i = 0; i < 30 && service_->Log().find(notice) == std::string::npos; ++i)
        intruder.StayConnected(milliseconds(500));
    ASSERT_NE(service_->Log().find(notice), std::string::npos) << service_->Log();
    const ProcessResult status = Ctl({"service", "status"});
    EXPECT_NE(status.out.find(notice), std::string::npos) << status.out;
    EXPECT_EQ(json::parse(Ctl({"--json", "service", "status"}).out)["mqtt"]["client_id_taken"], true);

    // Backing off: in 14 s the service takes the id back a few times, not once a second.
    const int dropped = intruder.StayConnected(seconds(14));
    EXPECT_LE(dropped, 3) << service_->Log();
}

TEST_F(Owners, FreshSimulatedBoardsHaveTheirOwnSerialsAndOfTwoWithOneSerialOnlyTheFirstIsPublished) {
    StartService({dir_.File("fresh-a.state"), dir_.File("fresh-b.state")});
    {
        auto ha = HomeAssistant();
        EXPECT_TRUE(WaitForDiscovery(*ha, "QV2-000123")) << service_->Log();
        EXPECT_TRUE(WaitForDiscovery(*ha, "QV2-000124")) << service_->Log();
        EXPECT_TRUE(
            ha->WaitFor(std::string("quelvan/service/") + kClientId + "/boards", R"(["QV2-000123","QV2-000124"])"));
    }
    ASSERT_EQ(service_->Stop(), 0);

    // A copy of the board's file: the same serial number, other lights.
    const std::string copy = dir_.File("copy.state");
    WriteBoardState(copy, [](sim::SimulatedHidBackend& b) {
        b.Board().Config().Mode = 0;
        b.Board().Live().ChannelValue.fill(3000);
    });
    // Listening before the service starts: every state it publishes comes as it is sent.
    auto ha = HomeAssistant();
    StartService({state_, copy});
    ASSERT_TRUE(WaitForDiscovery(*ha, kSerial, true)) << service_->Log();
    ha->Listen(milliseconds(2000));
    int states = 0;
    for (const MqttMessage& m : ha->Messages()) {
        // A retained one is the fresh board's, from before.
        if (m.topic != kBase + "/state" || m.retained) continue;
        ++states;
        EXPECT_EQ(Parsed(m)["channels"][1]["value"], 100) << "only the first board is published";
    }
    EXPECT_GT(states, 0);
    const std::string log = service_->Log();
    const std::size_t at = log.find("boards at 0/sim:board/");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string line = log.substr(at, log.find('\n', at) - at);
    EXPECT_NE(line.find(" and 1/sim:board/"), std::string::npos) << line;
    EXPECT_NE(line.find("have the same serial number QV2-000123; only the first is published"), std::string::npos)
        << line;
}

TEST_F(Owners, OnWithoutBrightnessBringsTheLastOneBackAndSupplyNoiseIsNotPublished) {
    StartService();
    auto ha = HomeAssistant();
    ASSERT_TRUE(WaitForDiscovery(*ha)) << service_->Log();

    // Channel C was at 200: off, then on again without a brightness.
    ha->Publish(kBase + "/channel_c/set", R"({"state": "OFF"})");
    ASSERT_TRUE(WaitForChannel(*ha, kSerial, 'c', 0)) << service_->Log();
    ha->Publish(kBase + "/channel_c/set", R"({"state": "ON"})");
    EXPECT_TRUE(WaitForChannel(*ha, kSerial, 'c', 200)) << service_->Log();
    // Channel A was never on: full.
    ha->Publish(kBase + "/channel_a/set", R"({"state": "ON"})");
    EXPECT_TRUE(WaitForChannel(*ha, kSerial, 'a', 4096)) << service_->Log();

    const std::string state = kBase + "/state";
    auto volts = [&] { return Parsed(ha->Last(state)).value("supply_voltage", json()); };
    EditBoard(state_, [](sim::SimulatedBoard& b) { b.Live().SupplyVoltage = 12000; });
    ASSERT_TRUE(ha->WaitUntil([&] { return volts() == json(12.0); })) << volts();
    ha->Listen(milliseconds(600));
    const auto countStates = [&] {
        return std::count_if(ha->Messages().begin(), ha->Messages().end(),
                             [&](const MqttMessage& m) { return m.topic == state; });
    };
    const auto before = countStates();
    EditBoard(state_, [](sim::SimulatedBoard& b) { b.Live().SupplyVoltage = 12040; });
    ha->Listen(milliseconds(1500));
    EXPECT_EQ(countStates(), before) << "40 mV is below what the board measures: no message";
    EditBoard(state_, [](sim::SimulatedBoard& b) { b.Live().SupplyVoltage = 12160; });
    EXPECT_TRUE(ha->WaitUntil([&] { return volts() == json(12.2); })) << volts();
}

}  // namespace
}  // namespace quelvan::testing
