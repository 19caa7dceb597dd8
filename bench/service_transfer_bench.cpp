// One feature-report get of the live state: on the simulated board in-process, and forwarded
// through quelvand's socket by the service's client backend to the same kind of board held
// by the service. The difference is what the service adds to each transfer.
//
//     build/bench/service_transfer_bench QUELVAND [benchmark options]

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "backend/service_backend.h"
#include "device/hid_device_controller.h"
#include "device/records.h"
#include "simulator/simulated_backend.h"

extern char** environ;

namespace {

std::string quelvandPath;

void ReadLive(benchmark::State& state, quelvan::HidBackend& backend) {
    quelvan::HidDeviceController controller(backend);
    controller.OnDeviceChange = [] {};
    controller.ProcessNotifications();
    quelvan::HidDevice* device = controller.AcquireDevice(0);
    if (!device) {
        state.SkipWithError("no board");
        return;
    }
    std::array<std::uint8_t, quelvan::report::kLiveStateLength> buffer{};
    for (auto _ : state) {
        buffer[0] = quelvan::report::kLiveState;
        if (!device->ReadFeature(buffer.data(), buffer.size())) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(buffer);
    }
    controller.ReleaseDevice(device);
}

void BM_GetOnTheSimulatedBoard(benchmark::State& state) {
    quelvan::sim::SimulatedHidBackend backend;
    backend.Board().SetFrozen(true);
    ReadLive(state, backend);
}
BENCHMARK(BM_GetOnTheSimulatedBoard)->Unit(benchmark::kMicrosecond);

void BM_GetForwardedByTheService(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / ("quelvand-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string socket = (dir / "q.sock").string(), config = (dir / "q.conf").string();
    std::ofstream(config) << "[service]\npoll_ms = 0\nsocket = " << socket << "\n";
    std::string args[] = {quelvandPath, "--config", config, "--simulate"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        state.SkipWithError("cannot start quelvand");
        return;
    }
    std::unique_ptr<quelvan::ServiceBackend> backend;
    for (int i = 0; i < 500 && !backend; ++i) {
        backend = quelvan::ServiceBackend::Connect({socket}, {}, nullptr);
        if (!backend) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (backend)
        ReadLive(state, *backend);
    else
        state.SkipWithError("quelvand did not answer");
    backend.reset();
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GetForwardedByTheService)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s QUELVAND [benchmark options]\n", argv[0]);
        return 2;
    }
    quelvandPath = argv[1];
    argv[1] = argv[0];
    --argc;
    ++argv;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
