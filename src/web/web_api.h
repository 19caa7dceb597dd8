#pragma once
// quelvand's JSON API on the boards the owner holds, free of HTTP: the web server hands over
// a request's method, its path below /api/ and its body, and sends back the status and the
// JSON this answers with (docs/web-api.md). The names and units are quelvanctl --json's.
//
// A request is checked completely before a board is touched: an unknown path, a body that is
// not a JSON object, an unknown key, a value out of range or an unknown name is refused
// (404, 400) without a transfer. Every write runs in a session of the owner on records read
// afresh in it, so nothing is written that was not just read whole; it is answered once the
// owner has read the board back.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "service/board_owner.h"

namespace quelvan::service {

struct WebReply {
    int status = 200;
    nlohmann::json body;  // errors: {"ok": false, "error": "..."}
    std::string allow;    // with 405: the methods the path takes
};

class WebApi {
public:
    explicit WebApi(BoardOwner& owner);
    ~WebApi();
    WebApi(const WebApi&) = delete;
    WebApi& operator=(const WebApi&) = delete;

    using Answer = std::function<void(WebReply reply)>;
    // `path`: the decoded segments after /api/. `answer` runs exactly once, at once or after
    // a wait for the board, unless this API is destroyed first.
    void Handle(const std::string& method, const std::vector<std::string>& path, const std::string& body,
                Answer answer);

    // What GET /api/boards answers.
    nlohmann::json BoardsJson() const;
    // A board's status as GET …/status answers it; nullopt until it has been read whole.
    std::optional<nlohmann::json> StatusOf(const HeldDevice& board) const;
    // The day from the sun a board runs, added to its status as "sun" (daemon/sun_keeper.h):
    // none for a board that does not follow it; unset: none at all.
    std::function<std::optional<nlohmann::json>(const std::string& serial)> sun;

    // The longest body a request may carry; the largest one needed is a day-program entry.
    static constexpr std::size_t kMaxBodyBytes = 4096;

    struct Call;

private:
    using Work = std::function<std::optional<WebReply>(BoardProtocol& board)>;
    using Success = std::function<WebReply(const HeldDevice& board)>;
    // Runs `work` in a session; it returns a reply only when it refuses or fails.
    void Write(const Call& call, Work work, Success success);
    WebReply StatusReply(const HeldDevice& board) const;
    Success StatusSuccess() const;

    void Boards(const Call& call);
    void Status(const Call& call);
    void Config(const Call& call);
    void Weather(const Call& call);
    void Schedule(const Call& call);
    void SetWeather(const Call& call);
    void SetEntry(const Call& call);
    void SetChannel(const Call& call);
    void SetMode(const Call& call);
    void SyncClock(const Call& call);
    void SaveEeprom(const Call& call);

    BoardOwner& owner_;
    // Answers that come after the API is gone are dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quelvan::service
