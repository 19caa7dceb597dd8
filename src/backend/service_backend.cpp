#include "backend/service_backend.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

#include "backend/service_protocol.h"

namespace quelvan {

namespace {

using nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

std::u16string FromUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        char32_t code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
        bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

template <typename T>
std::optional<T> Number(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_number_integer()) return std::nullopt;
    const long long value = it->get<long long>();
    if (value < static_cast<long long>(std::numeric_limits<T>::min()) ||
        value > static_cast<long long>(std::numeric_limits<T>::max()))
        return std::nullopt;
    return static_cast<T>(value);
}

std::optional<std::string> Text(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// A reply is a success only with "ok" the boolean true: a service (or anything else on the
// socket) that sends another type must not throw inside the client.
bool Succeeded(const json& reply) {
    const auto ok = reply.find("ok");
    return ok != reply.end() && ok->is_boolean() && ok->get<bool>();
}

// A long-lived client's pause between attempts to reach a service that went away.
constexpr int kRetrySeconds = 2;

// A connected socket to `path`, or -1 with the reason in `why`.
int ConnectSocket(const std::string& path, std::string* why) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        if (why) *why = "the socket path is too long: " + path;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (why) *why = "no service answers on " + path + " (" + std::strerror(errno) + ")";
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct ServiceBackend::Connection {
    int fd = -1;
    int eventFd = -1;
    int epollFd = -1;
    int retryFd = -1;  // a long-lived client's reconnect timer while the service is away
    bool reconnecting = false;
    std::string path;
    Options options;
    wire::LineSplitter splitter{wire::kMaxMessageBytes};
    std::int64_t nextId = 1;
    bool changePending = false;
    std::map<std::string, std::optional<json>> strings;

    ~Connection() {
        if (fd >= 0) ::close(fd);
        if (eventFd >= 0) ::close(eventFd);
        if (epollFd >= 0) ::close(epollFd);
        if (retryFd >= 0) ::close(retryFd);
    }

    bool Broken() const { return fd < 0; }

    void Signal() {
        changePending = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(eventFd, &one, sizeof one);
    }

    // Out of step with the service (it went, or answered nonsense): the devices are gone.
    // A long-lived client tries to reach the service again every few seconds, so that a
    // restarted service (an upgrade, a crash) brings its boards back by itself.
    void Break() {
        if (fd < 0) return;
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        fd = -1;
        if (reconnecting) return;
        Signal();
        if (options.sessions == Sessions::OnDemand) ArmRetry(true);
    }

    void ArmRetry(bool on) {
        if (retryFd < 0) {
            if (!on) return;
            retryFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
            if (retryFd < 0) return;
            epoll_event watch{};
            watch.events = EPOLLIN;
            ::epoll_ctl(epollFd, EPOLL_CTL_ADD, retryFd, &watch);
        }
        itimerspec period{};
        if (on) period.it_interval.tv_sec = period.it_value.tv_sec = kRetrySeconds;
        ::timerfd_settime(retryFd, 0, &period, nullptr);
    }

    // Called when the retry timer fired: the devices change only when the service answers.
    void Reconnect() {
        std::uint64_t expirations = 0;
        if (retryFd < 0 || ::read(retryFd, &expirations, sizeof expirations) <= 0 || !Broken()) return;
        const int socket = ConnectSocket(path, nullptr);
        if (socket < 0) return;
        fd = socket;
        splitter = wire::LineSplitter{wire::kMaxMessageBytes};
        strings.clear();
        epoll_event watch{};
        watch.events = EPOLLIN;
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &watch);
        reconnecting = true;
        const auto reply = Request(Hello());
        reconnecting = false;
        if (!reply || !Succeeded(*reply)) {
            Break();
            return;
        }
        ArmRetry(false);
        Signal();
    }

    json Hello() const { return {{"op", wire::kHello}, {"version", wire::kVersion}, {"client", options.client}}; }

    bool WriteAll(const std::string& text, SteadyClock::time_point deadline) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(POLLOUT, deadline)) continue;
            return false;
        }
        return true;
    }

    bool WaitFor(short events, SteadyClock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd, events, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready > 0) return true;
            if (ready < 0 && errno == EINTR) continue;
            return false;
        }
    }

    // Reads what is there (waiting until the deadline for something when `wait`); false
    // when the connection ended.
    bool ReadSome(bool wait, SteadyClock::time_point deadline) {
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                splitter.Feed(buffer, static_cast<std::size_t>(n));
                return true;
            }
            if (n == 0) return false;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            if (!wait) return true;
            if (!WaitFor(POLLIN, deadline)) return false;
        }
    }

    // Takes every line read so far: events are noted (also those that came behind the
    // reply, in the same read); the reply with `id` is returned.
    std::optional<json> TakeLines(std::int64_t id, bool& broken) {
        std::optional<json> found;
        while (auto line = splitter.Next()) {
            json message = line->tooLong ? json() : json::parse(line->text, nullptr, false);
            if (!message.is_object()) {
                broken = true;
                return found;
            }
            if (message.contains("event")) {
                Signal();
                continue;
            }
            const auto replyId = Number<std::int64_t>(message, "id");
            if (replyId && *replyId == id && id != 0) {
                found = std::move(message);
            } else if (!replyId) {
                // The service could not tell which request it answers (a refused peer): the
                // one asked now; then the talk ends.
                broken = true;
                if (id != 0 && !found) found = std::move(message);
                return found;
            }
        }
        return found;
    }

    // One request and its reply; nullopt when the connection is (or becomes) unusable.
    std::optional<json> Request(json request) {
        if (Broken()) return std::nullopt;
        const std::int64_t id = nextId++;
        request["id"] = id;
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(options.replyTimeoutMs);
        if (!WriteAll(request.dump() + "\n", deadline)) {
            Break();
            return std::nullopt;
        }
        for (;;) {
            bool broken = false;
            auto reply = TakeLines(id, broken);
            if (broken) Break();
            if (reply) return reply;
            if (broken || !ReadSome(true, deadline)) {
                Break();
                return std::nullopt;
            }
        }
    }

    // A reply with "ok": true, or nullopt.
    std::optional<json> Ask(json request) {
        auto reply = Request(std::move(request));
        if (!reply) return std::nullopt;
        if (!Succeeded(*reply)) return std::nullopt;
        return reply;
    }
};

