// The MQTT bridge's latency on the simulated board, on the tool's side: from a light command
// arriving to its HID set, and from the HID read of a changed live state to its publication.
// Then the same end to end through Debian's mosquitto on a loopback port, with a client
// standing in for Home Assistant (the broker's hop and both clients' work included).
//
//     build/bench/mqtt_bench [benchmark options]

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_client.h"
#include "service/board_owner.h"
#include "simulator/simulated_backend.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using quelvan::service::BoardOwner;
using quelvan::service::MqttBridge;

const std::string kCommand = "quelvan/QV2-000123/channel_c/set";
const std::string kState = "quelvan/QV2-000123/state";

class Timestamps final : public quelvan::service::MqttTransport {
public:
    bool Connected() const override { return true; }
    int Publish(const std::string& topic, const std::string&, int, bool) override {
        if (topic == kState) statePublished = Clock::now();
        return ++id;
    }
    bool Subscribe(const std::string&, int) override { return true; }
    bool Unsubscribe(const std::string&) override { return true; }
    Clock::time_point statePublished;
    int id = 0;
};

// The owner and the bridge on a simulated board, as quelvand has them.
struct InProcess {
    InProcess() : owner(backend, clock, Options()) {
        backend.Board().SetFrozen(true);
        backend.Board().Config().Mode = 0;
        owner.SetTransferObserver([this](const quelvan::TransferRecord& r) {
            if (r.isSet && r.bytes.at(0) == 1) setDone = Clock::now();
            if (!r.isSet && r.bytes.at(0) == 1) readDone = Clock::now();
        });
        owner.Start();
    }
    static quelvan::service::OwnerOptions Options() {
        quelvan::service::OwnerOptions options;
        options.pollMs = 60000;  // polled by hand
        return options;
    }
    quelvan::sim::SimulatedHidBackend backend;
    quelvan::SystemClock clock;
    BoardOwner owner;
    Clock::time_point setDone, readDone;
};

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Argument: the simulated board's time per transfer in microseconds (a real board takes about
// a millisecond; the command reads the board's five reports afresh before its write).
void BM_LightCommandToHidSet(benchmark::State& state) {
    InProcess board;
    board.backend.SetLatency(std::chrono::microseconds(state.range(0)));
    Timestamps transport;
    MqttBridge bridge(board.owner, transport, {});
    bridge.OnConnected();
    int value = 0;
    for (auto _ : state) {
        const std::string payload = "{\"brightness\": " + std::to_string(++value % 4096) + "}";
        const auto start = Clock::now();
        bridge.OnMessage(kCommand, payload, false);
        state.SetIterationTime(Seconds(start, board.setDone));
    }
}
BENCHMARK(BM_LightCommandToHidSet)->Arg(0)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_HidReadToPublishedState(benchmark::State& state) {
    InProcess board;
    Timestamps transport;
    MqttBridge bridge(board.owner, transport, {});
    bridge.OnConnected();
    std::int16_t value = 0;
    for (auto _ : state) {
        board.backend.Board().Live().ChannelValue[4] = ++value;  // changed at the board itself
        board.owner.PollBoards();
        state.SetIterationTime(Seconds(board.readDone, transport.statePublished));
    }
}
BENCHMARK(BM_HidReadToPublishedState)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- end to end through a broker ----

pid_t brokerPid = 0;
int brokerPort = 0;
std::filesystem::path brokerFolder;

