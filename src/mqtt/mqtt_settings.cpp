#include "mqtt/mqtt_settings.h"

#include <optional>

#include "files/file_access.h"

namespace quelvan::service {

namespace {

// A key whose value is taken as it stands (a host name, a user name, a path).
ConfigKey Text(MqttSection& mqtt, const char* name, std::string MqttSection::*field, bool absolutePath = false) {
    return {name, [m = &mqtt, field, absolutePath](const std::string& value, std::string& why) {
                if (absolutePath && !value.empty() && value.front() != '/') {
                    why = "an absolute path";
                    return false;
                }
                m->*field = value;
                return true;
            }};
}

ConfigKey Number(MqttSection& mqtt, const char* name, int MqttSection::*field, int minimum, int maximum) {
    return {name, [m = &mqtt, field, minimum, maximum](const std::string& value, std::string& why) {
                const std::optional<int> number = WholeNumber(value, minimum, maximum);
                if (!number) {
                    why = "a whole number " + std::to_string(minimum) + ".." + std::to_string(maximum);
                    return false;
                }
                m->*field = *number;
                return true;
            }};
}

// A topic's first levels: no wildcards, no empty level, no leading or trailing '/'.
ConfigKey TopicPrefix(MqttSection& mqtt, const char* name, std::string MqttSection::*field) {
    return {name, [m = &mqtt, field](const std::string& value, std::string& why) {
                const bool usable = !value.empty() && value.find_first_of("+#") == std::string::npos &&
                                    value.front() != '/' && value.back() != '/' &&
                                    value.find("//") == std::string::npos;
                if (!usable) {
                    why = "topic levels without + or #, not starting or ending with /";
                    return false;
                }
                m->*field = value;
                return true;
            }};
}

}  // namespace

ConfigSection MqttConfigSection(MqttSection& m) {
    return {"mqtt",
            {Text(m, "host", &MqttSection::host), Number(m, "port", &MqttSection::port, 0, 65535),
             Text(m, "username", &MqttSection::username), Text(m, "password_file", &MqttSection::passwordFile, true),
             Text(m, "ca_file", &MqttSection::caFile, true), Number(m, "keepalive", &MqttSection::keepalive, 5, 65535),
             Text(m, "client_id", &MqttSection::clientId),
             TopicPrefix(m, "discovery_prefix", &MqttSection::discoveryPrefix),
             TopicPrefix(m, "base_topic", &MqttSection::baseTopic)},
            nullptr};
}

void CheckMqttAgainstService(const MqttSection& mqtt, const ServiceSection& service, std::vector<std::string>& errors,
                             std::vector<std::string>& warnings) {
    if (mqtt.Enabled() && service.pollMs == 0)
        errors.push_back("[mqtt] publishes what the poll reads: [service] poll_ms must not be 0");
    if (!mqtt.Enabled() && (!mqtt.username.empty() || !mqtt.passwordFile.empty() || !mqtt.caFile.empty()))
        warnings.push_back("[mqtt] has no host: MQTT stays off");
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
