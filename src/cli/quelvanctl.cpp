#include "cli/quelvanctl.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "backend/backend_factory.h"
#include "cli/board_session.h"
#include "cli/command_values.h"
#include "cli/file_commands.h"
#include "cli/flash_command.h"
#include "cli/json_text.h"
#include "cli/schedule_commands.h"
#include "cli/service_commands.h"
#include "cli/settings_commands.h"
#include "cli/status_report.h"
#include "cli/sun_commands.h"
#include "device/channel_names.h"

namespace quelvan::cli {

namespace {

// Reports a failure: the message (and hint) on stderr; with --json also {"ok":false} on stdout.
int Fail(const Failure& failure, const Request& request, std::ostream& out, std::ostream& err) {
    err << failure.message << "\n";
    if (!failure.hint.empty()) err << failure.hint << "\n";
    if (request.json) {
        const std::string text = failure.message.rfind("error: ", 0) == 0 ? failure.message.substr(7) : failure.message;
        out << JsonText(nlohmann::json{{"ok", false}, {"error", text}}) << "\n";
    }
    return failure.exitCode;
}

int ListDevices(BoardSession& session, const Request& request, std::ostream& out) {
    const std::vector<DeviceListing> devices = session.ListDevices();
    if (request.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const DeviceListing& d : devices) {
            list.push_back({{"index", d.index},
                            {"vendor_id", HexId(d.vendorId)},
                            {"product_id", HexId(d.productId)},
                            {"manufacturer", d.manufacturer},
                            {"product", d.product},
                            {"serial", d.serial},
                            {"role", RoleName(d.role)}});
        }
        out << JsonText(list, 2) << "\n";
        return kExitOk;
    }
    for (const DeviceListing& d : devices) {
        out << DeviceLine(d.index, d.vendorId, d.productId, d.manufacturer, d.product, d.serial) << ' '
            << RoleName(d.role) << "\n";
    }
    return kExitOk;
}

// The write commands. Each sends what the matching window action sends, no more; `sent`
// collects what the JSON answer reports. Returns the first failure.
std::optional<Failure> SetChannels(BoardSession& session, const Request& request, nlohmann::json& sent,
                                   std::ostream& err) {
    BoardProtocol& board = session.Protocol();
    std::optional<Failure> failure;
    if (request.channel == kAllChannels) {
        // "ALLES EIN"/"ALLES AUS": switch to "Manuell" first so the board's own program
        // does not override the values at once.
        board.config.Mode = 0;
        // Without "Manuell" the board's program would override the channels at once.
        if (auto modeFailure = session.WriteDeviceConfig()) return modeFailure;
        board.live.ChannelValue.fill(*request.on ? kChannelFullOn : 0);
        sent["mode"] = 0;
        sent["channel"] = "all";
        sent["value"] = *request.on ? kChannelFullOn : 0;
    } else {
        const auto n = static_cast<std::size_t>(request.channel);
        if (board.config.Mode != 0) {
            const std::string_view name = ModeName(board.config.Mode);
            err << "warning: the board runs in mode \"" << (name.empty() ? "?" : name)
                << "\", where its own program overrides the value; use 'quelvanctl mode manual' first\n";
        }
        board.live.ChannelValue[n] =
            request.on ? (*request.on ? kChannelFullOn : 0) : ChannelValueFromPercent(request.percent);
        sent["channel"] = std::string(1, ChannelLetter(request.channel));
        sent["name"] = ChannelDisplayName(request.channel, board.config.ColorName[n]);
        sent["value"] = board.live.ChannelValue[n];
        sent["percent"] = PercentNumber(board.live.ChannelValue[n]);
    }
    const TransferResult live = board.WriteLiveState(false, false, true);
    if (!live.ok && !failure) failure = session.TransferFailure("writing the live state", live);
    return failure;
}

std::optional<Failure> SetMode(BoardSession& session, const Request& request, nlohmann::json& sent) {
    session.Protocol().config.Mode = static_cast<std::uint8_t>(request.mode);
    sent["mode"] = request.mode;
    sent["mode_name"] = std::string(ModeName(request.mode));
    return session.WriteDeviceConfig();
}

std::optional<Failure> SetClock(BoardSession& session, const Request& request, nlohmann::json& sent) {
    BoardProtocol& board = session.Protocol();
    if (request.clockSync) {
        board.SetClockFromComputer();
        sent["clock"] = TwoDigits(board.live.ClockHour) + ":" + TwoDigits(board.live.ClockMinute) + ":" +
                        TwoDigits(board.live.ClockSecond);
    } else {
        // Seconds and tick go back as the board last reported them, as from the clock edit.
        board.live.ClockHour = static_cast<std::int8_t>(request.hour);
        board.live.ClockMinute = static_cast<std::int8_t>(request.minute);
        sent["clock"] = TwoDigits(request.hour) + ":" + TwoDigits(request.minute);
    }
    const TransferResult r = board.WriteLiveState(true, false, false);
    if (r.ok) return std::nullopt;
    return session.TransferFailure("writing the live state", r);
}

std::optional<Failure> SaveSettings(BoardSession& session) {
    const TransferResult r = session.Protocol().SaveEEPROM();
    if (r.ok) return std::nullopt;
    return session.TransferFailure("saving the settings to EEPROM", r);
}

const char* CommandName(Command command) {
    switch (command) {
        case Command::List:
            return "list";
        case Command::Status:
            return "status";
        case Command::Set:
            return "set";
        case Command::Mode:
            return "mode";
        case Command::Clock:
            return "clock";
        case Command::SaveEEPROM:
            return "save-eeprom";
        case Command::Flash:
            return "flash";
        case Command::Config:
            return "config";
        case Command::ConfigSet:
            return "config set";
        case Command::ConfigKeys:
            return "config keys";
        case Command::Weather:
            return "weather";
        case Command::WeatherSet:
            return "weather set";
        case Command::Schedule:
            return "schedule";
        case Command::Graph:
            return "graph";
        case Command::Export:
            return "export";
        case Command::ImportConfig:
            return "import config";
        case Command::ImportTable:
            return "import table";
        case Command::ServiceStatus:
            return "service status";
        case Command::ServiceForget:
            return "service forget";
        case Command::ServiceWebToken:
            return "service web-token";
        case Command::SunPlaces:
            return "sun places";
        case Command::SunShow:
            return "sun show";
        case Command::SunProgram:
            return "sun program";
        case Command::ServiceHistory:
            return "service history";
    }
    return "";
}

// What `service status` is given when no service answers.
HidBackend& NoBackend() {
    class None final : public HidBackend {
    public:
        std::vector<HidInterfaceInfo> Enumerate() override { return {}; }
        HidOpenResult Open(const HidInterfaceInfo&) override { return {}; }
        std::optional<std::u16string> ReadString(const HidInterfaceInfo&, HidString) override { return std::nullopt; }
        int ChangeFd() const override { return -1; }
        bool TakeChange() override { return false; }
    };
    static None none;
    return none;
}

// A trace that could not be written makes the command fail: the user asked for it.
std::optional<Failure> TraceFailure(const Request& request, const TransferTraceFile* trace) {
    if (!trace || trace->Error().empty()) return std::nullopt;
    return Failure{
        kExitTransferFailed, "error: cannot write the trace file " + request.traceFile + ": " + trace->Error(), {}};
}

// Opened before anything else, so that a command refused for its trace leaves nothing behind.
std::unique_ptr<TransferTraceFile> OpenTrace(const Request& request, std::ostream& out, std::ostream& err,
                                             int* exitCode) {
    if (!request.trace) return nullptr;
    auto trace = std::make_unique<TransferTraceFile>(request.traceFile);
    if (trace->IsOpen()) return trace;
    *exitCode =
        Fail(Failure{kExitUsage, "error: cannot write the trace file " + request.traceFile + ": " + trace->Error(), {}},
             request, out, err);
    return nullptr;
}

}  // namespace

