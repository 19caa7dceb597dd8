#include "web/web_server.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <QtHttpServer/QHttpServerRequest>
#include <algorithm>

#include "service/service_log.h"
#include "web/web_guard.h"
#include "web/web_token.h"

// The page lives in a static library, whose resources the linker drops unless asked for.
static void InitWebResources() {
    Q_INIT_RESOURCE(web);
}

namespace quelvan::service {

struct WebServer::Pending {
    QPointer<QTcpSocket> socket;
    QString address;
    std::string method;
    QString path;
    QByteArray authorization;
    std::string body;
    bool close = false;
};

namespace {

// An event stream whose reader has fallen this far behind is cut off.
constexpr qint64 kMaxStreamBacklog = 1 << 20;
// Wrong tokens are forgotten after this long without another.
constexpr qint64 kPenaltyMemoryMs = 10 * 60 * 1000;

QByteArray Header(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return {};
}

std::string MethodName(QHttpServerRequest::Method method) {
    switch (method) {
        case QHttpServerRequest::Method::Get:
            return "GET";
        case QHttpServerRequest::Method::Post:
            return "POST";
        case QHttpServerRequest::Method::Head:
            return "HEAD";
        case QHttpServerRequest::Method::Put:
            return "PUT";
        case QHttpServerRequest::Method::Delete:
            return "DELETE";
        case QHttpServerRequest::Method::Options:
            return "OPTIONS";
        case QHttpServerRequest::Method::Patch:
            return "PATCH";
        default:
            return "OTHER";
    }
}

// The page is one file with its own script and style; it may talk to this server only.
const QList<QPair<QByteArray, QByteArray>> kPageHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
     "img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    {"Referrer-Policy", "no-referrer"},
    {"X-Frame-Options", "DENY"},
};

void Write(QTcpSocket* socket, const QByteArray& response, bool close) {
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) return;
    socket->write(response);
    if (close) socket->disconnectFromHost();
}

QByteArray JsonResponse(int status, const nlohmann::json& body, bool close,
                        QList<QPair<QByteArray, QByteArray>> headers = {}) {
    return HttpResponse(status, "application/json", QByteArray::fromStdString(body.dump()), headers, close);
}

}  // namespace

WebServer::WebServer(BoardOwner& owner, WebServerOptions options, QObject* parent)
    : QAbstractHttpServer(parent), owner_(owner), options_(options), api_(owner) {
    InitWebResources();
    connect(&owner_, &BoardOwner::StateChanged, this, &WebServer::OnStateChanged);
    connect(&owner_, &BoardOwner::DevicesChanged, this, [this] { SendToStreams(BoardsEvent()); });
}

WebServer::~WebServer() {
    for (const QPointer<QTcpSocket>& s : streams_)
        if (s) s->abort();
}

bool WebServer::Start(const WebSection& settings, std::string* error) {
    const std::string path = settings.tokenFile.empty() ? DefaultWebTokenPath() : settings.tokenFile;
    const WebTokenOutcome token = LoadOrCreateWebToken(path);
    if (token.token.empty()) {
        *error = token.error + "; the web page is not served without a token";
        return false;
    }
    if (token.created) LogInfo("made a new web token in " + path + " (quelvanctl service web-token shows it)");
    return StartWithToken(settings, token.token, error);
}

bool WebServer::StartWithToken(const WebSection& settings, const std::string& token, std::string* error) {
    if (token.size() < kMinWebTokenLength) {
        *error = "no usable web token; the web page is not served without one";
        return false;
    }
    token_ = token;
    tcp_ = new GuardedTcpServer(WebApi::kMaxBodyBytes, options_.maxConnections, this);
    const QHostAddress address(QString::fromStdString(settings.listen));
    if (!tcp_->listen(address, static_cast<quint16>(settings.port))) {
        *error = "cannot listen on " + settings.listen + " port " + std::to_string(settings.port) + ": " +
                 tcp_->errorString().toStdString();
        delete tcp_;
        tcp_ = nullptr;
        return false;
    }
    bind(tcp_);
    WebSection actual = settings;
    actual.port = tcp_->serverPort();
    url_ = WebPageUrl(actual);
    LogInfo("web page on " + url_);
    if (!WebListensOnLoopback(settings))
        LogWarning("the web page listens on " + settings.listen +
                   ", beyond this computer, in plain HTTP: put a reverse proxy with TLS in front of it");
    return true;
}

