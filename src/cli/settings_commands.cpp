#include "cli/settings_commands.h"

#include "cli/command_values.h"
#include "cli/json_text.h"
#include "device/config_keys.h"
#include "device/numeric.h"
#include "device/weather_conversions.h"
#include "schedule/board_json.h"

namespace quelvan::cli {

namespace {

// "Section.Key", or a key name that only one section has.
const ConfigKey* ResolveKey(const std::string& text, std::string& error) {
    if (const std::size_t dot = text.find('.'); dot != std::string::npos) {
        if (const ConfigKey* key = FindConfigKey(text.substr(0, dot), text.substr(dot + 1))) return key;
        error = "unknown key '" + text + "' (see 'quelvanctl config' for the keys)";
        return nullptr;
    }
    const std::vector<const ConfigKey*> keys = FindConfigKeysNamed(text);
    if (keys.size() == 1) return keys.front();
    if (keys.empty()) {
        error = "unknown key '" + text + "' (see 'quelvanctl config' for the keys)";
    } else {
        error = "key '" + text + "' is in more than one section: write";
        for (std::size_t i = 0; i < keys.size(); ++i)
            error += (i == 0 ? " " : i + 1 == keys.size() ? " or " : ", ") + keys[i]->QualifiedName();
    }
    return nullptr;
}

std::optional<std::string> ReadConfigPairs(const std::vector<std::string>& pairs, SettingsRequest& settings) {
    if (pairs.size() % 2 != 0) return std::string("'config set' takes pairs of KEY VALUE");
    for (std::size_t i = 0; i < pairs.size(); i += 2) {
        std::string error;
        const ConfigKey* key = ResolveKey(pairs[i], error);
        if (!key) return error;
        const std::optional<long long> value = ParseWholeNumber(pairs[i + 1]);
        // Unlike a configuration file, which keeps the low bits of any number, the command
        // refuses what the field cannot hold.
        if (!value || !key->InRange(*value)) {
            return key->QualifiedName() + " takes a whole number between " + std::to_string(key->Minimum()) + " and " +
                   std::to_string(key->Maximum()) + ", not '" + pairs[i + 1] + "'";
        }
        settings.changes.emplace_back(key, *value);
    }
    return std::nullopt;
}

std::optional<std::string> ReadWeatherOption(const CLI::Option* option, const std::string& text, WeatherRange range,
                                             std::optional<int>& target) {
    if (!option || option->count() == 0) return std::nullopt;
    const std::optional<long long> value = ParseWholeNumber(text);
    const std::string bounds = std::to_string(range.minimum) + " and " + std::to_string(range.maximum);
    if (!value) return option->get_name() + " takes a whole number between " + bounds + ", not '" + text + "'";
    if (*value < range.minimum || *value > range.maximum) return option->get_name() + " must lie between " + bounds;
    target = static_cast<int>(*value);
    return std::nullopt;
}

}  // namespace

void AddSettingsCommands(CLI::App& app, SettingsCommandLine& line) {
    line.config = app.add_subcommand("config", "Show every setting under its configuration-file key");
    line.config->require_subcommand(0, 1);
    line.config->fallthrough();
    line.configSet = line.config->add_subcommand(
        "set", "Change settings: KEY VALUE pairs (Section.Key where a key is in two sections: Config.Step, RC5.Step)");
    line.configSet->fallthrough();
    line.configSet->add_option("KEY VALUE", line.pairs, "Key and whole number, as many pairs as wanted")
        ->required()
        ->expected(2, -1);

    line.configKeys =
        line.config->add_subcommand("keys", "List every key of config set with its range (no board needed)");

    line.weather = app.add_subcommand("weather", "Show clouds and storms per day, their durations and shares");
    line.weather->require_subcommand(0, 1);
    line.weather->fallthrough();
    line.weatherSet = line.weather->add_subcommand("set", "Set clouds and storms per day and their durations");
    line.weatherSet->fallthrough();
    line.cloudsPerDayOption =
        line.weatherSet->add_option("--clouds-per-day", line.cloudsPerDay, "Average clouds a day, 0..1000");
    line.cloudSecondsOption =
        line.weatherSet->add_option("--cloud-seconds", line.cloudSeconds, "Average cloud duration, 1..900 s");
    line.stormsPerDayOption =
        line.weatherSet->add_option("--storms-per-day", line.stormsPerDay, "Average storms a day, 0..20");
    line.stormMinutesOption =
        line.weatherSet->add_option("--storm-minutes", line.stormMinutes, "Average storm duration, 1..200 min");
}

bool ReadSettingsCommand(const std::string& name, const SettingsCommandLine& line, Request& request,
                         std::string& error) {
    if (name == "config") {
        if (line.configKeys->parsed()) {
            request.command = Command::ConfigKeys;
        } else if (line.configSet->parsed()) {
            request.command = Command::ConfigSet;
            if (auto message = ReadConfigPairs(line.pairs, request.settings)) error = *message;
        } else {
            request.command = Command::Config;
        }
        return true;
    }
    if (name != "weather") return false;
    if (!line.weatherSet->parsed()) {
        request.command = Command::Weather;
        return true;
    }
    request.command = Command::WeatherSet;
    SettingsRequest& s = request.settings;
    for (auto message :
         {ReadWeatherOption(line.cloudsPerDayOption, line.cloudsPerDay, kCloudCountRange, s.cloudsPerDay),
          ReadWeatherOption(line.cloudSecondsOption, line.cloudSeconds, kCloudSecondsRange, s.cloudSeconds),
          ReadWeatherOption(line.stormsPerDayOption, line.stormsPerDay, kStormCountRange, s.stormsPerDay),
          ReadWeatherOption(line.stormMinutesOption, line.stormMinutes, kStormMinutesRange, s.stormMinutes)}) {
        if (message && error.empty()) error = *message;
    }
    if (error.empty() && !s.cloudsPerDay && !s.cloudSeconds && !s.stormsPerDay && !s.stormMinutes)
        error =
            "'weather set' needs at least one of --clouds-per-day, --cloud-seconds, --storms-per-day, "
            "--storm-minutes";
    return true;
}

void PrintConfig(const DeviceConfig& config, bool json, std::ostream& out) {
    if (json) {
        out << JsonText(ConfigJson(config), 2) << "\n";
        return;
    }
    // The layout of a configuration file.
    bool first = true;
    for (std::string_view section : kConfigSections) {
        out << (first ? "" : "\n") << "[" << section << "]\n";
        first = false;
        for (const ConfigKey* key : ConfigKeysOf(section))
            out << key->name << "=" << ReadConfigKey(config, *key) << "\n";
    }
}

void PrintWeather(const DeviceConfig& config, bool json, std::ostream& out) {
    if (json) {
        out << JsonText(WeatherJson(config), 2) << "\n";
        return;
    }
    const WeatherView view = ViewWeather(config);
    auto share = [](const std::optional<double>& value) {
        return value ? FormatTrimmed(*value, 1) + " %" : std::string("-");
    };
    out << "Clouds per day: " << view.cloudsPerDay << "\n";
    out << "Cloud duration: " << (view.cloudSeconds ? std::to_string(*view.cloudSeconds) + " s" : "- (CloudD is 0)")
        << "\n";
    out << "Cloud share: " << share(view.cloudShare) << "\n";
    out << "Storms per day: " << view.stormsPerDay << "\n";
    out << "Storm duration: " << (view.stormMinutes ? std::to_string(*view.stormMinutes) + " min" : "- (StormD is 0)")
        << "\n";
    out << "Storm share: " << share(view.stormShare) << "\n";
}

std::optional<Failure> SetConfigKeys(BoardSession& session, const Request& request, nlohmann::json& sent) {
    DeviceConfig& config = session.Protocol().config;
    nlohmann::json changed = nlohmann::json::object();
    for (const auto& [key, value] : request.settings.changes) {
        StoreConfigKey(config, *key, value);
        changed[key->QualifiedName()] = value;
    }
    sent["changed"] = changed;
    return session.WriteDeviceConfig();
}

std::optional<Failure> SetWeather(BoardSession& session, const Request& request, nlohmann::json& sent) {
    DeviceConfig& config = session.Protocol().config;
    const SettingsRequest& s = request.settings;
    ApplyWeatherChange(config, {s.cloudsPerDay, s.cloudSeconds, s.stormsPerDay, s.stormMinutes});
    sent["CloudP"] = config.CloudP;
    sent["CloudD"] = config.CloudD;
    sent["StormP"] = config.StormP;
    sent["StormD"] = config.StormD;
    return session.WriteDeviceConfig();
}

void PrintConfigKeys(bool json, std::ostream& out) {
    nlohmann::json list = nlohmann::json::array();
    for (const ConfigKey& key : ConfigKeys()) {
        if (json) {
            list.push_back(
                {{"section", key.section}, {"key", key.name}, {"minimum", key.Minimum()}, {"maximum", key.Maximum()}});
        } else {
            out << key.QualifiedName() << ' ' << key.Minimum() << ".." << key.Maximum() << "\n";
        }
    }
    if (json) out << JsonText(list, 2) << "\n";
}

}  // namespace quelvan::cli