int RunRequest(const Request& request, HidBackend& backend, const Clock& clock, std::ostream& out, std::ostream& err,
               TransferTraceFile* trace, const CommandFiles* prepared) {
    // A file that cannot be used costs no transfer.
    CommandFiles own;
    if (!prepared) own = PrepareCommandFiles(request);
    const CommandFiles& files = prepared ? *prepared : own;
    if (files.failure) return Fail(*files.failure, request, out, err);
    // The update follows the bus through its restarts with a controller of its own.
    if (request.command == Command::Flash) {
        const int code =
            RunFlashCommand(request, backend, clock, trace, out, err, FlashConsole::FromProcess(), &files.firmware);
        if (auto failure = TraceFailure(request, trace); failure && code == kExitOk)
            return Fail(*failure, request, out, err);
        return code;
    }
    if (request.command == Command::ConfigKeys) {
        PrintConfigKeys(request.json, out);
        return kExitOk;
    }
    if (request.command == Command::ServiceStatus) return RunServiceStatus(request, backend, out, err);
    if ((request.command == Command::SunPlaces || request.command == Command::SunShow ||
         request.command == Command::SunProgram) &&
        !SunNeedsBoard(request))
        return RunSunOffline(request, clock, out, err);
    if (request.command == Command::ServiceForget) return RunServiceForget(request, backend, out, err);
    if (request.command == Command::ServiceWebToken) return RunServiceWebToken(request, backend, out, err);
    if (request.command == Command::ServiceHistory) return RunServiceHistory(request, backend, out, err);
    BoardSession session(backend, clock, trace);
    if (request.command == Command::List) {
        std::ostringstream listing;
        ListDevices(session, request, listing);
        if (auto failure = TraceFailure(request, trace)) return Fail(*failure, request, out, err);
        out << listing.str();
        return kExitOk;
    }

    if (auto failure = session.Connect(request.device)) return Fail(*failure, request, out, err);
    if (auto failure = TraceFailure(request, trace)) return Fail(*failure, request, out, err);
    BoardProtocol& board = session.Protocol();

    if (request.command == Command::Status) {
        if (request.json)
            out << JsonText(StatusJson(board.live, board.config), 2) << "\n";
        else
            PrintStatus(board.live, board.config, out);
        return kExitOk;
    }
    if (request.command == Command::Config || request.command == Command::Weather) {
        (request.command == Command::Config ? PrintConfig : PrintWeather)(board.config, request.json, out);
        return kExitOk;
    }
    if (request.command == Command::SunProgram) {
        if (auto failure = RunSunProgram(request, clock, &session, out, err)) return Fail(*failure, request, out, err);
        if (auto failure = TraceFailure(request, trace)) return Fail(*failure, request, out, err);
        return kExitOk;
    }
    if (request.command == Command::Schedule || request.command == Command::Graph) {
        if (auto failure = RunScheduleCommand(session, request, out)) return Fail(*failure, request, out, err);
        return kExitOk;
    }

    nlohmann::json sent = {{"command", CommandName(request.command)}};
    std::optional<Failure> failure;
    switch (request.command) {
        case Command::Set:
            failure = SetChannels(session, request, sent, err);
            break;
        case Command::Mode:
            failure = SetMode(session, request, sent);
            break;
        case Command::Clock:
            failure = SetClock(session, request, sent);
            break;
        case Command::SaveEEPROM:
            failure = SaveSettings(session);
            break;
        case Command::ConfigSet:
            failure = SetConfigKeys(session, request, sent);
            break;
        case Command::WeatherSet:
            failure = SetWeather(session, request, sent);
            break;
        case Command::Export:
        case Command::ImportConfig:
        case Command::ImportTable:
            failure = RunFileCommand(session, request, files, sent, err);
            break;
        case Command::List:
        case Command::Status:
        case Command::Flash:
        case Command::Config:
        case Command::ConfigKeys:
        case Command::Weather:
        case Command::Schedule:
        case Command::Graph:
        case Command::ServiceStatus:
        case Command::ServiceForget:
        case Command::ServiceWebToken:
        case Command::SunPlaces:
        case Command::SunShow:
        case Command::SunProgram:
        case Command::ServiceHistory:
            break;
    }
    if (!failure) failure = TraceFailure(request, trace);
    if (failure) return Fail(*failure, request, out, err);
    if (request.json) {
        sent["ok"] = true;
        out << JsonText(sent) << "\n";
    }
    return kExitOk;
}