namespace {

class ServiceHandle final : public HidHandle {
public:
    ServiceHandle(std::shared_ptr<ServiceBackend::Connection> connection, std::string device, bool shared,
                  bool holdsSession)
        : connection_(std::move(connection)), device_(std::move(device)), shared_(shared), holding_(holdsSession) {}

    ~ServiceHandle() override {
        if (holding_ || depth_ > 0) connection_->Request({{"op", wire::kEnd}, {"device", device_}});
    }

    bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
        const auto reply = Transfer(wire::kGet, buffer, length);
        if (!reply) return false;
        const auto data = Text(*reply, "data");
        const auto bytes = data ? wire::FromHex(*data) : std::nullopt;
        // Exactly the length asked for; anything else is a failed attempt.
        if (!bytes || bytes->size() != length) return false;
        std::memcpy(buffer, bytes->data(), length);
        return true;
    }

    bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
        return Transfer(wire::kSet, buffer, length).has_value();
    }

    bool Shared() const override { return shared_; }

    bool BeginExclusive() override {
        if (!shared_) return true;
        if (depth_ == 0 && !connection_->Ask({{"op", wire::kBegin}, {"device", device_}})) return false;
        ++depth_;
        return true;
    }

    void EndExclusive() override {
        if (!shared_ || depth_ == 0) return;
        if (--depth_ == 0) connection_->Request({{"op", wire::kEnd}, {"device", device_}});
    }

    void AnnounceImport() override {
        // Only a held device: the service keeps the settings from before the import's first
        // write. A service too old to know the request refuses it, and the import goes on.
        if (holding_ || depth_ > 0) connection_->Request({{"op", wire::kImporting}, {"device", device_}});
    }

private:
    std::optional<json> Transfer(std::string_view op, const std::uint8_t* buffer, std::size_t length) {
        if (length == 0 || length > wire::kMaxReportBytes) return std::nullopt;
        return connection_->Ask({{"op", op}, {"device", device_}, {"data", wire::ToHex(buffer, length)}});
    }

    std::shared_ptr<ServiceBackend::Connection> connection_;
    std::string device_;
    bool shared_;
    bool holding_;
    int depth_ = 0;
};

}  // namespace

