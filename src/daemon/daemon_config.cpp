#include "daemon/daemon_config.h"

namespace quelvan::service {

ConfigOutcome ParseServiceConfig(const std::string& text) {
    ConfigOutcome outcome;
    ServiceConfig& c = outcome.config;
    // Later bridges add their sections here.
    const std::vector<ConfigSection> sections = {ServiceConfigSection(c.service), MqttConfigSection(c.mqtt),
                                                 WebConfigSection(c.web),         HistoryConfigSection(c.history),
                                                 AlarmConfigSection(c.alarm),     SunConfigSection(c.sun)};
    if (!ReadConfigSections(text, sections, outcome.errors, outcome.warnings)) return outcome;
    // What only the sections together can tell.
    CheckMqttAgainstService(c.mqtt, c.service, outcome.errors, outcome.warnings);
    CheckAlarmBounds(c.alarm, outcome.errors);
    CheckSunSection(c.sun, outcome.errors);
    return outcome;
}

ConfigOutcome LoadServiceConfig(const std::string& path, bool required) {
    std::string text, error;
    if (!ReadConfigFile(path, required, text, error)) {
        ConfigOutcome outcome;
        if (!error.empty()) outcome.errors.push_back(error);
        return outcome;
    }
    ConfigOutcome outcome = ParseServiceConfig(text);
    for (std::string& e : outcome.errors) e = path + ": " + e;
    for (std::string& w : outcome.warnings) w = path + ": " + w;
    // The files it names, before anything starts: a mistake there is reported before anything
    // is announced.
    if (outcome.errors.empty()) CheckMqttFiles(outcome.config.mqtt, outcome.errors, outcome.warnings);
    return outcome;
}

std::string LinkedPageUrl(const WebSection& web, const std::string& pageUrl) {
    if (!web.enabled) return {};
    if (!web.publicUrl.empty()) return web.publicUrl;
    if (WebListensOnLoopback(web)) return {};
    return pageUrl;
}

}  // namespace quelvan::service
