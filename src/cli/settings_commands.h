#pragma once
// quelvanctl's settings commands: every setting of the board under its configuration-file key
// (`config`, `config set KEY VALUE...`), and clouds and storms as the window's weather page
// shows them (`weather`, `weather set ...`).

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/board_session.h"
#include "cli/command_line.h"

namespace quelvan::cli {

// The parser's share: the subcommands and where CLI11 puts their arguments.
struct SettingsCommandLine {
    CLI::App* config = nullptr;
    CLI::App* configSet = nullptr;
    CLI::App* configKeys = nullptr;
    CLI::App* weather = nullptr;
    CLI::App* weatherSet = nullptr;
    std::vector<std::string> pairs;
    // Taken as text and parsed like every number of the command line.
    std::string cloudsPerDay, cloudSeconds, stormsPerDay, stormMinutes;
    CLI::Option* cloudsPerDayOption = nullptr;
    CLI::Option* cloudSecondsOption = nullptr;
    CLI::Option* stormsPerDayOption = nullptr;
    CLI::Option* stormMinutesOption = nullptr;
};

void AddSettingsCommands(CLI::App& app, SettingsCommandLine& line);

// When `name` is one of the settings commands: fills the request (command and values) and
// returns true, or sets `error` to a usage error (unknown key, value out of range).
bool ReadSettingsCommand(const std::string& name, const SettingsCommandLine& line, Request& request,
                         std::string& error);

// config keys: every key "config set" takes, with its range; needs no board.
void PrintConfigKeys(bool json, std::ostream& out);

// config / weather: print what the board holds.
void PrintConfig(const DeviceConfig& config, bool json, std::ostream& out);
void PrintWeather(const DeviceConfig& config, bool json, std::ostream& out);

// config set / weather set: change the record and write it once; `sent` collects what the
// JSON answer reports.
std::optional<Failure> SetConfigKeys(BoardSession& session, const Request& request, nlohmann::json& sent);
std::optional<Failure> SetWeather(BoardSession& session, const Request& request, nlohmann::json& sent);

}  // namespace quelvan::cli
