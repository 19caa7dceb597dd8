#include "cli/service_commands.h"

#include <nlohmann/json.hpp>

#include "backend/service_backend.h"
#include "backend/service_protocol.h"

namespace quelvan::cli {

namespace {

using nlohmann::json;

std::string TextOf(const json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Where it looked, and how to have a service there.
int NoService(const Request& request, std::ostream& out, std::ostream& err) {
    const std::vector<std::string> tried = wire::ClientSocketPaths();
    std::string places;
    for (const std::string& path : tried) places += (places.empty() ? "" : ", ") + path;
    const std::string message = "no service quelvand answers (tried " + places + ")";
    const std::string hint =
        "start one with 'sudo systemctl start quelvand' (for every user), 'systemctl --user start quelvand' "
        "(for you alone) or by running 'quelvand' in a terminal; QUELVAN_SOCKET names another socket";
    err << "error: " << message << "\n" << hint << "\n";
    if (request.json) out << json{{"ok", false}, {"error", message}, {"tried", tried}, {"hint", hint}}.dump() << "\n";
    return kExitNoBoard;
}

// "MQTT: connected to host:1883 as quelvand-tank (TLS); boards QV2-1, QV2-2"
std::string MqttLine(const json& mqtt) {
    if (!mqtt.is_object() || mqtt.value("enabled", false) != true) return "MQTT: off (no [mqtt] host)";
    std::string line = "MQTT: " + TextOf(mqtt, "state") + (mqtt.value("connected", false) ? " to " : ", broker ") +
                       TextOf(mqtt, "broker") + " as " + TextOf(mqtt, "client_id") +
                       (mqtt.value("tls", false) ? " (TLS)" : "");
    if (!mqtt.value("connected", false) && !TextOf(mqtt, "last_error").empty())
        line += "; last problem: " + TextOf(mqtt, "last_error");
    const json boards = mqtt.value("boards", json::array());
    if (boards.is_array() && !boards.empty()) {
        line += "; announced:";
        for (const json& b : boards)
            if (b.is_string()) line += " " + b.get<std::string>();
    }
    return line;
}

}  // namespace

int RunServiceForget(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err) {
    auto* service = dynamic_cast<ServiceBackend*>(&backend);
    const std::optional<std::string> text =
        service ? service->ForgetJson(request.forgetSerial, request.forgetForce) : std::nullopt;
    json reply = text ? json::parse(*text, nullptr, false) : json();
    if (!reply.is_object()) return NoService(request, out, err);
    if (reply.value("ok", false) != true) {
        const std::string message = "cannot forget " + request.forgetSerial + ": " + TextOf(reply, "error");
        err << "error: " << message << "\n";
        if (request.json) out << json{{"ok", false}, {"error", message}}.dump() << "\n";
        return kExitTransferFailed;
    }
    const int topics = reply.value("topics", 0);
    if (request.json)
        out << json{{"ok", true}, {"serial", request.forgetSerial}, {"topics", topics}}.dump() << "\n";
    else
        out << "board " << request.forgetSerial << " removed from Home Assistant (" << topics
            << " retained topics emptied)\n";
    return kExitOk;
}

int RunServiceWebToken(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err) {
    auto* service = dynamic_cast<ServiceBackend*>(&backend);
    const std::optional<std::string> text = service ? service->WebTokenJson() : std::nullopt;
    json reply = text ? json::parse(*text, nullptr, false) : json();
    if (!reply.is_object()) return NoService(request, out, err);
    const std::string token = TextOf(reply, "token");
    if (reply.value("ok", false) != true || reply.value("enabled", false) != true || token.empty()) {
        const std::string message = reply.value("ok", false) == true
                                        ? "the service serves no web page (no [web] section in its configuration)"
                                        : "the service does not tell a web token: " + TextOf(reply, "error");
        err << "error: " << message << "\n";
        if (request.json) out << json{{"ok", false}, {"error", message}}.dump() << "\n";
        return kExitTransferFailed;
    }
    if (request.json) {
        out << json{{"ok", true}, {"token", token}, {"url", TextOf(reply, "url")}}.dump() << "\n";
    } else {
        // The token alone on standard output, for scripts; where to enter it beside it.
        out << token << "\n";
        err << "the page: " << TextOf(reply, "url") << "\n";
    }
    return kExitOk;
}

int RunServiceHistory(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err) {
    auto* service = dynamic_cast<ServiceBackend*>(&backend);
    json ask = {{"op", request.historyAction == "list"   ? "history"
                       : request.historyAction == "show" ? "history-show"
                                                         : "restore"}};
    if (!request.device.empty()) ask["serial"] = request.device;
    if (request.historyAction != "list") ask["entry"] = request.historyEntry;
    if (request.historyAction == "restore") ask["part"] = request.historyPart;
    const std::optional<std::string> text = service ? service->RequestJson(ask.dump()) : std::nullopt;
    json reply = text ? json::parse(*text, nullptr, false) : json();
    if (!reply.is_object()) return NoService(request, out, err);
    reply.erase("id");
    if (reply.value("ok", false) != true) {
        const std::string message = "the settings history: " + TextOf(reply, "error");
        err << "error: " << message << "\n";
        if (request.json) out << json{{"ok", false}, {"error", message}}.dump() << "\n";
        return TextOf(reply, "code") == "no-device" ? kExitNoBoard : kExitTransferFailed;
    }
    if (request.json) {
        out << reply.dump(2) << "\n";
        return kExitOk;
    }
    if (request.historyAction == "show") {
        out << TextOf(reply, "text");
        return kExitOk;
    }
    if (request.historyAction == "restore") {
        out << "entry " << request.historyEntry << " written back to board " << TextOf(reply, "serial")
            << (request.historyPart == "all" ? "" : " (" + request.historyPart + " only)") << "\n";
        return kExitOk;
    }
    const json entries = reply.value("entries", json::array());
    out << "settings history of board " << TextOf(reply, "serial") << ": " << entries.size() << " entries\n";
    for (const json& e : entries.is_array() ? entries : json::array()) {
        if (!e.is_object()) continue;
        std::string changed;
        for (const json& c : e.value("changed", json::array()))
            if (c.is_string()) changed += (changed.empty() ? "" : ", ") + c.get<std::string>();
        out << "  " << e.value("id", 0) << "  " << TextOf(e, "time") << "  " << TextOf(e, "by") << "  "
            << (changed.empty() ? std::string("-") : changed) << "\n";
    }
    return kExitOk;
}

int RunServiceStatus(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err) {
    auto* service = dynamic_cast<ServiceBackend*>(&backend);
    const std::optional<std::string> text = service ? service->StatusJson() : std::nullopt;
    json status = text ? json::parse(*text, nullptr, false) : json();
    if (!status.is_object()) return NoService(request, out, err);
    status.erase("id");
    status["socket"] = service->SocketPath();
    if (request.json) {
        status["ok"] = true;
        out << status.dump(2) << "\n";
        return kExitOk;
    }
    out << "quelvand " << TextOf(status, "release") << " answers on " << service->SocketPath();
    if (status.contains("pid") && status["pid"].is_number()) out << " (process " << status["pid"] << ")";
    out << "\n";
    if (status.contains("poll_ms") && status["poll_ms"].is_number()) {
        const long long poll = status["poll_ms"].get<long long>();
        out << (poll > 0 ? "polls each board every " + std::to_string(poll) + " ms" : std::string("polls no board"));
    }
    if (status.contains("clients") && status["clients"].is_number()) out << "; clients: " << status["clients"];
    out << "\n" << MqttLine(status.value("mqtt", json())) << "\n";
    const json alarms = status.value("alarms", json::array());
    if (alarms.is_array() && !alarms.empty()) {
        out << "alarms:\n";
        for (const json& a : alarms)
            if (a.is_object())
                out << "  board " << TextOf(a, "serial") << ": " << TextOf(a, "text") << ", since "
                    << TextOf(a, "since") << "\n";
    } else if (alarms.is_array()) {
        out << "alarms: none\n";
    }
    const json boards = status.value("boards", json::array());
    if (!boards.is_array() || boards.empty()) out << "no board held\n";
    for (const json& b : boards.is_array() ? boards : json::array()) {
        if (!b.is_object()) continue;
        const std::string serial = TextOf(b, "serial");
        out << "  " << TextOf(b, "role") << "  " << (serial.empty() ? std::string("-") : serial) << "  "
            << TextOf(b, "path");
        if (b.contains("firmware_version") && b["firmware_version"].is_number())
            out << "  firmware " << b["firmware_version"];
        if (b.value("session", false) == true) out << "  (in use by a client)";
        if (b.value("stale", false) == true) out << "  (stale: last read " << TextOf(b, "last_read") << ")";
        out << "\n";
    }
    return kExitOk;
}

}  // namespace quelvan::cli
