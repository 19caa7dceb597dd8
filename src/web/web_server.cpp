#include "web/web_server.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <QtHttpServer/QHttpServerRequest>
#include <algorithm>

#include "schedule/board_json.h"
#include "service/service_log.h"
#include "web/web_guard.h"
#include "web/web_token.h"

// The page lives in a static library, whose resources the linker drops unless asked for.
static void InitWebResources() {
    Q_INIT_RESOURCE(web);
}

namespace quelvan::service {

namespace {

// An event stream whose reader has fallen this far behind is cut off.
constexpr qint64 kMaxStreamBacklog = 1 << 20;
// Event streams carry at least this often a comment, when nothing else.
constexpr int kHeartbeatMs = 5000;

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

// Every answer goes out here, so that the connection's guard knows it: after a pipelined
// request the connection closes. A HEAD request gets the head alone.
void Write(QTcpSocket* socket, QByteArray response, bool close, bool headOnly = false) {
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) return;
    if (ConnectionGuard* guard = ConnectionGuard::Of(socket); guard && guard->Answered() && !close) {
        close = true;
        response.insert(response.indexOf("\r\n") + 2, "Connection: close\r\n");
    }
    if (headOnly) response.truncate(response.indexOf("\r\n\r\n") + 4);
    socket->write(response);
    if (close) socket->disconnectFromHost();
}

QByteArray Error(int status, const char* text, bool close, QList<QPair<QByteArray, QByteArray>> headers = {}) {
    return HttpResponse(status, "application/json",
                        QByteArray::fromStdString(nlohmann::json{{"ok", false}, {"error", text}}.dump()), headers,
                        close);
}

QByteArray JsonResponse(int status, const nlohmann::json& body, bool close,
                        QList<QPair<QByteArray, QByteArray>> headers = {}) {
    return HttpResponse(status, "application/json", QByteArray::fromStdString(body.dump()), headers, close);
}

}  // namespace

WebServer::WebServer(BoardOwner& owner, WebServerOptions options, QObject* parent)
    : QAbstractHttpServer(parent),
      owner_(owner),
      options_(options),
      api_(owner),
      guessTimer_(new QTimer(this)),
      refusalLogTimer_(new QTimer(this)),
      heartbeat_(new QTimer(this)) {
    InitWebResources();
    connect(&owner_, &BoardOwner::StateChanged, this, &WebServer::OnStateChanged);
    connect(&owner_, &BoardOwner::DevicesChanged, this, [this] { SendToStreams(BoardsEvent()); });
    guessTimer_->setInterval(options_.wrongTokenSpacingMs);
    connect(guessTimer_, &QTimer::timeout, this, &WebServer::AnswerGuess);
    // A comment now and then, so that a page can tell a quiet service from a lost connection.
    heartbeat_->setInterval(kHeartbeatMs);
    connect(heartbeat_, &QTimer::timeout, this, [this] {
        SendToStreams(":\n\n");
        if (Streams() == 0) heartbeat_->stop();
    });
    refusalLogTimer_->setInterval(options_.refusalLogMs);
    connect(refusalLogTimer_, &QTimer::timeout, this, [this] {
        if (refusedSinceLog_ == 0) return refusalLogTimer_->stop();
        LogWarning("web: " + std::to_string(refusedSinceLog_) + " requests with a wrong or no token refused in " +
                   std::to_string(options_.refusalLogMs / 1000) + " s, the last from " + lastRefusedFrom_);
        refusedSinceLog_ = 0;
    });
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
    KeepAccepting();
    settings_ = settings;
    settings_.port = tcp_->serverPort();
    url_ = WebPageUrl(settings_);
    linkUrl_ = !settings.publicUrl.empty() ? settings.publicUrl : WebListensOnLoopback(settings) ? "" : url_;
    if (!WebListensOnLoopback(settings))
        LogWarning("the web page listens on " + settings.listen +
                   ", beyond this computer, in plain HTTP: put a reverse proxy with TLS in front of it");
    return true;
}

