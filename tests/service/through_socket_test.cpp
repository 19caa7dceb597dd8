// quelvand on a simulated board, spoken to through its socket: by quelvanctl, by a client
// that shares the board the way the window does, and by raw messages.

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTcpServer>

#include "backend/service_backend.h"
#include "board_fixture.h"
#include "device/board_protocol.h"
#include "device/channel_values.h"
#include "device/hid_device_controller.h"
#include "service_process.h"

namespace quelvan::testing {
namespace {

using nlohmann::json;

class ThroughTheSocket : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Config().Mode = 0; });
        service_ = std::make_unique<ServiceProcess>(state_);
        ASSERT_TRUE(service_->Running());
    }
    void TearDown() override {
        std::string log;
        EXPECT_EQ(service_->Stop(&log), 0) << log;
    }

    json Status() {
        const ProcessResult r = RunQuelvanctlBinary({"--service", "--json", "status"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    }
    std::string BoardDevice(RawClient& client) {
        EXPECT_EQ(client.Ask({{"id", 1}, {"op", "hello"}, {"version", 1}})["ok"], true);
        const json list = client.Ask({{"id", 2}, {"op", "list"}});
        return list["devices"].at(0)["device"].get<std::string>();
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    std::unique_ptr<ServiceProcess> service_;
};

TEST_F(ThroughTheSocket, TwoCommandsAtTheSameMomentLoseNoValue) {
    for (int round = 0; round < 50; ++round) {
        const int c = round % 50, d = 99 - round % 50;
        const auto results = RunQuelvanctlBinariesTogether(
            {{"--service", "set", "C", std::to_string(c)}, {"--service", "set", "D", std::to_string(d)}});
        for (const ProcessResult& r : results) ASSERT_EQ(r.exitCode, 0) << r.err;
        const json status = Status();
        ASSERT_EQ(status["channels"][2]["value"], ChannelValueFromPercent(c)) << "round " << round;
        ASSERT_EQ(status["channels"][3]["value"], ChannelValueFromPercent(d)) << "round " << round;
    }
}

TEST_F(ThroughTheSocket, ASharedClientsWriteKeepsWhatAnotherProgramChangedMeanwhile) {
    std::string error;
    auto backend = ServiceBackend::Connect({service_->Socket()}, {ServiceBackend::Sessions::OnDemand, "test"}, &error);
    ASSERT_TRUE(backend) << error;
    HidDeviceController controller(*backend);
    controller.OnDeviceChange = [] {};
    controller.ProcessNotifications();
    ASSERT_EQ(controller.DeviceCount(), 1);
    const SystemClock clock;
    BoardProtocol board(clock);
    board.SetDevice(controller.AcquireDevice(0));
    ASSERT_TRUE(board.ReadLiveState().ok && board.ReadDeviceConfig().ok);  // the window's poll
    ASSERT_TRUE(board.Device()->Shared());

    // Another program changes D and FanHigh between this client's poll and its edits.
    for (const auto& args : {std::vector<std::string>{"--service", "set", "D", "20"},
                             std::vector<std::string>{"--service", "config", "set", "FanHigh", "77"}}) {
        const ProcessResult r = RunQuelvanctlBinary(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    board.live.ChannelValue[2] = ChannelValueFromPercent(10);
    EXPECT_TRUE(board.WriteLiveState(false, false, true).ok);
    board.config.FanLow = 33;
    EXPECT_TRUE(board.WriteDeviceConfig().ok);
    // A clock set from a stale copy carries the fresh channels, not the stale ones.
    board.live.ClockHour = 7;
    EXPECT_TRUE(board.WriteLiveState(true, false, false).ok);
    board.SetDevice(nullptr);

    const json status = Status();
    EXPECT_EQ(status["channels"][2]["value"], ChannelValueFromPercent(10));
    EXPECT_EQ(status["channels"][3]["value"], ChannelValueFromPercent(20));
    const ProcessResult config = RunQuelvanctlBinary({"--service", "--json", "config"});
    const json keys = json::parse(config.out, nullptr, false);
    EXPECT_EQ(keys["Config"]["FanLow"], 33) << config.out;
    EXPECT_EQ(keys["Config"]["FanHigh"], 77) << config.out;
}

TEST_F(ThroughTheSocket, AClientKilledInItsSessionFreesTheBoardAtOnce) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        RawClient client(service_->Socket());
        const std::string device = BoardDevice(client);
        const bool began = client.Ask({{"id", 3}, {"op", "begin"}, {"device", device}})["ok"] == true;
        const char byte = began ? 1 : 0;
        [[maybe_unused]] const auto written = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char began = 0;
    ASSERT_EQ(::read(ready[0], &began, 1), 1);
    ASSERT_EQ(began, 1);

    RawClient waiter(service_->Socket());
    const std::string device = BoardDevice(waiter);
    waiter.Send({{"id", 3}, {"op", "begin"}, {"device", device}});
    EXPECT_FALSE(waiter.Receive(std::chrono::milliseconds(300))) << "the board is held by the other client";
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // Long before the service's wait for a session (15 s) would give up.
    const auto reply = waiter.Receive(std::chrono::seconds(5));
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["id"], 3);
    EXPECT_EQ((*reply)["ok"], true) << reply->dump();
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(ThroughTheSocket, APeerWithoutPermissionIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: the refused client runs as user 65534 (nobody)";
    // Open the file system's door, so that only the service's own check stands in the way.
    ::chmod(service_->Folder().c_str(), 0755);
    ::chmod(service_->Socket().c_str(), 0666);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        RawClient client(service_->Socket());
        const auto refusal = client.Receive();
        const bool refused = refusal && (*refusal)["ok"] == false && (*refusal)["code"] == "denied";
        ::_exit(refused && !client.Receive(std::chrono::seconds(2)) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(Status()["mode"], 0) << "the service serves others as before";
}

TEST_F(ThroughTheSocket, MalformedOversizedAndUnknownRequestsGetErrorsAndTheServiceGoesOn) {
    RawClient client(service_->Socket());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Ask({{"id", 1}, {"op", "list"}})["code"], "hello-first");
    EXPECT_EQ(client.Ask({{"id", 2}, {"op", "hello"}, {"version", 99}})["code"], "version");
    const std::string device = BoardDevice(client);
    struct Case {
        std::string line;
        json id;
        const char* code;
    };
    const std::string hugeSet =
        json{{"id", 9}, {"op", "set"}, {"device", device}, {"data", std::string(10000, 'a')}}.dump();
    const Case cases[] = {
        {"not json at all", nullptr, "bad-request"},
        {"[1, 2, 3]", nullptr, "bad-request"},
        {R"({"op": "list"})", nullptr, "bad-request"},
        {R"({"id": "seven", "op": "list"})", nullptr, "bad-request"},
        {R"({"id": 3})", 3, "bad-request"},
        {R"({"id": 4, "op": "format-disk"})", 4, "unknown-op"},
        {R"({"id": 5, "op": "get"})", 5, "bad-request"},
        {R"({"id": 6, "op": "get", "device": "nowhere", "data": "01"})", 6, "no-device"},
        {R"({"id": 7, "op": "get", "device": ")" + device + R"(", "data": "0"})", 7, "bad-request"},
        {R"({"id": 8, "op": "set", "device": ")" + device + R"(", "data": ""})", 8, "bad-request"},
        {hugeSet, 9, "bad-request"},
        {std::string(20000, 'x'), nullptr, "too-long"},
        {R"({"id": 10, "op": "end", "device": ")" + device + R"("})", 10, "no-session"},
    };
    for (const Case& c : cases) {
        client.SendRaw(c.line + "\n");
        const auto reply = client.Receive();
        ASSERT_TRUE(reply) << c.line.substr(0, 60);
        EXPECT_EQ((*reply)["ok"], false) << c.line.substr(0, 60);
        EXPECT_EQ((*reply)["id"], c.id) << c.line.substr(0, 60);
        EXPECT_EQ((*reply)["code"], c.code) << c.line.substr(0, 60);
    }
    // A message split anywhere is one message.
    client.SendRaw(R"({"id": 11, "op")");
    client.SendRaw(R"(: "li)");
    client.SendRaw("st\"}\n");
    EXPECT_EQ(client.Receive().value_or(json())["devices"].size(), 1u);
    // The same connection and a new command both go on.
    const json got =
        client.Ask({{"id", 12}, {"op", "get"}, {"device", device}, {"data", std::string(84, '0').replace(0, 2, "01")}});
    EXPECT_EQ(got["ok"], true) << got.dump();
    EXPECT_EQ(got["data"].get<std::string>().size(), 84u);
    const ProcessResult status = RunQuelvanctlBinary({"--service", "service", "status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_NE(status.out.find("QV2-000123"), std::string::npos) << status.out;
}

TEST_F(ThroughTheSocket, TheWebTokenIsShownToSocketPeersAndWithoutOneThePageIsNotServed) {
    const ProcessResult off = RunQuelvanctlBinary({"service", "web-token"});
    EXPECT_EQ(off.exitCode, 1) << off.out;
    EXPECT_NE(off.err.find("no [web] section"), std::string::npos) << off.err;

    QTcpServer probe;  // a free loopback port
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(probe.serverPort());
    probe.close();
    ServiceProcess::Options options;
    options.stateFiles = {state_};
    options.moreConfig = "[web]\nport = " + port + "\ntoken_file = " + dir_.File("web/token") + "\n";
    {
        ServiceProcess web(options);
        ASSERT_TRUE(web.Running()) << web.Log();
        const ProcessResult shown = RunQuelvanctlBinary({"service", "web-token"});
        EXPECT_EQ(shown.exitCode, 0) << shown.err;
        EXPECT_EQ(shown.out, ReadFile(dir_.File("web/token")));
        const ProcessResult json = RunQuelvanctlBinary({"--json", "service", "web-token"});
        EXPECT_EQ(nlohmann::json::parse(json.out, nullptr, false).value("url", ""), "http://127.0.0.1:" + port + "/");
        EXPECT_EQ(web.Stop(), 0);
    }
    // The token cannot be had: no page at all, not even on loopback, and the service says why.
    options.moreConfig = "[web]\nlisten = 127.0.0.1:" + port + "\ntoken_file = /proc/quelvan/web-token\n";
    ServiceProcess refused(options);
    std::string log;
    for (int i = 0; i < 200 && log.find("[web]") == std::string::npos; ++i) {
        ::usleep(10000);
        log = refused.Log();
    }
    EXPECT_NE(log.find("not served without a token"), std::string::npos) << log;
}

}  // namespace
}  // namespace quelvan::testing
