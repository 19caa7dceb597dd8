#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/command_values.h"
#include "cli/file_commands.h"
#include "cli/json_text.h"
#include "cli/schedule_commands.h"
#include "cli/settings_commands.h"
#include "cli/sun_commands.h"
#include "device/version.h"

namespace quelvan::cli {

namespace {

constexpr const char* kFooter = R"(Channels: A..L (any case), or "all" together with on/off.
VALUE: a percentage 0..100 with a point or a comma (33.3 or 33,3), or on/off.
  Unlike the window, quelvanctl refuses percentages outside 0..100 and clock times
  outside 00:00..24:00 instead of sending them to the board.
  "set all on|off" first switches the board to mode "Manuell", like "ALLES EIN"/"ALLES AUS".
  "config set" and "weather set" refuse unknown keys and values outside their ranges.
Numbers: decimal digits with an optional sign (010 is ten); nothing else.
Modes: manual (manuell), auto, demo, flash, slave.

Exit codes:
  0  done
  1  a transfer to the board failed after its retries
  2  usage error
  3  no usable board: none found, only its bootloader, an unsupported firmware
     version, or no permission to open it (install dist/linux/70-quelvan.rules,
     see docs/udev.md)
  4  the picture of "graph" could not be drawn (renderer missing or failed)
  5  a file named on the command line cannot be used: a settings or firmware file that
     cannot be read or holds nothing usable (nothing is sent then), or a settings file
     or picture that cannot be written (not a regular file, no permission, not a text
     INI file, disk full); the file is left as it was
  flash exits 0 only after "Fertig!" with the same board back; 1 when the update was
  declined or failed, or bootloader or board did not appear in time.
Where the service quelvand answers on its socket ($QUELVAN_SOCKET, else the user's under
$XDG_RUNTIME_DIR/quelvan/, then /run/quelvan/quelvand.sock), the board is used through it;
--direct opens the board itself, --service insists on the service.
Data goes to standard output, messages to standard error.)";

// The state file joins --simulate with "=" and no space ("--simulate=FILE"), so the help
// shows it that way; CLI11 would put a space before every option's value.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* opt) const override {
        if (opt->get_name() == "--simulate") return "[=STATEFILE]";
        return CLI::Formatter::make_option_opts(opt);
    }
};