void WebServer::KeepAccepting() {
    // Qt stops accepting for good when accepting fails; out of file descriptors is temporary.
    connect(tcp_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SocketResourceError || error == QAbstractSocket::TemporaryError ||
            error == QAbstractSocket::NetworkError) {
            QTimer::singleShot(200, tcp_, [server = tcp_] { server->resumeAccepting(); });
            return;
        }
        emit Lost("the web page's port is lost: " + tcp_->errorString());
    });
}

quint16 WebServer::Port() const {
    return tcp_ ? tcp_->serverPort() : 0;
}

nlohmann::json WebServer::TokenReply() const {
    return {{"enabled", true}, {"url", settings_.publicUrl.empty() ? url_ : settings_.publicUrl}, {"token", token_}};
}

int WebServer::Streams() const {
    return static_cast<int>(std::count_if(streams_.begin(), streams_.end(), [](const auto& s) { return !s.isNull(); }));
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    ConnectionGuard* guard = ConnectionGuard::Of(socket);
    if (guard && !guard->TakeRequest()) return true;
    const QString path = request.url().path();
    const bool headOnly = request.method() == QHttpServerRequest::Method::Head;
    const std::string method = headOnly ? "GET" : MethodName(request.method());
    const bool close = Header(request, "connection").compare("close", Qt::CaseInsensitive) == 0;
    if (!WebHostAccepted(settings_, Header(request, "host").toStdString()))
        return Write(socket, Error(421, "this server does not answer for that host name", close), close), true;
    if (!path.startsWith("/api/")) {
        if (path != "/" && path != "/index.html") {
            Write(socket, Error(404, "no such page", close), close, headOnly);
        } else if (method != "GET") {
            Write(socket, Error(405, "the page takes GET", close, {{"Allow", "GET, HEAD"}}), close);
        } else {
            static const QByteArray page = [] {
                QFile file(":/quelvan/web/index.html");
                return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            }();
            Write(socket, HttpResponse(200, "text/html; charset=utf-8", page, kPageHeaders, close), close, headOnly);
        }
        return true;
    }
    Pending pending{
        socket, request.remoteAddress().toString(), method, path.mid(5), request.body().toStdString(), close, headOnly};
    // The token first: the right one is served at once, whatever else is going on.
    const QByteArray prefix = "Bearer ";
    const QByteArray given = Header(request, "authorization");
    const bool bearer =
        given.size() > prefix.size() && given.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
    const QByteArray token = bearer ? given.mid(prefix.size()).trimmed() : QByteArray();
    if (!bearer || !WebTokensEqual(token_, std::string_view(token.constData(), static_cast<std::size_t>(token.size()))))
        return Refuse(std::move(pending)), true;
    if (guard) guard->Authenticated();
    Serve(pending);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest&, QTcpSocket* socket) {
    Write(socket, Error(404, "no such page", false), false);
}

void WebServer::Refuse(Pending pending) {
    ++refusedSinceLog_;
    lastRefusedFrom_ = pending.address.toStdString();
    if (!refusalLogTimer_->isActive()) {
        LogWarning("web: a request with a wrong or no token from " + lastRefusedFrom_ +
                   "; further ones are counted and logged once a minute");
        refusedSinceLog_ = 0;
        refusalLogTimer_->start();
    }
    if (static_cast<int>(guesses_.size()) >= options_.maxWaitingGuesses)
        return Write(pending.socket, Error(429, "too many requests with a wrong token; try again later", true), true);
    guesses_.push_back(std::move(pending));
    if (!guessTimer_->isActive()) guessTimer_->start();
}

void WebServer::AnswerGuess() {
    // One answer per tick; those whose client went away meanwhile cost nothing.
    while (!guesses_.empty()) {
        const Pending pending = std::move(guesses_.front());
        guesses_.pop_front();
        if (!pending.socket || pending.socket->state() != QAbstractSocket::ConnectedState) continue;
        Write(pending.socket,
              Error(401, "wrong token, or none (the API needs Authorization: Bearer and the token)", pending.close,
                    {{"WWW-Authenticate", "Bearer"}}),
              pending.close, pending.headOnly);
        break;
    }
    if (guesses_.empty()) guessTimer_->stop();
}

