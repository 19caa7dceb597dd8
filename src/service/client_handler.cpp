#include "service/client_handler.h"

#include <unistd.h>

#include "device/version.h"

namespace quelvan::service {

namespace {

using nlohmann::json;

const json* Field(const json& request, const char* name) {
    const auto it = request.find(name);
    return it == request.end() ? nullptr : &*it;
}

}  // namespace

ClientHandler::ClientHandler(BoardOwner& owner, Sender send, std::function<int()> clients, const BridgeHooks* hooks)
    : owner_(owner), send_(std::move(send)), clients_(std::move(clients)), hooks_(hooks), holder_(owner.NewHolder()) {}

ClientHandler::~ClientHandler() {
    // No stale locks: whatever this client held or waited for is given up at once.
    owner_.ForgetHolder(holder_);
}

void ClientHandler::Feed(const char* data, std::size_t size) {
    splitter_.Feed(data, size);
    while (auto line = splitter_.Next()) {
        if (queue_.size() >= kMaxQueued) {
            Error(nullptr, wire::kBusy, "too many requests waiting; send one at a time");
            continue;
        }
        queue_.push_back(std::move(*line));
    }
    Pump();
}

void ClientHandler::DevicesChanged() {
    if (hello_) Send({{"event", wire::kDevicesEvent}});
}

void ClientHandler::Pump() {
    if (pumping_) return;
    pumping_ = true;
    while (!waiting_ && !queue_.empty()) {
        wire::LineSplitter::Line line = std::move(queue_.front());
        queue_.pop_front();
        if (line.tooLong)
            Error(nullptr, wire::kTooLong, "message longer than " + std::to_string(wire::kMaxMessageBytes) + " bytes");
        else
            Handle(line.text);
    }
    pumping_ = false;
}

void ClientHandler::Send(const json& message) {
    // Text that is not UTF-8 (a device string, a request's id) is replaced, never thrown on.
    send_(message.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

void ClientHandler::Reply(const json& id, json body) {
    body["id"] = id;
    body["ok"] = true;
    Send(body);
}

void ClientHandler::Error(const json& id, std::string_view code, const std::string& text) {
    Send({{"id", id}, {"ok", false}, {"code", code}, {"error", text}});
}

void ClientHandler::Handle(const std::string& line) {
    // A NUL byte ends the text for many a reader: what follows it must never be half-read.
    if (line.find('\0') != std::string::npos) {
        Error(nullptr, wire::kBadRequest, "a NUL byte in the message");
        return;
    }
    const json request = json::parse(line, nullptr, false);
    if (request.is_discarded() || !request.is_object()) {
        Error(nullptr, wire::kBadRequest, "not a JSON object");
        return;
    }
    const json* idField = Field(request, "id");
    if (!idField || !idField->is_number_integer()) {
        Error(nullptr, wire::kBadRequest, "no integer \"id\"");
        return;
    }
    const json id = *idField;
    const json* opField = Field(request, "op");
    if (!opField || !opField->is_string()) {
        Error(id, wire::kBadRequest, "no \"op\"");
        return;
    }
    const std::string op = opField->get<std::string>();

    if (op == wire::kHello) {
        const json* version = Field(request, "version");
        if (!version || !version->is_number_integer() || version->get<long long>() != wire::kVersion) {
            Error(id, wire::kVersionMismatch, "this service speaks protocol version " + std::to_string(wire::kVersion));
            return;
        }
        hello_ = true;
        // Who wrote a setting, for the settings history.
        const json* client = Field(request, "client");
        std::string name = client && client->is_string() ? client->get<std::string>().substr(0, 40) : std::string();
        for (char& c : name)
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        owner_.NameHolder(holder_, name == "quelvan" ? "the window" : name.empty() ? "a client" : name);
        Reply(id, {{"version", wire::kVersion}, {"service", "quelvand"}, {"release", std::string(kQuelvanVersion)}});
        return;
    }
    if (!hello_) {
        Error(id, wire::kHelloFirst, "say hello first");
        return;
    }
    if (op == wire::kList) {
        owner_.ProcessDeviceChanges();
        Reply(id, ListReply());
        return;
    }
    if (op == wire::kStatus) {
        owner_.ProcessDeviceChanges();
        Reply(id, StatusReply());
        return;
    }
    if (op == wire::kForget) {
        Forget(id, request);
        return;
    }
    if (op == wire::kHistory || op == wire::kHistoryShow || op == wire::kRestore) {
        History(id, op, request);
        return;
    }
    if (op == wire::kWebToken) {
        Reply(id, hooks_ && hooks_->webToken ? hooks_->webToken() : json{{"enabled", false}});
        return;
    }

    const bool known = op == wire::kStrings || op == wire::kOpen || op == wire::kGet || op == wire::kSet ||
                       op == wire::kBegin || op == wire::kEnd || op == wire::kImporting;
    if (!known) {
        Error(id, wire::kUnknownOp, "unknown op \"" + op + "\"");
        return;
    }
    const json* deviceField = Field(request, "device");
    if (!deviceField || !deviceField->is_string()) {
        Error(id, wire::kBadRequest, "no \"device\"");
        return;
    }
    const std::string device = deviceField->get<std::string>();
    const HeldDevice* held = owner_.Find(device);
    if (!held) {
        sessions_.erase(device);
        Error(id, wire::kNoDevice, "the service holds no such device");
        return;
    }

    if (op == wire::kStrings) {
        Reply(id, {{"manufacturer", held->manufacturer}, {"product", held->product}, {"serial", held->serial}});
    } else if (op == wire::kOpen) {
        const OpenResult opened = owner_.Open(device);
        Reply(id, {{"read_write", opened.readWrite}, {"error", opened.error}});
    } else if (op == wire::kImporting) {
        // Only within the client's own session: nobody else can write between this and the
        // import's first write, so the settings kept before it are the ones it overwrites.
        if (!sessions_.count(device) || !owner_.AnnounceImport(device, holder_))
            Error(id, wire::kNoSession, "no session on this board");
        else
            Reply(id);
    } else if (op == wire::kEnd) {
        if (!sessions_.erase(device) || !owner_.EndSession(device, holder_))
            Error(id, wire::kNoSession, "no session on this device");
        else
            Reply(id);
    } else {
        std::vector<std::uint8_t> data;
        if (op != wire::kBegin) {
            const json* dataField = Field(request, "data");
            auto bytes =
                dataField && dataField->is_string() ? wire::FromHex(dataField->get<std::string>()) : std::nullopt;
            if (!bytes || bytes->empty() || bytes->size() > wire::kMaxReportBytes) {
                Error(id, wire::kBadRequest,
                      "\"data\" must be 1.." + std::to_string(wire::kMaxReportBytes) + " bytes in hex");
                return;
            }
            data = std::move(*bytes);
        }
        OnDevice(id, op, device, std::move(data));
    }
}

void ClientHandler::OnDevice(const json& id, const std::string& op, const std::string& device,
                             std::vector<std::uint8_t> data) {
    // A session this client believes it has may have ended without it (idle too long).
    if (sessions_.count(device)) {
        const HeldDevice* held = owner_.Find(device);
        if (!held || held->sessionHolder != holder_) {
            sessions_.erase(device);
            Error(id, wire::kNoSession, "the session on this device has ended");
            return;
        }
    }
    waiting_ = true;
    auto work = [this, id, op, device, data = std::move(data)]() mutable {
        waiting_ = false;
        if (op == wire::kBegin) {
            if (owner_.BeginSession(device, holder_)) {
                sessions_.insert(device);
                Reply(id);
            } else {
                Error(id, wire::kNoDevice, "the device left the bus");
            }
        } else {
            const bool isSet = op == wire::kSet;
            if (!owner_.Transfer(device, holder_, isSet, data))
                Error(id, wire::kFailed, "the transfer failed");
            else if (isSet)
                Reply(id);
            else
                Reply(id, {{"data", wire::ToHex(data.data(), data.size())}});
        }
        Pump();
    };
    auto failed = [this, id](std::string_view code, const std::string& why) {
        waiting_ = false;
        Error(id, code, why);
        Pump();
    };
    owner_.WhenFree(device, holder_, std::move(work), std::move(failed));
}

json ClientHandler::ListReply() const {
    json devices = json::array();
    for (const HeldDevice* d : owner_.Devices()) {
        devices.push_back({{"device", d->device},
                           {"path", d->info.path},
                           {"vendor_id", d->info.vendorId},
                           {"product_id", d->info.productId},
                           {"version_number", d->info.versionNumber}});
    }
    return {{"devices", devices}};
}

json ClientHandler::StatusReply() const {
    json boards = json::array();
    for (const HeldDevice* d : owner_.Devices()) {
        json board = {{"device", d->device},
                      {"path", d->info.path},
                      {"role", RoleName(d->role)},
                      {"serial", d->serial},
                      {"session", d->sessionHolder != 0}};
        if (d->liveValid) board["firmware_version"] = d->live.FirmwareVersion;
        if (d->role == DeviceRole::Board) board.update(FreshnessJson(*d));
        boards.push_back(std::move(board));
    }
    json status = {{"service", "quelvand"},
                   {"release", std::string(kQuelvanVersion)},
                   {"pid", static_cast<long long>(::getpid())},
                   {"poll_ms", owner_.Options().pollMs},
                   {"clients", clients_ ? clients_() : 1},
                   {"boards", boards}};
    status["alarms"] = hooks_ && hooks_->alarms ? hooks_->alarms() : json::array();
    status["mqtt"] = hooks_ && hooks_->mqttStatus ? hooks_->mqttStatus() : json{{"enabled", false}};
    return status;
}

void ClientHandler::Forget(const json& id, const json& request) {
    const json* serial = Field(request, "serial");
    if (!serial || !serial->is_string() || serial->get<std::string>().empty()) {
        Error(id, wire::kBadRequest, "no \"serial\"");
        return;
    }
    if (!hooks_ || !hooks_->forget) {
        Error(id, wire::kNoBridge, "this service publishes nothing to MQTT ([mqtt] host is not set)");
        return;
    }
    const json* force = Field(request, "force");
    if (force && !force->is_boolean()) {
        Error(id, wire::kBadRequest, "\"force\" must be true or false");
        return;
    }
    // The answer comes once the broker has confirmed; the requests behind it wait.
    waiting_ = true;
    hooks_->forget(serial->get<std::string>(), force && force->get<bool>(),
                   [this, id, alive = std::weak_ptr<int>(alive_)](bool ok, const std::string& error, int topics) {
                       if (alive.expired()) return;
                       waiting_ = false;
                       if (ok)
                           Reply(id, {{"topics", topics}});
                       else
                           Error(id, wire::kFailed, error);
                       Pump();
                   });
}

void ClientHandler::History(const json& id, const std::string& op, const json& request) {
    if (!hooks_ || !hooks_->history) {
        Error(id, wire::kNoBridge, "this service keeps no settings history ([history] keep = off)");
        return;
    }
    // A restore answers once the board has been written and read back; the requests behind it wait.
    waiting_ = true;
    hooks_->history(op, request, [this, id, alive = std::weak_ptr<int>(alive_)](json reply) {
        if (alive.expired()) return;
        waiting_ = false;
        if (reply.value("ok", false) == true) {
            reply.erase("ok");
            Reply(id, std::move(reply));
        } else {
            Error(id, reply.value("code", std::string(wire::kFailed)), reply.value("error", std::string()));
        }
        Pump();
    });
}

}  // namespace quelvan::service
