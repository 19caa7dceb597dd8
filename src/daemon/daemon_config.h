#pragma once
// quelvand.conf as a whole: the owner's [service] section (service/service_config.h), the
// broker's [mqtt] (mqtt/mqtt_settings.h), the page's [web] (web/web_settings.h) and the keepers'
// [history] and [alarm] (daemon/keeper_settings.h) and [sun] (daemon/sun_settings.h), read
// by one reader from their tables.

#include <string>
#include <vector>

#include "daemon/keeper_settings.h"
#include "daemon/sun_settings.h"
#include "mqtt/mqtt_settings.h"
#include "service/service_config.h"
#include "web/web_settings.h"

namespace quelvan::service {

struct ServiceConfig {
    ServiceSection service;
    MqttSection mqtt;
    WebSection web;
    HistorySection history;
    AlarmSection alarm;
    SunSection sun;
};

struct ConfigOutcome {
    ServiceConfig config;
    std::vector<std::string> errors;    // the file cannot be used as it is
    std::vector<std::string> warnings;  // unknown sections and keys
};

// Reads the file's text; an empty text gives the defaults.
ConfigOutcome ParseServiceConfig(const std::string& text);
// Reads the file; a missing file is an error only when `required`.
ConfigOutcome LoadServiceConfig(const std::string& path, bool required);

// The page Home Assistant links each board's device to (its configuration_url): the public
// address when [web] public_url is set; none while the page listens on loopback only (the
// link is opened on another computer, where that address is not this one); else `pageUrl`.
std::string LinkedPageUrl(const WebSection& web, const std::string& pageUrl);

inline constexpr const char* kDefaultConfigPath = "/etc/quelvan/quelvand.conf";

}  // namespace quelvan::service