void WebServer::Serve(const Pending& pending) {
    if (!pending.socket) return;
    std::vector<std::string> segments;
    for (const QString& part : pending.path.split('/')) segments.push_back(part.toStdString());
    if (segments == std::vector<std::string>{"events"}) {
        if (pending.method != "GET")
            return Write(pending.socket, Error(405, "this resource takes GET", pending.close, {{"Allow", "GET"}}),
                         pending.close);
        if (pending.headOnly)
            return Write(pending.socket, HttpResponse(200, "text/event-stream", {}, {}, pending.close), pending.close,
                         true);
        return OpenStream(pending.socket);
    }
    const bool scheduleWrite = pending.method == "POST" && segments.size() == 4 && segments[2] == "schedule";
    api_.Handle(
        pending.method, segments, pending.body,
        [this, alive = QPointer<WebServer>(this), socket = pending.socket, close = pending.close,
         headOnly = pending.headOnly, scheduleWrite, serial = segments.size() > 1 ? segments[1] : ""](WebReply reply) {
            QList<QPair<QByteArray, QByteArray>> headers;
            if (!reply.allow.empty()) headers.append({"Allow", QByteArray::fromStdString(reply.allow)});
            Write(socket, JsonResponse(reply.status, reply.body, close, headers), close, headOnly);
            if (alive && scheduleWrite && reply.status == 200) SendToStreams(ScheduleEvent(serial));
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
    for (const HeldDevice* d : owner_.Devices()) {
        if (d->role != DeviceRole::Board) continue;
        head += StatusEvent(*d);
        head += WeatherEvent(*d);
    }
    socket->write(head);
    streams_.emplace_back(socket);
    if (!heartbeat_->isActive()) heartbeat_->start();
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
    const std::optional<nlohmann::json> status = api_.StatusOf(board);
    if (!status) return {};
    const nlohmann::json data = {{"serial", board.serial}, {"status", *status}};
    return "event: status\ndata: " + QByteArray::fromStdString(data.dump()) + "\n\n";
}

QByteArray WebServer::BoardsEvent() const {
    return "event: boards\ndata: " + QByteArray::fromStdString(api_.BoardsJson().dump()) + "\n\n";
}

QByteArray WebServer::WeatherEvent(const HeldDevice& board) {
    if (!board.configValid) return {};
    const nlohmann::json data = {{"serial", board.serial}, {"weather", WeatherJson(board.config)}};
    QByteArray event = "event: weather\ndata: " + QByteArray::fromStdString(data.dump()) + "\n\n";
    sentWeather_.insert(QString::fromStdString(board.serial), event);
    return event;
}

QByteArray WebServer::ScheduleEvent(const std::string& serial) {
    // The page reads the day program anew: it is not part of what the owner keeps.
    return "event: schedule\ndata: " + QByteArray::fromStdString(nlohmann::json{{"serial", serial}}.dump()) + "\n\n";
}

QByteArray WebServer::AlarmsEvent() const {
    if (!alarms) return {};
    const nlohmann::json data = {{"alarms", alarms()}};
    return "event: alarms\ndata: " + QByteArray::fromStdString(data.dump()) + "\n\n";
}

void WebServer::AlarmsChanged() {
    SendToStreams(AlarmsEvent());
}

void WebServer::SetSunState(std::function<std::optional<nlohmann::json>(const std::string& serial)> state) {
    api_.sun = std::move(state);
}

void WebServer::SunChanged(const std::string& serial) {
    if (const HeldDevice* board = owner_.FindBoard(serial)) SendToStreams(StatusEvent(*board));
}

void WebServer::OnStateChanged(const QString& device) {
    const HeldDevice* board = owner_.Find(device.toStdString());
    if (!board || board->role != DeviceRole::Board) return;
    const QString serial = QString::fromStdString(board->serial);
    const bool scheduleWritten = seenScheduleWrites_.value(serial) != board->scheduleWrites;
    seenScheduleWrites_.insert(serial, board->scheduleWrites);
    if (streams_.empty()) return;
    SendToStreams(StatusEvent(*board));
    const QByteArray before = sentWeather_.value(serial);
    if (const QByteArray weather = WeatherEvent(*board); weather != before) SendToStreams(weather);
    if (scheduleWritten) SendToStreams(ScheduleEvent(board->serial));
}

}  // namespace quelvan::service
