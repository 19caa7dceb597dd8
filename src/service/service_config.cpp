#include "service/service_config.h"

#include <charconv>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "files/file_access.h"
#include "files/ini_text.h"

namespace quelvan::service {

namespace {

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// One key of a section: its name and how its value is taken into the configuration.
struct KeyReader {
    const char* name;
    std::function<bool(const std::string& value, ServiceConfig& config, std::string& why)> read;
};

struct SectionReader {
    const char* name;
    std::vector<KeyReader> keys;
    // For a section whose presence alone means something.
    void (*present)(ServiceConfig& config) = nullptr;
};

std::optional<int> WholeNumber(const std::string& value, int minimum, int maximum) {
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number < minimum || number > maximum)
        return std::nullopt;
    return number;
}

// Milliseconds: 0 (never) or 100..3600000.
bool ReadPeriod(const std::string& value, int& target, std::string& why) {
    const std::optional<int> ms = WholeNumber(value, 0, 3'600'000);
    if (!ms || (*ms > 0 && *ms < 100)) {
        why = "a number of milliseconds: 0 (never) or 100..3600000";
        return false;
    }
    target = *ms;
    return true;
}

bool ReadPollMs(const std::string& value, ServiceConfig& config, std::string& why) {
    return ReadPeriod(value, config.service.pollMs, why);
}

bool ReadConfigPollMs(const std::string& value, ServiceConfig& config, std::string& why) {
    return ReadPeriod(value, config.service.configPollMs, why);
}

bool ReadBoards(const std::string& value, ServiceConfig& config, std::string& why) {
    std::string list = value;
    for (char& c : list)
        if (c == ',') c = ' ';
    std::istringstream words(list);
    std::vector<std::string> serials;
    for (std::string word; words >> word;) serials.push_back(word);
    if (serials.size() == 1 && serials.front() == "all")
        serials.clear();
    else if (serials.empty()) {
        why = "\"all\" or serial numbers";
        return false;
    }
    config.service.boards = std::move(serials);
    return true;
}

// on/off (also yes/no, true/false, 1/0).
bool ReadSwitch(const std::string& value, bool& target, std::string& why) {
    const std::string v = files::LowerName(value);
    if (v == "on" || v == "yes" || v == "true" || v == "1") {
        target = true;
    } else if (v == "off" || v == "no" || v == "false" || v == "0") {
        target = false;
    } else {
        why = "on or off";
        return false;
    }
    return true;
}

bool ReadClockSync(const std::string& value, ServiceConfig& config, std::string& why) {
    return ReadSwitch(value, config.service.clockSync, why);
}

bool ReadClockTolerance(const std::string& value, ServiceConfig& config, std::string& why) {
    const std::optional<int> seconds = WholeNumber(value, 1, 3600);
    if (!seconds) {
        why = "a number of seconds 1..3600";
        return false;
    }
    config.service.clockToleranceS = *seconds;
    return true;
}

bool ReadHistoryKeep(const std::string& value, ServiceConfig& config, std::string& why) {
    return ReadSwitch(value, config.history.keep, why);
}

bool ReadHistoryFolder(const std::string& value, ServiceConfig& config, std::string& why) {
    if (!value.empty() && value.front() != '/') {
        why = "an absolute path";
        return false;
    }
    config.history.folder = value;
    return true;
}

std::optional<double> Decimal(const std::string& value, double minimum, double maximum) {
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || !(number >= minimum && number <= maximum))
        return std::nullopt;
    return number;
}

// A bound: empty is off.
KeyReader Bound(const char* name, std::optional<double> AlarmSection::*field, double minimum, double maximum) {
    return {name, [=](const std::string& value, ServiceConfig& config, std::string& why) {
                if (value.empty()) {
                    config.alarm.*field = std::nullopt;
                    return true;
                }
                const std::optional<double> number = Decimal(value, minimum, maximum);
                if (!number) {
                    why = "empty (off) or a number " + std::to_string(static_cast<int>(minimum)) + ".." +
                          std::to_string(static_cast<int>(maximum)) + " with a decimal point";
                    return false;
                }
                config.alarm.*field = number;
                return true;
            }};
}