ServiceBackend::ServiceBackend(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

ServiceBackend::~ServiceBackend() = default;

std::unique_ptr<ServiceBackend> ServiceBackend::Connect(const std::vector<std::string>& paths, const Options& options,
                                                        std::string* error) {
    std::string why = "no socket to try";
    for (const std::string& path : paths) {
        const int fd = ConnectSocket(path, &why);
        if (fd < 0) continue;
        if (auto backend = Adopt(fd, path, options, &why)) return backend;
    }
    if (error) *error = why;
    return nullptr;
}

std::unique_ptr<ServiceBackend> ServiceBackend::Adopt(int fd, const std::string& path, const Options& options,
                                                      std::string* error) {
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->path = path;
    connection->options = options;
    connection->eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    connection->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (connection->eventFd < 0 || connection->epollFd < 0) {
        if (error) *error = std::string("cannot watch the connection: ") + std::strerror(errno);
        return nullptr;
    }
    epoll_event watch{};
    watch.events = EPOLLIN;
    ::epoll_ctl(connection->epollFd, EPOLL_CTL_ADD, connection->eventFd, &watch);
    ::epoll_ctl(connection->epollFd, EPOLL_CTL_ADD, fd, &watch);

    const auto reply = connection->Request(connection->Hello());
    if (!reply) {
        if (error) *error = "the service on " + path + " did not answer (or refused this user)";
        return nullptr;
    }
    if (!Succeeded(*reply)) {
        if (error) *error = "the service on " + path + " refused: " + Text(*reply, "error").value_or("no reason given");
        return nullptr;
    }
    connection->changePending = false;
    return std::unique_ptr<ServiceBackend>(new ServiceBackend(std::move(connection)));
}

std::vector<HidInterfaceInfo> ServiceBackend::Enumerate() {
    std::vector<HidInterfaceInfo> list;
    const auto reply = connection_->Ask({{"op", wire::kList}});
    if (!reply || !reply->contains("devices") || !(*reply)["devices"].is_array()) return list;
    for (const json& d : (*reply)["devices"]) {
        if (!d.is_object()) continue;
        const auto device = Text(d, "device");
        const auto path = Text(d, "path");
        const auto vendor = Number<std::uint16_t>(d, "vendor_id");
        const auto product = Number<std::uint16_t>(d, "product_id");
        const auto version = Number<std::uint16_t>(d, "version_number");
        if (!device || !path || !vendor || !product || !version) continue;
        list.push_back({*device, *path, *vendor, *product, *version});
    }
    return list;
}

HidOpenResult ServiceBackend::Open(const HidInterfaceInfo& device) {
    HidOpenResult result;
    const auto reply = connection_->Ask({{"op", wire::kOpen}, {"device", device.identity}});
    if (!reply) {
        result.error = ENODEV;
        return result;
    }
    result.readWrite = reply->value("read_write", false) == true;
    result.error = Number<int>(*reply, "error").value_or(result.readWrite ? 0 : EIO);
    const bool wholeUse = connection_->options.sessions == Sessions::WholeUse;
    bool holding = false;
    if (result.readWrite && wholeUse) {
        holding = connection_->Ask({{"op", wire::kBegin}, {"device", device.identity}}).has_value();
        if (!holding) {
            // Another program kept the device longer than the service lets anyone wait.
            result.readWrite = false;
            result.error = EBUSY;
        }
    }
    result.handle = std::make_unique<ServiceHandle>(connection_, device.identity, !wholeUse, holding);
    return result;
}

std::optional<std::u16string> ServiceBackend::ReadString(const HidInterfaceInfo& device, HidString which) {
    auto& cached = connection_->strings[device.identity];
    if (!cached) cached = connection_->Ask({{"op", wire::kStrings}, {"device", device.identity}});
    if (!cached) return std::nullopt;
    const char* name = which == HidString::Manufacturer ? "manufacturer"
                       : which == HidString::Product    ? "product"
                                                        : "serial";
    const auto text = Text(*cached, name);
    if (!text) return std::nullopt;
    return FromUtf8(*text);
}

int ServiceBackend::ChangeFd() const {
    return connection_->epollFd;
}

bool ServiceBackend::TakeChange() {
    Connection& c = *connection_;
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = ::read(c.eventFd, &count, sizeof count);
    c.Reconnect();
    if (!c.Broken()) {
        bool broken = !c.ReadSome(false, SteadyClock::now());
        c.TakeLines(0, broken);
        if (broken) c.Break();
        // Events just noted were signalled on the descriptor again; take that too.
        [[maybe_unused]] const auto again = ::read(c.eventFd, &count, sizeof count);
    }
    const bool changed = c.changePending;
    c.changePending = false;
    return changed;
}

std::string ServiceBackend::Problem() const {
    return {};
}

const std::string& ServiceBackend::SocketPath() const {
    return connection_->path;
}

bool ServiceBackend::Connected() const {
    return !connection_->Broken();
}

std::optional<std::string> ServiceBackend::StatusJson() {
    const auto reply = connection_->Ask({{"op", wire::kStatus}});
    if (!reply) return std::nullopt;
    return reply->dump();
}

std::optional<std::string> ServiceBackend::ForgetJson(const std::string& serial, bool force) {
    nlohmann::json request = {{"op", wire::kForget}, {"serial", serial}};
    if (force) request["force"] = true;
    const auto reply = connection_->Request(request);
    if (!reply) return std::nullopt;
    return reply->dump();
}

std::optional<std::string> ServiceBackend::RequestJson(const std::string& request) {
    json message = json::parse(request, nullptr, false);
    if (!message.is_object()) return std::nullopt;
    const auto reply = connection_->Request(std::move(message));
    if (!reply) return std::nullopt;
    return reply->dump();
}

std::optional<std::string> ServiceBackend::WebTokenJson() {
    const auto reply = connection_->Request({{"op", wire::kWebToken}});
    if (!reply) return std::nullopt;
    return reply->dump();
}

}  // namespace quelvan
