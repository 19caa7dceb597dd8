#include "web/web_guard.h"

#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>

namespace quelvan::service {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

HeadCheck Refused(int status, const char* reason) {
    HeadCheck check;
    check.state = HeadCheck::State::Refused;
    check.status = status;
    check.reason = reason;
    return check;
}

}  // namespace

HeadCheck CheckRequestHead(std::string_view bytes, std::size_t maxBodyBytes) {
    // Empty lines before a request are allowed and skipped.
    std::size_t start = 0;
    while (start < bytes.size() && (bytes[start] == '\r' || bytes[start] == '\n')) ++start;
    const std::size_t crlf = bytes.find("\r\n\r\n", start), lf = bytes.find("\n\n", start);
    const std::size_t end =
        std::min(crlf == std::string_view::npos ? crlf : crlf + 4, lf == std::string_view::npos ? lf : lf + 2);
    if (end == std::string_view::npos || end > kMaxHeadBytes) {
        if (bytes.size() > kMaxHeadBytes) return Refused(431, "the request's head is too long");
        return {};
    }
    const std::string_view head = bytes.substr(start, end - start);
    std::size_t lineEnd = head.find('\n');
    const std::string_view requestLine = Trim(head.substr(0, lineEnd));
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (requestLine.find(' ') == std::string_view::npos || lastSpace == std::string_view::npos)
        return Refused(400, "not an HTTP request");
    const std::string_view version = requestLine.substr(lastSpace + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Refused(505, "HTTP/1.0 or HTTP/1.1 only");

    std::optional<std::size_t> length;
    while (lineEnd != std::string_view::npos && lineEnd + 1 < head.size()) {
        const std::size_t next = head.find('\n', lineEnd + 1);
        const std::string_view line = Trim(head.substr(lineEnd + 1, next - lineEnd - 1));
        lineEnd = next;
        if (line.empty()) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return Refused(400, "a header line without a colon");
        const std::string_view name = line.substr(0, colon), value = Trim(line.substr(colon + 1));
        if (SameName(name, "transfer-encoding")) return Refused(411, "a body needs a Content-Length");
        if (SameName(name, "upgrade")) return Refused(400, "no other protocol is spoken here");
        if (SameName(name, "content-length")) {
            std::size_t number = 0;
            const auto [ptr, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (value.empty() || error != std::errc() || ptr != value.data() + value.size() ||
                (length && *length != number))
                return Refused(400, "an unusable Content-Length");
            length = number;
        }
    }
    if (length && *length > maxBodyBytes) return Refused(413, "the request's body is too large");
    HeadCheck check;
    check.state = HeadCheck::State::Complete;
    check.headBytes = end;
    check.bodyBytes = length.value_or(0);
    return check;
}

GuardedTcpServer::GuardedTcpServer(std::size_t maxBodyBytes, int maxConnections, QObject* parent)
    : QTcpServer(parent), maxBodyBytes_(maxBodyBytes), maxConnections_(maxConnections) {}

void GuardedTcpServer::incomingConnection(qintptr handle) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (*open_ >= maxConnections_) {
        socket->write(
            HttpResponse(503, "application/json", R"({"ok":false,"error":"too many connections"})", {}, true));
        socket->disconnectFromHost();
        return;
    }
    new ConnectionGuard(socket, maxBodyBytes_, open_);
    addPendingConnection(socket);
}

ConnectionGuard::ConnectionGuard(QTcpSocket* socket, std::size_t maxBodyBytes, std::shared_ptr<int> open)
    : QObject(socket),
      socket_(socket),
      maxBodyBytes_(maxBodyBytes),
      open_(std::move(open)),
      deadline_(new QTimer(this)) {
    ++*open_;
    setObjectName("quelvan-connection-guard");
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] {
        if (!stream_) socket_->abort();
    });
    connect(socket_, &QTcpSocket::readyRead, this, &ConnectionGuard::OnReadyRead);
    deadline_->start(kRequestMs);
}

ConnectionGuard::~ConnectionGuard() {
    --*open_;
}

ConnectionGuard* ConnectionGuard::Of(QTcpSocket* socket) {
    return socket ? socket->findChild<ConnectionGuard*>("quelvan-connection-guard", Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void ConnectionGuard::BecomeStream() {
    stream_ = true;
    deadline_->stop();
}

void ConnectionGuard::OnReadyRead() {
    if (refused_ || stream_) {
        // Nothing more is a request: the server must not answer into the stream.
        socket_->readAll();
        return;
    }
    const QByteArray data = socket_->peek(socket_->bytesAvailable());
    qsizetype at = 0;
    while (at < data.size()) {
        if (bodyRemaining_ > 0) {
            const auto take = std::min<std::size_t>(bodyRemaining_, static_cast<std::size_t>(data.size() - at));
            at += static_cast<qsizetype>(take);
            bodyRemaining_ -= take;
            if (bodyRemaining_ == 0) deadline_->start(kIdleMs);
            continue;
        }
        if (head_.isEmpty()) deadline_->start(kRequestMs);
        const qsizetype before = head_.size();
        const qsizetype room = static_cast<qsizetype>(kMaxHeadBytes) + 1 - before;
        head_.append(data.mid(at, room));
        const HeadCheck check = CheckRequestHead(
            std::string_view(head_.constData(), static_cast<std::size_t>(head_.size())), maxBodyBytes_);
        if (check.state == HeadCheck::State::Refused) return Refuse(check.status, check.reason);
        if (check.state == HeadCheck::State::NeedMore) {
            at = data.size();
            break;
        }
        at += static_cast<qsizetype>(check.headBytes) - before;
        head_.clear();
        bodyRemaining_ = check.bodyBytes;
        if (bodyRemaining_ == 0) deadline_->start(kIdleMs);
    }
}

void ConnectionGuard::Refuse(int status, const char* reason) {
    refused_ = true;
    socket_->readAll();
    const QByteArray body = QByteArray(R"({"ok":false,"error":")") + reason + "\"}";
    socket_->write(HttpResponse(status, "application/json", body, {}, true));
    socket_->disconnectFromHost();
}

const char* HttpReason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 422:
            return "Unprocessable Entity";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Error";
    }
}

QByteArray HttpResponse(int status, const QByteArray& contentType, const QByteArray& body,
                        const QList<QPair<QByteArray, QByteArray>>& headers, bool close) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " " + HttpReason(status) + "\r\n";
    out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
    if (close) out += "Connection: close\r\n";
    return out + "\r\n" + body;
}

}  // namespace quelvan::service
