#include "daemon/service_runner.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "backend/backend_factory.h"
#include "backend/service_protocol.h"
#include "daemon/combined_backend.h"
#include "daemon/daemon_config.h"
#include "daemon/keepers.h"
#include "device/transfer_trace.h"
#include "device/version.h"
#include "mqtt/mqtt_service.h"
#include "service/board_owner.h"
#include "service/service_log.h"
#include "service/socket_server.h"
#include "service/systemd_notifier.h"
#include "web/web_server.h"

namespace quelvan::service {

namespace {

constexpr const char* kUsage =
    "Usage: quelvand [--config FILE] [--simulate[=STATEFILE]]... [--trace FILE]\n"
    "Owns the Quelvan 2.x boards and shares them with quelvanctl and the window over a local socket,\n"
    "with Home Assistant over MQTT where [mqtt] names a broker, and with a web page where [web] is set.\n\n"
    "  --config FILE           Read this configuration (default /etc/quelvan/quelvand.conf, if present)\n"
    "  --simulate[=STATEFILE]  Hold the simulated board; with =STATEFILE it lives on in that file;\n"
    "                          given again, one more simulated board each time\n"
    "  --trace FILE            Write one line per feature-report transfer to FILE\n"
    "  -h, --help              Show this help\n"
    "  --version               Show the version\n";

struct Options {
    std::string config = kDefaultConfigPath;
    bool configGiven = false;
    std::vector<std::string> stateFiles;  // one per simulated board; empty text: in memory only
    std::string traceFile;
};

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// 0: go on; otherwise the exit code (help and version: 0 after printing, -1 mapped below).
int ParseOptions(int argc, char* argv[], Options& options, bool& exitNow) {
    exitNow = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            exitNow = true;
            return 0;
        }
        if (arg == "--version") {
            std::printf("quelvand %s\n", std::string(kQuelvanVersion).c_str());
            exitNow = true;
            return 0;
        }
        if (arg == "--simulate") {
            options.stateFiles.emplace_back();
        } else if (arg.rfind("--simulate=", 0) == 0) {
            options.stateFiles.push_back(arg.substr(std::strlen("--simulate=")));
        } else if (arg == "--trace" && i + 1 < argc) {
            options.traceFile = argv[++i];
        } else if (arg == "--config" && i + 1 < argc) {
            options.config = argv[++i];
            options.configGiven = true;
        } else if (arg.rfind("--config=", 0) == 0) {
            options.config = arg.substr(std::strlen("--config="));
            options.configGiven = true;
        } else {
            std::fprintf(stderr, "quelvand: unknown or incomplete argument '%s'\n%s", arg.c_str(), kUsage);
            exitNow = true;
            return 2;
        }
    }
    return 0;
}

std::string StatusText(const BoardOwner& owner, const SocketServer& server, const MqttService& mqtt,
                       const WebServer* web) {
    int boards = 0, bootloaders = 0;
    for (const HeldDevice* d : owner.Devices()) (d->role == DeviceRole::Board ? boards : bootloaders)++;
    std::string text = std::to_string(boards) + (boards == 1 ? " board" : " boards");
    if (bootloaders > 0) text += ", " + std::to_string(bootloaders) + " in the bootloader";
    text += "; " + std::to_string(server.ClientCount()) + " clients; socket " + server.Path();
    if (mqtt.Enabled()) text += "; " + mqtt.StatusLine();
    if (web) text += "; web page " + web->Url();
    return text;
}

std::string SimulatedSerial(std::size_t index) {
    char text[16];
    std::snprintf(text, sizeof text, "QV2-%06zu", 123 + index);
    return text;
}

// The simulated boards: one, or several side by side (each in its own state file). Boards
// made afresh get serial numbers of their own (QV2-000123, QV2-000124 ...): with one serial
// number they would be one device to Home Assistant.
std::unique_ptr<HidBackend> MakeServiceBackend(const Options& options, const Clock& clock, std::string* error) {
    BackendOptions backendOptions;
    backendOptions.simulate = !options.stateFiles.empty();
    std::vector<std::unique_ptr<HidBackend>> parts;
    for (const std::string& file : options.stateFiles.empty() ? std::vector<std::string>{""} : options.stateFiles) {
        backendOptions.freshSerial = parts.empty() ? std::string() : SimulatedSerial(parts.size());
        backendOptions.stateFile =
            file.empty() ? std::string() : QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString();
        std::unique_ptr<HidBackend> part = MakeBackend(backendOptions, clock, error);
        if (!part) return nullptr;
        parts.push_back(std::move(part));
    }
    if (parts.size() == 1) return std::move(parts.front());
    return std::make_unique<CombinedBackend>(std::move(parts));
}

}  // namespace