quint16 WebServer::Port() const {
    return tcp_ ? tcp_->serverPort() : 0;
}

nlohmann::json WebServer::TokenReply() const {
    return {{"enabled", true}, {"url", url_}, {"token", token_}};
}

int WebServer::Streams() const {
    return static_cast<int>(std::count_if(streams_.begin(), streams_.end(), [](const auto& s) { return !s.isNull(); }));
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QString path = request.url().path();
    const std::string method = MethodName(request.method());
    const bool close = Header(request, "connection").compare("close", Qt::CaseInsensitive) == 0;
    if (!path.startsWith("/api/")) {
        if (path != "/" && path != "/index.html") {
            Write(socket, JsonResponse(404, {{"ok", false}, {"error", "no such page"}}, close), close);
        } else if (method != "GET") {
            Write(socket,
                  JsonResponse(405, {{"ok", false}, {"error", "the page takes GET"}}, close, {{"Allow", "GET"}}),
                  close);
        } else {
            static const QByteArray page = [] {
                QFile file(":/quelvan/web/index.html");
                return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            }();
            Write(socket, HttpResponse(200, "text/html; charset=utf-8", page, kPageHeaders, close), close);
        }
        return true;
    }
    Pending pending{socket,      request.remoteAddress().toString(), method,
                    path.mid(5), Header(request, "authorization"),   request.body().toStdString(),
                    close};
    Admit(std::move(pending));
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest&, QTcpSocket* socket) {
    Write(socket, JsonResponse(404, {{"ok", false}, {"error", "no such page"}}, false), false);
}

void WebServer::Admit(Pending pending) {
    // Addresses that tried wrong tokens long ago are forgotten, so that many cannot fill memory.
    if (penalties_.size() > 1024 && !penalties_.contains(pending.address))
        penalties_.removeIf([](const auto& entry) {
            return entry.value().waiting == 0 && entry.value().since.elapsed() > kPenaltyMemoryMs;
        });
    Penalty& penalty = penalties_[pending.address];
    if (penalty.failures > 0 && penalty.since.elapsed() > kPenaltyMemoryMs) penalty = Penalty{};
    const qint64 left = penalty.failures > 0 ? penalty.waitMs - penalty.since.elapsed() : 0;
    if (left <= 0) return Serve(pending);
    if (penalty.waiting >= options_.maxWaitingPerAddress) {
        Write(pending.socket,
              JsonResponse(429, {{"ok", false}, {"error", "too many requests after wrong tokens"}}, pending.close),
              pending.close);
        return;
    }
    ++penalty.waiting;
    QTimer::singleShot(static_cast<int>(left), this, [this, pending] {
        if (auto it = penalties_.find(pending.address); it != penalties_.end()) --it->waiting;
        Admit(pending);
    });
}

