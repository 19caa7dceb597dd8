#include "service/service_config.h"

#include <charconv>
#include <functional>
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
};

bool ReadPollMs(const std::string& value, ServiceConfig& config, std::string& why) {
    int ms = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (error != std::errc() || end != value.data() + value.size() || ms < 0 || (ms > 0 && ms < 100) ||
        ms > 3'600'000) {
        why = "a number of milliseconds: 0 (no polling) or 100..3600000";
        return false;
    }
    config.service.pollMs = ms;
    return true;
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

bool ReadSocket(const std::string& value, ServiceConfig& config, std::string& why) {
    if (!value.empty() && value.front() != '/') {
        why = "an absolute path";
        return false;
    }
    config.service.socket = value;
    return true;
}

// Later bridges add their sections here.
const std::vector<SectionReader>& Sections() {
    static const std::vector<SectionReader> sections = {
        {"service", {{"poll_ms", ReadPollMs}, {"boards", ReadBoards}, {"socket", ReadSocket}}},
    };
    return sections;
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

}  // namespace quelvan::service