int RunQuelvanctl(int argc, const char* const argv[], HidBackend& backend, const Clock& clock, std::ostream& out,
                  std::ostream& err) {
    const ParseOutcome parsed = ParseCommandLine(argc, argv, out, err);
    if (!parsed.request) return parsed.exitCode;
    int exitCode = kExitOk;
    const std::unique_ptr<TransferTraceFile> trace = OpenTrace(*parsed.request, out, err, &exitCode);
    if (exitCode != kExitOk) return exitCode;
    return RunRequest(*parsed.request, backend, clock, out, err, trace.get());
}

int RunQuelvanctl(int argc, const char* const argv[], const Clock& clock, std::ostream& out, std::ostream& err) {
    const ParseOutcome parsed = ParseCommandLine(argc, argv, out, err);
    if (!parsed.request) return parsed.exitCode;
    const Request& request = *parsed.request;
    int exitCode = kExitOk;
    const std::unique_ptr<TransferTraceFile> trace = OpenTrace(request, out, err, &exitCode);
    if (exitCode != kExitOk) return exitCode;
    // The user's files before the board: a shared simulated board is not held while they are
    // read, and a file that cannot be used leaves the board alone.
    const CommandFiles files = PrepareCommandFiles(request);
    if (files.failure) return Fail(*files.failure, request, out, err);
    // Places and days of the sun need no board.
    if ((request.command == Command::SunPlaces || request.command == Command::SunShow ||
         request.command == Command::SunProgram) &&
        !SunNeedsBoard(request))
        return RunSunOffline(request, clock, out, err);
    // A wrong place or date costs no transfer.
    if (request.command == Command::SunProgram) {
        SunSubject subject;
        if (auto failure = ResolveSubject(request, clock, subject)) return Fail(*failure, request, out, err);
    }

    std::string error;
    BackendOptions options{request.simulate, request.stateFile};
    // A command on a shared simulated board runs as one piece: another process's reads and
    // writes wait until it has finished.
    // (Not a firmware update: it may take minutes, and the window must not freeze meanwhile.)
    options.holdStateFile = !request.stateFile.empty() && request.command != Command::Flash;
    // Only the update follows the board through its restarts; the rest scan once.
    options.watchDevices = request.command == Command::Flash;
    // Where the service runs, it owns the boards: commands go through it unless told not to.
    options.service = request.direct    ? BackendOptions::Service::Never
                      : request.service ? BackendOptions::Service::Required
                                        : BackendOptions::Service::Auto;
    const bool asksService = request.command == Command::ServiceStatus || request.command == Command::ServiceForget ||
                             request.command == Command::ServiceWebToken || request.command == Command::ServiceHistory;
    if (asksService) options.service = BackendOptions::Service::Required;
    std::unique_ptr<HidBackend> backend = MakeBackend(options, clock, &error);
    if (!backend) {
        if (request.command == Command::ServiceStatus) return RunServiceStatus(request, NoBackend(), out, err);
        if (request.command == Command::ServiceForget) return RunServiceForget(request, NoBackend(), out, err);
        if (request.command == Command::ServiceWebToken) return RunServiceWebToken(request, NoBackend(), out, err);
        if (request.command == Command::ServiceHistory) return RunServiceHistory(request, NoBackend(), out, err);
        // A state file that cannot be used is a wrong argument; the real devices missing is not.
        const int code = request.simulate ? kExitUsage : kExitNoBoard;
        return Fail(
            Failure{code, "error: " + (error.empty() ? std::string("cannot access the HID devices") : error), {}},
            request, out, err);
    }
    return RunRequest(request, *backend, clock, out, err, trace.get(), &files);
}

}  // namespace quelvan::cli