void WebServer::Serve(const Pending& pending) {
    if (!pending.socket) return;
    const QByteArray prefix = "Bearer ";
    const QByteArray& given = pending.authorization;
    const bool bearer =
        given.size() > prefix.size() && given.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
    const QByteArray token = bearer ? given.mid(prefix.size()).trimmed() : QByteArray();
    if (!bearer ||
        !WebTokensEqual(token_, std::string_view(token.constData(), static_cast<std::size_t>(token.size())))) {
        Penalty& penalty = penalties_[pending.address];
        ++penalty.failures;
        penalty.since.start();
        penalty.waitMs = std::min<qint64>(options_.maxFailureDelayMs,
                                          qint64{options_.failureDelayMs} << std::min(penalty.failures - 1, 16));
        LogWarning("web: " + std::string(bearer ? "a wrong token" : "no token") + " from " +
                   pending.address.toStdString() + " (" + std::to_string(penalty.failures) + " in a row)");
        Write(pending.socket,
              JsonResponse(401,
                           {{"ok", false},
                            {"error", bearer ? "wrong token" : "the API needs the token (Authorization: Bearer)"}},
                           pending.close, {{"WWW-Authenticate", "Bearer"}}),
              pending.close);
        return;
    }
    if (auto it = penalties_.find(pending.address); it != penalties_.end() && it->waiting == 0) penalties_.erase(it);

    std::vector<std::string> segments;
    for (const QString& part : pending.path.split('/')) segments.push_back(part.toStdString());
    if (segments == std::vector<std::string>{"events"}) {
        if (pending.method != "GET")
            return Write(pending.socket,
                         JsonResponse(405, {{"ok", false}, {"error", "this resource takes GET"}}, pending.close,
                                      {{"Allow", "GET"}}),
                         pending.close);
        return OpenStream(pending.socket);
    }
    api_.Handle(pending.method, segments, pending.body,
                [socket = pending.socket, close = pending.close](WebReply reply) {
                    QList<QPair<QByteArray, QByteArray>> headers;
                    if (!reply.allow.empty()) headers.append({"Allow", QByteArray::fromStdString(reply.allow)});
                    Write(socket, JsonResponse(reply.status, reply.body, close, headers), close);
                });
}

void WebServer::OpenStream(QTcpSocket* socket) {
    streams_.erase(std::remove_if(streams_.begin(), streams_.end(), [](const auto& s) { return s.isNull(); }),
                   streams_.end());
    if (static_cast<int>(streams_.size()) >= options_.maxStreams)
        return Write(socket, JsonResponse(503, {{"ok", false}, {"error", "too many event streams"}}, true), true);
    if (ConnectionGuard* guard = ConnectionGuard::Of(socket)) guard->BecomeStream();
    // Without a length the stream lasts until the connection closes.
    QByteArray head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\nretry: 3000\n\n";
    head += BoardsEvent();
    head += AlarmsEvent();
    for (const HeldDevice* d : owner_.Devices())
        if (d->role == DeviceRole::Board) head += StatusEvent(*d);
    socket->write(head);
    streams_.emplace_back(socket);
}

void WebServer::SendToStreams(const QByteArray& event) {
    if (event.isEmpty()) return;
    for (QPointer<QTcpSocket>& s : streams_) {
        if (!s) continue;
        if (s->bytesToWrite() > kMaxStreamBacklog) {
            s->abort();
            continue;
        }
        s->write(event);
    }
}

QByteArray WebServer::StatusEvent(const HeldDevice& board) const {
    const std::optional<nlohmann::json> status = WebApi::StatusOf(board);
    if (!status) return {};
    const nlohmann::json data = {{"serial", board.serial}, {"status", *status}};
    return "event: status\ndata: " + QByteArray::fromStdString(data.dump()) + "\n\n";
}

QByteArray WebServer::BoardsEvent() const {
    return "event: boards\ndata: " + QByteArray::fromStdString(api_.BoardsJson().dump()) + "\n\n";
}

QByteArray WebServer::AlarmsEvent() const {
    if (!alarms) return {};
    const nlohmann::json data = {{"alarms", alarms()}};
    return "event: alarms\ndata: " + QByteArray::fromStdString(data.dump()) + "\n\n";
}

void WebServer::AlarmsChanged() {
    SendToStreams(AlarmsEvent());
}

void WebServer::OnStateChanged(const QString& device) {
    if (streams_.empty()) return;
    if (const HeldDevice* board = owner_.Find(device.toStdString()); board && board->role == DeviceRole::Board)
        SendToStreams(StatusEvent(*board));
}

}  // namespace quelvan::service
