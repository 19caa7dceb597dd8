#pragma once
// The local socket between quelvand and its clients, as both ends see it.
//
// Newline-delimited JSON: one message a line, at most kMaxMessageBytes each. A request is
// an object with an "id" (a number the client chooses) and an "op"; its reply repeats the
// id with "ok": true and the results, or "ok": false with an "error" text and a "code".
// Between replies the service sends events, objects with an "event" name and no id.
// Report buffers travel as lower-case hex, byte 0 being the report ID, unchanged both ways.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvan::wire {

constexpr int kVersion = 1;
constexpr std::size_t kMaxMessageBytes = 16 * 1024;
// The longest report buffer a request may carry (the longest HID report there is).
constexpr std::size_t kMaxReportBytes = 4096;

// Operations.
inline constexpr std::string_view kHello = "hello";
inline constexpr std::string_view kList = "list";
inline constexpr std::string_view kStrings = "strings";
inline constexpr std::string_view kOpen = "open";
inline constexpr std::string_view kGet = "get";
inline constexpr std::string_view kSet = "set";
inline constexpr std::string_view kBegin = "begin";
inline constexpr std::string_view kEnd = "end";
inline constexpr std::string_view kStatus = "status";
// Removes a board that is gone for good from Home Assistant ("serial"); the service's MQTT
// bridge does it, with the broker and credentials only the service knows.
inline constexpr std::string_view kForget = "forget";
// The web page's address and access token ({"enabled", "url", "token"}). A peer the socket
// lets in may use every board anyway, so the token gives it nothing more; the token file
// itself stays readable by the service's user only.
inline constexpr std::string_view kWebToken = "web-token";
// The settings history quelvand keeps: the entries of a board ("serial", or the only one),
// one entry's file ("entry"), and writing one back ("entry", "part": all, config or table).
inline constexpr std::string_view kHistory = "history";
inline constexpr std::string_view kHistoryShow = "history-show";
inline constexpr std::string_view kRestore = "restore";
// A client is about to import a settings file to a device it holds in a session ("device"):
// the service's history takes the board's settings just before the first write that
// follows. Services that do not know it answer unknown-op, and the import goes ahead all
// the same; a client that never sends it gets no entry from before its import.
inline constexpr std::string_view kImporting = "importing";
// The one event: the set of devices the service holds has changed.
inline constexpr std::string_view kDevicesEvent = "devices";

// Error codes of replies.
inline constexpr std::string_view kBadRequest = "bad-request";
inline constexpr std::string_view kTooLong = "too-long";
inline constexpr std::string_view kUnknownOp = "unknown-op";
inline constexpr std::string_view kVersionMismatch = "version";
inline constexpr std::string_view kHelloFirst = "hello-first";
inline constexpr std::string_view kNoDevice = "no-device";
inline constexpr std::string_view kFailed = "failed";
inline constexpr std::string_view kBusy = "busy";
inline constexpr std::string_view kNoSession = "no-session";
inline constexpr std::string_view kDenied = "denied";
inline constexpr std::string_view kNoBridge = "no-bridge";

std::string ToHex(const std::uint8_t* bytes, std::size_t length);
// Nullopt unless the text is an even number of hex digits (either case).
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text);

// Cuts a byte stream into messages. A message longer than the limit is reported once, as
// too long, and skipped up to its line break, so that one bad message costs only itself.
class LineSplitter {
public:
    explicit LineSplitter(std::size_t limit = kMaxMessageBytes) : limit_(limit) {}

    struct Line {
        std::string text;  // without the line break
        bool tooLong = false;
    };
    void Feed(const char* data, std::size_t size);
    std::optional<Line> Next();
    bool Empty() const { return ready_.empty(); }

private:
    std::size_t limit_;
    std::string partial_;
    bool skipping_ = false;
    std::deque<Line> ready_;
};

// Where clients look for the service: $QUELVAN_SOCKET when set; otherwise the user
// service's socket under $XDG_RUNTIME_DIR, then the system service's.
std::vector<std::string> ClientSocketPaths();
// The socket a service listens on when its configuration names none: the user service's
// under $XDG_RUNTIME_DIR when that is set, else the system service's.
std::string DefaultServiceSocketPath();
inline constexpr std::string_view kSystemSocketPath = "/run/quelvan/quelvand.sock";

}  // namespace quelvan::wire
