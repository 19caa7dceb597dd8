#pragma once
// quelvand.conf: an INI file of sections, each read by its own reader from a table, so that
// a bridge adds its section by adding one reader. Every key has a default (the shipped
// example file documents each); a key the reader does not know is reported, not fatal;
// a value it cannot use is an error.
//
//   [service]
//   poll_ms = 1000        how often each board's live state is read; 0: never on its own
//   config_poll_ms = 10000  how often its settings are read too, while MQTT publishes them
//   boards = all          "all", or serial numbers separated by spaces or commas
//   socket =              the socket's path; empty: the user's or the system's default
//   clock_sync = on       set the boards' clocks; clock_tolerance_s = 2: from this far off
//
//   [mqtt]                (off while host is empty; dist/service/quelvand.conf has them all)
//   host, port, username, password_file, ca_file, keepalive, client_id,
//   discovery_prefix = homeassistant, base_topic = quelvan
//
//   [web]                 (off without the section; service/web_settings.h)
//   listen = 127.0.0.1, port = 8468, token_file =
//
//   [history]             keep = on, folder =   (empty: the state directory's history/)
//   [alarm]               water_min, water_max, supply_min, supply_max (off while empty),
//                         hysteresis_c = 0.3, hysteresis_v = 0.1, missing_after_s = 120

#include <optional>
#include <string>
#include <vector>

#include "service/web_settings.h"

namespace quelvan::service {

struct ServiceSection {
    int pollMs = 1000;
    int configPollMs = 10000;
    std::vector<std::string> boards;  // empty: all
    std::string socket;               // empty: wire::DefaultServiceSocketPath()
    bool clockSync = true;            // keep each board's clock on the computer's (clock_keeper.h)
    int clockToleranceS = 2;
};

struct MqttSection {
    std::string host;  // empty: no MQTT
    int port = 0;      // 0: 1883, or 8883 with TLS
    std::string username;
    std::string passwordFile;
    std::string caFile;  // set: TLS, the broker's certificate checked against this CA
    int keepalive = 60;
    std::string clientId;  // empty: quelvand-<host name>
    std::string discoveryPrefix = "homeassistant";
    std::string baseTopic = "quelvan";

    bool Enabled() const { return !host.empty(); }
    bool Tls() const { return !caFile.empty(); }
    int Port() const { return port != 0 ? port : Tls() ? 8883 : 1883; }
};

// The settings history (history_keeper.h).
struct HistorySection {
    bool keep = true;
    std::string folder;  // empty: DefaultHistoryFolder()
};

// Alarm bounds (alarm_keeper.h); a bound not set is off.
struct AlarmSection {
    std::optional<double> waterMin, waterMax;    // °C
    std::optional<double> supplyMin, supplyMax;  // V
    double hysteresisC = 0.3;
    double hysteresisV = 0.1;
    int missingAfterS = 120;  // 0: off
};

struct ServiceConfig {
    ServiceSection service;
    MqttSection mqtt;
    WebSection web;
    HistorySection history;
    AlarmSection alarm;
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

// The password from [mqtt] password_file: the file's text without a final line break.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

inline constexpr const char* kDefaultConfigPath = "/etc/quelvan/quelvand.conf";

}  // namespace quelvan::service
