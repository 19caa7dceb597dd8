#include "service/service_config.h"

// The same INI library as the settings files, without its character-set conversion.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <strings.h>

#include <charconv>
#include <fstream>
#include <functional>
#include <sstream>
#include <string_view>

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

// Later bridges add their sections here.
const std::vector<SectionReader>& Sections() {
    static const std::vector<SectionReader> sections = {
        {"service", {{"poll_ms", ReadPollMs}, {"boards", ReadBoards}, {"socket", ReadSocket}}},
        {"web",
         {WebKey("listen", ReadWebListen), WebKey("port", ReadWebPort), WebKey("token_file", ReadWebTokenFile),
          WebKey("url", ReadWebUrl)},
         [](ServiceConfig& config) { config.web.enabled = true; }},
    };
    return sections;
}

}  // namespace

ConfigOutcome ParseServiceConfig(const std::string& text) {
    ConfigOutcome outcome;
    CSimpleIniA ini(false, true, false);  // names without regard to case, keys may repeat
    if (ini.LoadData(text.data(), text.size()) < 0) {
        outcome.errors.push_back("the file is not an INI file");
        return outcome;
    }
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& section : sections) {
        const std::string name = section.pItem;
        const SectionReader* reader = nullptr;
        for (const SectionReader& r : Sections())
            if (::strcasecmp(r.name, section.pItem) == 0) reader = &r;
        if (!reader) {
            if (!name.empty()) outcome.warnings.push_back("unknown section [" + name + "] ignored");
            continue;
        }
        if (reader->present) reader->present(outcome.config);
        CSimpleIniA::TNamesDepend keys;
        ini.GetAllKeys(section.pItem, keys);
        keys.sort(CSimpleIniA::Entry::LoadOrder());
        for (const auto& key : keys) {
            const std::string keyName = key.pItem;
            const KeyReader* keyReader = nullptr;
            for (const KeyReader& k : reader->keys)
                if (::strcasecmp(k.name, key.pItem) == 0) keyReader = &k;
            if (!keyReader) {
                outcome.warnings.push_back("[" + name + "] unknown key " + keyName + " ignored");
                continue;
            }
            const std::string value = Trimmed(ini.GetValue(section.pItem, key.pItem, ""));
            std::string why;
            if (!keyReader->read(value, outcome.config, why))
                outcome.errors.push_back("[" + name + "] " + keyName + " = " + value + ": expected " + why);
        }
    }
    return outcome;
}

ConfigOutcome LoadServiceConfig(const std::string& path, bool required) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ConfigOutcome outcome;
        if (required) outcome.errors.push_back("cannot read " + path);
        return outcome;
    }
    std::ostringstream text;
    text << in.rdbuf();
    ConfigOutcome outcome = ParseServiceConfig(text.str());
    for (std::string& e : outcome.errors) e = path + ": " + e;
    for (std::string& w : outcome.warnings) w = path + ": " + w;
    return outcome;
}

}  // namespace quelvan::service
