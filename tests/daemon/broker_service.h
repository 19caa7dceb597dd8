#pragma once
// A real quelvand on a simulated board's state file and a real mosquitto, with a client that
// hears everything the service publishes: what the daemon's tests through the broker share.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "board_fixture.h"
#include "mqtt_helpers.h"
#include "service_process.h"

namespace quelvan::testing {

class BrokerService : public ::testing::Test {
protected:
    // quelvand with [mqtt] on the broker, `moreConfig` after it, polling every 200 ms; then the
    // client, subscribed to the discovery and state topics.
    void StartService(const std::string& moreConfig, const std::string& traceFile = {}) {
        ServiceProcess::Options options;
        options.stateFiles = {state_};
        options.pollMs = 200;
        options.traceFile = traceFile;
        options.moreConfig = "[mqtt]\nhost = 127.0.0.1\nport = " + std::to_string(broker_.Port()) +
                             "\nclient_id = quelvand-test\n" + moreConfig;
        service_ = std::make_unique<ServiceProcess>(options);
        ASSERT_TRUE(service_->Running());
        client_ = std::make_unique<MqttTestClient>(broker_.Port());
        ASSERT_TRUE(client_->Connected());
        client_->Subscribe("homeassistant/#");
        client_->Subscribe("quelvan/#");
    }
    void TearDown() override {
        std::string log;
        if (service_ && service_->Running()) {
            EXPECT_EQ(service_->Stop(&log), 0) << log;
        }
    }

    MqttBroker broker_;
    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    std::unique_ptr<ServiceProcess> service_;
    std::unique_ptr<MqttTestClient> client_;
};

}  // namespace quelvan::testing
