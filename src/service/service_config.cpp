#include "service/service_config.h"

#include <cerrno>
#include <charconv>
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

bool ReadBoards(const std::string& value, ServiceSection& service, std::string& why) {
    std::optional<std::vector<std::string>> serials = SerialNumbers(value);
    if (!serials) {
        why = "\"all\" or serial numbers";
        return false;
    }
    service.boards = std::move(*serials);
    return true;
}

bool ReadSocket(const std::string& value, ServiceSection& service, std::string& why) {
    if (!value.empty() && value.front() != '/') {
        why = "an absolute path";
        return false;
    }
    service.socket = value;
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> SerialNumbers(const std::string& value) {
    std::string list = value;
    for (char& c : list)
        if (c == ',') c = ' ';
    std::istringstream words(list);
    std::vector<std::string> serials;
    for (std::string word; words >> word;) serials.push_back(word);
    if (serials.empty()) return std::nullopt;
    if (serials.size() == 1 && serials.front() == "all") serials.clear();
    return serials;
}

std::optional<int> WholeNumber(const std::string& value, int minimum, int maximum) {
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number < minimum || number > maximum)
        return std::nullopt;
    return number;
}

std::optional<double> DecimalNumber(const std::string& value, double minimum, double maximum) {
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || !(number >= minimum && number <= maximum))
        return std::nullopt;
    return number;
}

std::optional<bool> OnOff(const std::string& value) {
    const std::string v = files::LowerName(value);
    if (v == "on" || v == "yes" || v == "true" || v == "1") return true;
    if (v == "off" || v == "no" || v == "false" || v == "0") return false;
    return std::nullopt;
}

ConfigSection ServiceConfigSection(ServiceSection& target) {
    ServiceSection* s = &target;
    return {"service",
            {{"poll_ms", [s](const std::string& v, std::string& why) { return ReadPeriod(v, s->pollMs, why); }},
             {"config_poll_ms",
              [s](const std::string& v, std::string& why) { return ReadPeriod(v, s->configPollMs, why); }},
             {"boards", [s](const std::string& v, std::string& why) { return ReadBoards(v, *s, why); }},
             {"socket", [s](const std::string& v, std::string& why) { return ReadSocket(v, *s, why); }},
             {"clock_sync",
              [s](const std::string& v, std::string& why) {
                  const std::optional<bool> on = OnOff(v);
                  if (on) s->clockSync = *on;
                  why = "on or off";
                  return on.has_value();
              }},
             {"clock_tolerance_s",
              [s](const std::string& v, std::string& why) {
                  const std::optional<int> seconds = WholeNumber(v, 1, 3600);
                  if (seconds) s->clockToleranceS = *seconds;
                  why = "a number of seconds 1..3600";
                  return seconds.has_value();
              }}},
            nullptr};
}

bool ReadConfigSections(const std::string& text, const std::vector<ConfigSection>& sections,
                        std::vector<std::string>& errors, std::vector<std::string>& warnings) {
    // Read as the settings files are: names without regard to case, the first of a repeated
    // key counts.
    const files::IniText ini(text);
    if (auto problem = ini.NotTextProblem()) {
        errors.push_back("not an INI file: " + *problem);
        return false;
    }
    const ConfigSection* reader = nullptr;
    std::string section;
    std::set<std::string> seen;
    for (const files::IniLine& line : ini.Lines()) {
        if (line.kind == files::IniLineKind::Section) {
            section = std::string(line.name);
            reader = nullptr;
            for (const ConfigSection& r : sections)
                if (files::LowerName(r.name) == files::LowerName(section)) reader = &r;
            if (!reader && !section.empty()) warnings.push_back("unknown section [" + section + "] ignored");
            if (reader && reader->present) reader->present();
            continue;
        }
        if (line.kind != files::IniLineKind::Entry || !reader) continue;
        const std::string keyName(line.name);
        if (!seen.insert(files::LowerName(section) + "\n" + files::LowerName(keyName)).second) {
            warnings.push_back("[" + section + "] " + keyName + " given again; the first one counts");
            continue;
        }
        const ConfigKey* keyReader = nullptr;
        for (const ConfigKey& k : reader->keys)
            if (files::LowerName(k.name) == files::LowerName(keyName)) keyReader = &k;
        if (!keyReader) {
            warnings.push_back("[" + section + "] unknown key " + keyName + " ignored");
            continue;
        }
        const std::string value = Trimmed(line.value);
        std::string why;
        if (!keyReader->read(value, why))
            errors.push_back("[" + section + "] " + keyName + " = " + value + ": expected " + why);
    }
    return true;
}

bool ReadConfigFile(const std::string& path, bool required, std::string& text, std::string& error) {
    if (const int failure = files::ReadRegularFile(path, kMaxConfigBytes, text); failure != 0) {
        if (required || failure != ENOENT)
            error = "cannot read " + path + ": " + files::FileErrorText(failure, kMaxConfigBytes);
        return false;
    }
    return true;
}

}  // namespace quelvan::service