bool StartBroker() {
    brokerFolder = std::filesystem::temp_directory_path() / ("quelvan-mqtt-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(brokerFolder);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    brokerPort = ntohs(address.sin_port);
    ::close(fd);
    const std::string config = (brokerFolder / "mosquitto.conf").string();
    std::ofstream(config) << "persistence false\nuser root\nlistener " << brokerPort
                          << " 127.0.0.1\nallow_anonymous true\n";
    std::string args[] = {"/usr/sbin/mosquitto", "-c", config};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
    if (posix_spawn(&brokerPid, argv[0], nullptr, nullptr, argv, environ) != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return true;
}

void StopBroker() {
    if (brokerPid > 0) {
        ::kill(brokerPid, SIGTERM);
        ::waitpid(brokerPid, nullptr, 0);
    }
    std::filesystem::remove_all(brokerFolder);
}

struct ThroughBroker {
    ThroughBroker() {
        quelvan::service::MqttClientOptions options;
        options.host = "127.0.0.1";
        options.port = brokerPort;
        options.clientId = "quelvand-bench";
        client = std::make_unique<quelvan::service::MqttClient>(options);
        bridge = std::make_unique<MqttBridge>(board.owner, *client, quelvan::service::BridgeOptions{});
        client->onConnected = [this] { bridge->OnConnected(); };
        client->onMessage = [this](const std::string& t, const std::string& p, bool r) { bridge->OnMessage(t, p, r); };
        client->Start(nullptr);
        ha = mosquitto_new("ha-bench", true, this);
        mosquitto_message_callback_set(ha, [](mosquitto*, void* self, const mosquitto_message* m) {
            if (kState == m->topic) static_cast<ThroughBroker*>(self)->stateArrived = Clock::now();
        });
        mosquitto_connect(ha, "127.0.0.1", brokerPort, 30);
        mosquitto_subscribe(ha, nullptr, kState.c_str(), 0);
        Pump([this] { return client->Connected(); });
        Pump([] { return false; }, std::chrono::milliseconds(300));  // subscriptions settle
    }
    ~ThroughBroker() { mosquitto_destroy(ha); }
    template <typename Done>
    bool Pump(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto until = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > until) return false;
            QCoreApplication::processEvents();
            mosquitto_loop(ha, 0, 1);
        }
        return true;
    }
    InProcess board;
    std::unique_ptr<quelvan::service::MqttClient> client;
    std::unique_ptr<MqttBridge> bridge;
    mosquitto* ha = nullptr;
    Clock::time_point stateArrived;
};

void BM_LightCommandThroughBrokerToHidSet(benchmark::State& state) {
    ThroughBroker e2e;
    if (!e2e.client->Connected()) return state.SkipWithError("no broker");
    int value = 0;
    for (auto _ : state) {
        const std::string payload = "{\"brightness\": " + std::to_string(++value % 4096) + "}";
        e2e.board.setDone = {};
        const auto start = Clock::now();
        mosquitto_publish(e2e.ha, nullptr, kCommand.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          false);
        if (!e2e.Pump([&] { return e2e.board.setDone != Clock::time_point(); }))
            return state.SkipWithError("the command did not arrive");
        state.SetIterationTime(Seconds(start, e2e.board.setDone));
    }
}
BENCHMARK(BM_LightCommandThroughBrokerToHidSet)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_HidReadThroughBrokerToStateReceived(benchmark::State& state) {
    ThroughBroker e2e;
    if (!e2e.client->Connected()) return state.SkipWithError("no broker");
    std::int16_t value = 0;
    for (auto _ : state) {
        e2e.board.backend.Board().Live().ChannelValue[4] = ++value;
        e2e.stateArrived = {};
        e2e.board.owner.PollBoards();
        if (!e2e.Pump([&] { return e2e.stateArrived != Clock::time_point(); }))
            return state.SkipWithError("no state arrived");
        state.SetIterationTime(Seconds(e2e.board.readDone, e2e.stateArrived));
    }
}
BENCHMARK(BM_HidReadThroughBrokerToStateReceived)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    mosquitto_lib_init();
    const bool broker = StartBroker();
    benchmark::Initialize(&argc, argv);
    if (!broker) std::fprintf(stderr, "mosquitto did not start: the end-to-end benchmarks are skipped\n");
    benchmark::RunSpecifiedBenchmarks();
    StopBroker();
    return 0;
}
