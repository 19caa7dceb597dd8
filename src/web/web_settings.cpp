#include "web/web_settings.h"

#include <pwd.h>
#include <unistd.h>

#include <QHostAddress>
#include <QHostInfo>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace quelvan::service {

namespace {

std::optional<int> PortNumber(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

bool SetPort(WebSection& web, int port, bool fromListen, std::string& why) {
    if ((fromListen && web.portGiven) || (!fromListen && web.portInListen)) {
        if (port != web.port) {
            why = "the same port as " + std::string(fromListen ? "port" : "listen") + " (" + std::to_string(web.port) +
                  ")";
            return false;
        }
    }
    web.port = port;
    (fromListen ? web.portInListen : web.portGiven) = true;
    return true;
}

}  // namespace

bool ReadWebListen(const std::string& value, WebSection& web, std::string& why) {
    why = "an IP address such as 127.0.0.1, ::1 or 0.0.0.0, optionally with :PORT ([::1]:8468)";
    std::string address = value;
    std::optional<int> port;
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string::npos) return false;
        address = value.substr(1, close - 1);
        const std::string rest = value.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' || !(port = PortNumber(std::string_view(rest).substr(1)))) return false;
        }
    } else if (const auto colon = value.find(':');
               colon != std::string::npos && value.find(':', colon + 1) == std::string::npos) {
        address = value.substr(0, colon);
        if (!(port = PortNumber(std::string_view(value).substr(colon + 1)))) return false;
    }
    if (address == "localhost") address = "127.0.0.1";
    QHostAddress parsed;
    if (address.empty() || !parsed.setAddress(QString::fromStdString(address)) || !parsed.scopeId().isEmpty())
        return false;
    web.listen = parsed.toString().toStdString();
    return port ? SetPort(web, *port, true, why) : true;
}

bool ReadWebPort(const std::string& value, WebSection& web, std::string& why) {
    const std::optional<int> port = PortNumber(value);
    if (!port) {
        why = "a port number 1..65535";
        return false;
    }
    return SetPort(web, *port, false, why);
}

bool ReadWebTokenFile(const std::string& value, WebSection& web, std::string& why) {
    if (!value.empty() && value.front() != '/') {
        why = "an absolute path";
        return false;
    }
    web.tokenFile = value;
    return true;
}

ConfigSection WebConfigSection(WebSection& target) {
    WebSection* web = &target;
    const auto key = [web](const char* name, bool (*read)(const std::string&, WebSection&, std::string&)) {
        return ConfigKey{name,
                         [web, read](const std::string& value, std::string& why) { return read(value, *web, why); }};
    };
    return {"web",
            {key("listen", ReadWebListen), key("port", ReadWebPort), key("token_file", ReadWebTokenFile)},
            [web] { web->enabled = true; }};
}

bool WebListensOnLoopback(const WebSection& web) {
    return QHostAddress(QString::fromStdString(web.listen)).isLoopback();
}

std::string WebPageUrl(const WebSection& web) {
    if (!web.enabled) return {};
    const QHostAddress address(QString::fromStdString(web.listen));
    std::string host = web.listen;
    if (address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        host = QHostInfo::localHostName().toStdString();
    else if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(web.port) + "/";
}

std::string DefaultWebTokenPath() {
    constexpr const char* kName = "/web-token";
    // systemd may list several state directories; the unit gives one.
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state == '/') {
        const std::string first(state, std::string_view(state).find(':') == std::string_view::npos
                                           ? std::string_view(state).size()
                                           : std::string_view(state).find(':'));
        return first + kName;
    }
    if (::geteuid() == 0) return std::string("/var/lib/quelvan") + kName;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/quelvan" + kName;
    const char* home = std::getenv("HOME");
    const passwd* user = home && *home == '/' ? nullptr : ::getpwuid(::geteuid());
    return std::string(user ? user->pw_dir : home) + "/.local/state/quelvan" + kName;
}

}  // namespace quelvan::service
