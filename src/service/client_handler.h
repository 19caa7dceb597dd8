#pragma once
// One client of quelvand's socket: its bytes in, its replies and events out. Requests are
// handled strictly in their order; one that has to wait for another holder's session
// holds up the ones behind it. A malformed, oversized or unknown request gets an error
// reply and costs nothing else. Free of sockets, so that any byte stream can be fed in.

#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "backend/service_protocol.h"
#include "service/board_owner.h"

namespace quelvan::service {

// What the bridges add to the socket's requests; either may be empty.
struct BridgeHooks {
    // Added to the status reply under "mqtt".
    std::function<nlohmann::json()> mqttStatus;
    using ForgetDone = std::function<void(bool ok, const std::string& error, int topics)>;
    std::function<void(const std::string& serial, bool force, ForgetDone done)> forget;
    // The web-token reply: {"enabled": false} while the page is off.
    std::function<nlohmann::json()> webToken;
    // The settings history's requests (history, history-show, restore); `answer` gets
    // {"ok": true, ...} or {"ok": false, "code", "error"}.
    using Answer = std::function<void(nlohmann::json reply)>;
    std::function<void(const std::string& op, const nlohmann::json& request, Answer answer)> history;
    // Added to the status reply under "alarms": every alarm raised now.
    std::function<nlohmann::json()> alarms;
};

class ClientHandler {
public:
    // `send` gets each message with its line break. `clients` tells how many are connected.
    using Sender = std::function<void(const std::string& message)>;
    ClientHandler(BoardOwner& owner, Sender send, std::function<int()> clients = {},
                  const BridgeHooks* hooks = nullptr);
    ~ClientHandler();
    ClientHandler(const ClientHandler&) = delete;
    ClientHandler& operator=(const ClientHandler&) = delete;

    void Feed(const char* data, std::size_t size);
    // The owner's device set changed: an event, once the client has said hello.
    void DevicesChanged();

    HolderId Holder() const { return holder_; }
    // Requests waiting behind the one in progress (bounded).
    std::size_t Queued() const { return queue_.size(); }
    static constexpr std::size_t kMaxQueued = 64;

private:
    void Pump();
    void Handle(const std::string& line);
    void Send(const nlohmann::json& message);
    void Reply(const nlohmann::json& id, nlohmann::json body = nlohmann::json::object());
    void Error(const nlohmann::json& id, std::string_view code, const std::string& text);
    // get, set and begin: they wait for the device when someone else has it.
    void OnDevice(const nlohmann::json& id, const std::string& op, const std::string& device,
                  std::vector<std::uint8_t> data);
    nlohmann::json ListReply() const;
    nlohmann::json StatusReply() const;
    void Forget(const nlohmann::json& id, const nlohmann::json& request);
    void History(const nlohmann::json& id, const std::string& op, const nlohmann::json& request);

    BoardOwner& owner_;
    Sender send_;
    std::function<int()> clients_;
    const BridgeHooks* hooks_;
    // Outlives nothing: a bridge's late answer finds out whether this client is still there.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    HolderId holder_;
    wire::LineSplitter splitter_;
    std::deque<wire::LineSplitter::Line> queue_;
    std::set<std::string> sessions_;
    bool hello_ = false;
    bool waiting_ = false;
    bool pumping_ = false;
};

}  // namespace quelvan::service