KeyReader Hysteresis(const char* name, double AlarmSection::*field) {
    return {name, [=](const std::string& value, ServiceConfig& config, std::string& why) {
                const std::optional<double> number = Decimal(value, 0, 10);
                if (!number) {
                    why = "a number 0..10 with a decimal point";
                    return false;
                }
                config.alarm.*field = *number;
                return true;
            }};
}

bool ReadMissingAfter(const std::string& value, ServiceConfig& config, std::string& why) {
    const std::optional<int> seconds = WholeNumber(value, 0, 86400);
    if (!seconds) {
        why = "a number of seconds 0..86400 (0: off)";
        return false;
    }
    config.alarm.missingAfterS = *seconds;
    return true;
}

// [web] (service/web_settings.h): the page is on once the section is there.
KeyReader WebKey(const char* name, bool (*read)(const std::string&, WebSection&, std::string&)) {
    return {name, [read](const std::string& value, ServiceConfig& config, std::string& why) {
                return read(value, config.web, why);
            }};
}

bool ReadSocket(const std::string& value, ServiceConfig& config, std::string& why) {
    if (!value.empty() && value.front() != '/') {
        why = "an absolute path";
        return false;
    }
    config.service.socket = value;
    return true;
}

// A key whose value is taken as it stands (a host name, a user name, a path).
KeyReader Text(const char* name, std::string MqttSection::*field, bool absolutePath = false) {
    return {name, [field, absolutePath](const std::string& value, ServiceConfig& config, std::string& why) {
                if (absolutePath && !value.empty() && value.front() != '/') {
                    why = "an absolute path";
                    return false;
                }
                config.mqtt.*field = value;
                return true;
            }};
}

KeyReader Number(const char* name, int MqttSection::*field, int minimum, int maximum) {
    return {name, [=](const std::string& value, ServiceConfig& config, std::string& why) {
                const std::optional<int> number = WholeNumber(value, minimum, maximum);
                if (!number) {
                    why = "a whole number " + std::to_string(minimum) + ".." + std::to_string(maximum);
                    return false;
                }
                config.mqtt.*field = *number;
                return true;
            }};
}

// A topic's first levels: no wildcards, no empty level, no leading or trailing '/'.
KeyReader TopicPrefix(const char* name, std::string MqttSection::*field) {
    return {name, [field](const std::string& value, ServiceConfig& config, std::string& why) {
                const bool usable = !value.empty() && value.find_first_of("+#") == std::string::npos &&
                                    value.front() != '/' && value.back() != '/' &&
                                    value.find("//") == std::string::npos;
                if (!usable) {
                    why = "topic levels without + or #, not starting or ending with /";
                    return false;
                }
                config.mqtt.*field = value;
                return true;
            }};
}

// Later bridges add their sections here.
const std::vector<SectionReader>& Sections() {
    static const std::vector<SectionReader> sections = {
        {"service",
         {{"poll_ms", ReadPollMs},
          {"config_poll_ms", ReadConfigPollMs},
          {"boards", ReadBoards},
          {"socket", ReadSocket},
          {"clock_sync", ReadClockSync},
          {"clock_tolerance_s", ReadClockTolerance}}},
        {"mqtt",
         {Text("host", &MqttSection::host), Number("port", &MqttSection::port, 0, 65535),
          Text("username", &MqttSection::username), Text("password_file", &MqttSection::passwordFile, true),
          Text("ca_file", &MqttSection::caFile, true), Number("keepalive", &MqttSection::keepalive, 5, 65535),
          Text("client_id", &MqttSection::clientId), TopicPrefix("discovery_prefix", &MqttSection::discoveryPrefix),
          TopicPrefix("base_topic", &MqttSection::baseTopic)}},
        {"web",
         {WebKey("listen", ReadWebListen), WebKey("port", ReadWebPort), WebKey("token_file", ReadWebTokenFile)},
         [](ServiceConfig& config) { config.web.enabled = true; }},
        {"history", {{"keep", ReadHistoryKeep}, {"folder", ReadHistoryFolder}}},
        {"alarm",
         {Bound("water_min", &AlarmSection::waterMin, -20, 80),
          Bound("water_max", &AlarmSection::waterMax, -20, 80),
          Bound("supply_min", &AlarmSection::supplyMin, 0, 60),
          Bound("supply_max", &AlarmSection::supplyMax, 0, 60),
          Hysteresis("hysteresis_c", &AlarmSection::hysteresisC),
          Hysteresis("hysteresis_v", &AlarmSection::hysteresisV),
          {"missing_after_s", ReadMissingAfter}}},
    };
    return sections;
}

