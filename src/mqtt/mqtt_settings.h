#pragma once
// The [mqtt] section of quelvand.conf: the broker Home Assistant listens on. MQTT is off
// while host is empty; dist/service/quelvand.conf documents every key.
//
//   [mqtt]
//   host, port, username, password_file, ca_file, keepalive, client_id,
//   discovery_prefix = homeassistant, base_topic = quelvan

#include <string>
#include <vector>

#include "service/service_config.h"

namespace quelvan::service {

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

// The [mqtt] section, read into `target`.
ConfigSection MqttConfigSection(MqttSection& target);

// What [mqtt] asks of [service], checked once the whole file is read.
void CheckMqttAgainstService(const MqttSection& mqtt, const ServiceSection& service, std::vector<std::string>& errors,
                             std::vector<std::string>& warnings);

// The password from [mqtt] password_file: the file's text without a final line break.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

}  // namespace quelvan::service