// "--simulate FILE" (a space instead of "="): the file name is taken for an argument that
// no command expects. True when that is what happened, so the error can say how to write it.
bool StateFileAfterSpace(const CLI::App& app, int argc, const char* const argv[]) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) != "--simulate") continue;
        const std::string next = argv[i + 1];
        if (next.empty() || next[0] == '-') continue;
        bool command = false;
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            if (sub->check_name(next)) command = true;
        if (!command) return true;
    }
    return false;
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, const char* const argv[], std::ostream& out, std::ostream& err) {
    CLI::App app{"Configures and controls the Quelvan 2.x LED dimmer board.", "quelvanctl"};
    app.formatter(std::make_shared<HelpFormatter>());
    app.require_subcommand(1);
    app.set_version_flag("--version", "quelvanctl " + std::string(kQuelvanVersion));
    // Global options may also follow the command.
    app.fallthrough();

    Request request;
    std::string simulate;
    auto* simulateOption =
        app.add_flag("--simulate", simulate, "Use the simulated board; with =STATEFILE it lives on in that file")
            ->type_name("");
    app.add_option("--trace", request.traceFile, "Write one line per feature-report transfer to FILE")
        ->type_name("FILE");
    app.add_flag("--json", request.json, "Print one JSON object on standard output");
    app.add_option("--device", request.device,
                   "The board to use, by its serial number or path (see list); needed when several are present")
        ->type_name("SERIAL|PATH");

    app.add_flag("--direct", request.direct, "Open the board directly, even where the service quelvand runs");
    app.add_flag("--service", request.service, "Go through the service quelvand; fail where none answers");

    app.add_subcommand("list", "List every HID device and its role");
    app.add_subcommand("status", "Show the board's live state and settings");

    std::string channelText, valueText;
    auto* set = app.add_subcommand("set", "Set a channel (A..L or all) to a percentage or on/off");
    set->add_option("CHANNEL", channelText, "A..L, or all")->required();
    set->add_option("VALUE", valueText, "Percentage 0..100, on or off")->required();

    std::string modeText;
    auto* mode = app.add_subcommand("mode", "Set the operating mode");
    mode->add_option("NAME", modeText, "manual, auto, demo, flash or slave")->required();

    std::string timeText;
    auto* clock = app.add_subcommand("clock", "Set the board's clock: sync (from this computer) or HH:MM");
    clock->add_option("TIME", timeText, "sync or HH:MM")->required();

    app.add_subcommand("save-eeprom", "Store the board's settings in its EEPROM");
    ScheduleGrammar scheduleGrammar(app);
    FileGrammar fileGrammar(app);
    SunGrammar sunGrammar(app);

    auto* service = app.add_subcommand("service", "The service quelvand that shares the boards");
    service->add_subcommand("status", "Whether a service answers, the boards it holds and its MQTT broker");
    auto* forget =
        service->add_subcommand("forget", "Remove a board that is gone for good from Home Assistant (through MQTT)");
    forget->add_option("SERIAL", request.forgetSerial, "The board's serial number")->required();
    forget->add_flag("--force", request.forgetForce,
                     "Also when the board is online or held by another service (one that is gone for good)");
    service->add_subcommand("web-token", "The web page's access token (and its address), from the service");
    auto* history = service->add_subcommand(
        "history", "The settings history the service keeps of a board (--device SERIAL where it holds several)");
    auto* show = history->add_subcommand("show", "One entry of the history: a settings file");
    show->add_option("ID", request.historyEntry, "The entry's number")->required();
    auto* restore = service->add_subcommand("restore", "Write an entry of the settings history back to the board");
    restore->add_option("ID", request.historyEntry, "The entry's number")->required();
    bool onlyConfig = false, onlyTable = false;
    auto* configFlag = restore->add_flag("--config", onlyConfig, "Only the settings");
    restore->add_flag("--table", onlyTable, "Only the day program")->excludes(configFlag);
    // --device and --json also after the words, as with the other commands.
    for (auto* sub : {service, history, show, restore}) sub->fallthrough();
    service->require_subcommand(1);

    auto* flash = app.add_subcommand("flash", "Write a firmware file (.vbf, .vbf328p) through the board's bootloader");
    flash->add_option("FILE", request.firmwareFile, "The firmware file")->required();
    flash->add_flag("--yes,-y", request.assumeYes, "Confirm the update's warning beforehand");

    // Under --json every failure, usage errors included, also prints one JSON object.
    bool json = false;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--json") json = true;
    auto usage = [&](const std::string& message) {
        err << "error: " << message << "\n";
        if (json) out << JsonText(nlohmann::json{{"ok", false}, {"error", message}}) << "\n";
        return ParseOutcome{std::nullopt, kExitUsage};
    };
    SettingsCommandLine settingsLine;
    AddSettingsCommands(app, settingsLine);

    // Set after the commands, which would otherwise repeat it in their own help.
    app.footer(kFooter);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e, out, err);  // --help
            return ParseOutcome{std::nullopt, kExitOk};
        }
        if (dynamic_cast<const CLI::ExtrasError*>(&e) && StateFileAfterSpace(app, argc, argv))
            return usage(
                "--simulate takes its state file after an equals sign, without a space: write "
                "--simulate=FILE");
        app.exit(e, out, err);
        if (json) out << JsonText(nlohmann::json{{"ok", false}, {"error", e.what()}}) << "\n";
        return ParseOutcome{std::nullopt, kExitUsage};
    }

    // "--simulate" alone (or with an empty "=") keeps the board in memory for this run only;
    // the flag's value cannot tell a bare flag from "=true", so the file name comes from argv.
    request.simulate = simulateOption->count() > 0;
    if (simulateOption->count() > 1) return usage("--simulate given more than once");
    if (request.direct && request.service) return usage("--direct and --service exclude each other");
    if (request.simulate && request.service) return usage("--simulate and --service exclude each other");
    if (!request.traceFile.empty() || app.count("--trace") > 0) {
        request.trace = true;
        if (request.traceFile.empty()) return usage("--trace needs a file name");
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.rfind("--simulate=", 0) == 0) request.stateFile = arg.substr(std::string_view("--simulate=").size());
    }

    const std::string name = app.get_subcommands().front()->get_name();
    if (std::string error; ReadSettingsCommand(name, settingsLine, request, error)) {
        if (!error.empty()) return usage(error);
    } else if (name == "list") {
        request.command = Command::List;
    } else if (name == "status") {
        request.command = Command::Status;
    } else if (name == "set") {
        request.command = Command::Set;
        const auto channel = ParseChannel(channelText);
        if (!channel) return usage("unknown channel '" + channelText + "' (A..L or all)");
        request.channel = *channel;
        request.on = ParseOnOff(valueText);
        if (!request.on) {
            if (request.channel == kAllChannels) return usage("'set all' takes on or off, not a percentage");
            const auto percent = ParseDecimal(valueText);
            if (!percent) return usage("'" + valueText + "' is neither a percentage nor on/off");
            if (*percent < 0 || *percent > 100) return usage("the percentage must lie between 0 and 100");
            request.percent = *percent;
        }
    } else if (name == "mode") {
        request.command = Command::Mode;
        const auto value = ParseModeName(modeText);
        if (!value) return usage("unknown mode '" + modeText + "' (manual, auto, demo, flash or slave)");
        request.mode = *value;
    } else if (name == "clock") {
        request.command = Command::Clock;
        if (timeText == "sync") {
            request.clockSync = true;
        } else {
            // A user tool should not send nonsense: unlike the window's clock edit, which
            // stores whatever was typed, times outside 00:00..24:00 are refused.
            const auto time = ParseClockTime(timeText);
            if (!time) return usage("'" + timeText + "' is not a time HH:MM between 00:00 and 24:00 (or sync)");
            request.hour = time->hour;
            request.minute = time->minute;
        }
    } else if (name == "flash") {
        request.command = Command::Flash;
    } else if (name == "service") {
        const std::string what = service->get_subcommands().front()->get_name();
        request.command = what == "forget"                         ? Command::ServiceForget
                          : what == "web-token"                    ? Command::ServiceWebToken
                          : what == "history" || what == "restore" ? Command::ServiceHistory
                                                                   : Command::ServiceStatus;
        if (what == "history" && history->got_subcommand("show")) request.historyAction = "show";
        if (what == "restore") {
            request.historyAction = "restore";
            request.historyPart = onlyConfig ? "config" : onlyTable ? "table" : "all";
        }
        if (request.simulate) return usage("'service' asks the service; --simulate has no service");
    } else if (fileGrammar.Handles(name)) {
        fileGrammar.Fill(name, request);
    } else if (sunGrammar.Handles(name)) {
        if (const auto error = sunGrammar.Fill(request)) return usage(*error);
    } else if (scheduleGrammar.Handles(name)) {
        if (const auto error = scheduleGrammar.Fill(name, request)) return usage(*error);
    } else {
        request.command = Command::SaveEEPROM;
    }
    return ParseOutcome{request, kExitOk};
}

}  // namespace quelvan::cli