// What only the sections together can tell.
void CheckAcrossSections(ConfigOutcome& outcome) {
    const ServiceConfig& c = outcome.config;
    if (c.mqtt.Enabled() && c.service.pollMs == 0)
        outcome.errors.push_back("[mqtt] publishes what the poll reads: [service] poll_ms must not be 0");
    const AlarmSection& a = c.alarm;
    if ((a.waterMin && a.waterMax && *a.waterMin >= *a.waterMax) ||
        (a.supplyMin && a.supplyMax && *a.supplyMin >= *a.supplyMax))
        outcome.errors.push_back("[alarm] a lower bound must lie below its upper bound");
    if (!c.mqtt.Enabled() && (!c.mqtt.username.empty() || !c.mqtt.passwordFile.empty() || !c.mqtt.caFile.empty()))
        outcome.warnings.push_back("[mqtt] has no host: MQTT stays off");
}

}  // namespace

ConfigOutcome ParseServiceConfig(const std::string& text) {
    ConfigOutcome outcome;
    // Read as the settings files are: names without regard to case, the first of a repeated
    // key counts.
    const files::IniText ini(text);
    if (auto problem = ini.NotTextProblem()) {
        outcome.errors.push_back("not an INI file: " + *problem);
        return outcome;
    }
    const SectionReader* reader = nullptr;
    std::string section;
    std::set<std::string> seen;
    for (const files::IniLine& line : ini.Lines()) {
        if (line.kind == files::IniLineKind::Section) {
            section = std::string(line.name);
            reader = nullptr;
            for (const SectionReader& r : Sections())
                if (files::LowerName(r.name) == files::LowerName(section)) reader = &r;
            if (!reader && !section.empty()) outcome.warnings.push_back("unknown section [" + section + "] ignored");
            if (reader && reader->present) reader->present(outcome.config);
            continue;
        }
        if (line.kind != files::IniLineKind::Entry || !reader) continue;
        const std::string keyName(line.name);
        if (!seen.insert(files::LowerName(section) + "\n" + files::LowerName(keyName)).second) {
            outcome.warnings.push_back("[" + section + "] " + keyName + " given again; the first one counts");
            continue;
        }
        const KeyReader* keyReader = nullptr;
        for (const KeyReader& k : reader->keys)
            if (files::LowerName(k.name) == files::LowerName(keyName)) keyReader = &k;
        if (!keyReader) {
            outcome.warnings.push_back("[" + section + "] unknown key " + keyName + " ignored");
            continue;
        }
        const std::string value = Trimmed(line.value);
        std::string why;
        if (!keyReader->read(value, outcome.config, why))
            outcome.errors.push_back("[" + section + "] " + keyName + " = " + value + ": expected " + why);
    }
    CheckAcrossSections(outcome);
    return outcome;
}

ConfigOutcome LoadServiceConfig(const std::string& path, bool required) {
    std::string text;
    if (const int error = files::ReadRegularFile(path, 1u << 20, text); error != 0) {
        ConfigOutcome outcome;
        if (required || error != ENOENT)
            outcome.errors.push_back("cannot read " + path + ": " + files::FileErrorText(error));
        return outcome;
    }
    ConfigOutcome outcome = ParseServiceConfig(text);
    for (std::string& e : outcome.errors) e = path + ": " + e;
    for (std::string& w : outcome.warnings) w = path + ": " + w;
    return outcome;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    // A regular file only, and small: a device or a FIFO named here must not stall the service.
    if (const int failure = files::ReadRegularFile(path, 4096, password); failure != 0) {
        error = "cannot read the password file " + path + ": " + files::FileErrorText(failure);
        return false;
    }
    // The line break an editor or `echo` leaves is not part of the password.
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
    return true;
}

}  // namespace quelvan::service