int RunService(int argc, char* argv[]) {
    Options options;
    bool exitNow = false;
    const int parsed = ParseOptions(argc, argv, options, exitNow);
    if (exitNow) return parsed;

    const ConfigOutcome config = LoadServiceConfig(options.config, options.configGiven);
    for (const std::string& w : config.warnings) LogWarning(w);
    if (!config.errors.empty()) {
        for (const std::string& e : config.errors) LogError(e);
        return 2;
    }

    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        LogError(std::string("cannot set up signal handling: ") + std::strerror(errno));
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    const SystemClock clock;
    std::string error;
    std::unique_ptr<HidBackend> backend = MakeServiceBackend(options, clock, &error);
    if (!backend) {
        LogError(error.empty() ? "cannot access the HID devices" : error);
        return options.stateFiles.empty() ? 1 : 2;
    }
    std::unique_ptr<TransferTraceFile> trace;
    if (!options.traceFile.empty()) {
        trace = std::make_unique<TransferTraceFile>(options.traceFile);
        if (!trace->IsOpen()) {
            LogError("cannot write the trace file " + options.traceFile + ": " + trace->Error());
            return 2;
        }
    }

    OwnerOptions ownerOptions;
    ownerOptions.pollMs = config.config.service.pollMs;
    ownerOptions.boards = config.config.service.boards;
    // The settings are published too: a change made at the board itself shows within this.
    if (config.config.mqtt.Enabled() || config.config.web.enabled)
        ownerOptions.configPollMs = config.config.service.configPollMs;
    Keepers keepers(config.config, clock);
    keepers.Adjust(ownerOptions);
    BoardOwner owner(*backend, clock, ownerOptions);
    if (trace) owner.SetTransferObserver([&trace](const TransferRecord& record) { trace->Write(record); });
    keepers.Start(owner);
    MqttService mqtt(owner);
    SocketServer server(owner);
    const std::string path =
        config.config.service.socket.empty() ? wire::DefaultServiceSocketPath() : config.config.service.socket;
    // Listening before the first scan: a second service stops here without touching a board.
    if (!server.Listen(path, &error)) {
        LogError(error);
        return 1;
    }
    std::unique_ptr<WebServer> web;
    if (config.config.web.enabled) {
        web = std::make_unique<WebServer>(owner);
        if (!web->Start(config.config.web, &error)) {
            LogError("[web]: " + error);
            return 2;
        }
    }
    // Home Assistant links each board's device to the page.
    if (!mqtt.Start(config.config.mqtt, web ? LinkedPageUrl(config.config.web, web->Url()) : std::string(), &error)) {
        LogError("[mqtt]: " + error);
        return 2;
    }
    // Announced once everything has started: a mistake found while starting is the only word.
    if (web) LogInfo("web page on " + web->Url());
    BridgeHooks hooks = mqtt.Hooks();
    if (web) hooks.webToken = [&web] { return web->TokenReply(); };
    keepers.Attach(hooks, mqtt, web.get());
    server.SetBridgeHooks(hooks);
    owner.Start();
    // A simulated board in a state file is plugged in and out by other programs changing the
    // file; the backend notices when it reads the file, which it does not while no board is held.
    QTimer stateFileWatch;
    const bool stateFiles = std::any_of(options.stateFiles.begin(), options.stateFiles.end(),
                                        [](const std::string& f) { return !f.empty(); });
    if (stateFiles) {
        QObject::connect(&stateFileWatch, &QTimer::timeout, [&backend] { backend->Enumerate(); });
        stateFileWatch.start(500);
    }

    // Nobody could reach the service any more: ending it lets its supervisor start it anew.
    QObject::connect(&server, &SocketServer::Lost, &app, [](const QString& why) {
        LogError(why.toStdString() + "; ending so that the service is started again");
        QCoreApplication::exit(1);
    });
    if (web)
        QObject::connect(web.get(), &WebServer::Lost, &app, [](const QString& why) {
            LogError(why.toStdString() + "; ending so that the service is started again");
            QCoreApplication::exit(1);
        });
    SystemdNotifier systemd;
    QObject::connect(&owner, &BoardOwner::DevicesChanged, &systemd,
                     [&] { systemd.Status(StatusText(owner, server, mqtt, web.get())); });
    mqtt.onConnectionChanged = [&] { systemd.Status(StatusText(owner, server, mqtt, web.get())); };
    LogInfo("listening on " + path + (options.stateFiles.empty() ? "" : " (simulated board)"));
    systemd.Ready(StatusText(owner, server, mqtt, web.get()));
    const int code = app.exec();
    systemd.Stopping();
    LogInfo("stopping");
    mqtt.onConnectionChanged = nullptr;
    mqtt.Stop();
    return code;
}

}  // namespace quelvan::service
