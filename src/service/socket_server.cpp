#include "service/socket_server.h"

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "service/client_handler.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

std::string Reason() {
    return std::strerror(errno);
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when a service answers on the socket at `path`.
bool Answers(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

struct SocketServer::Client {
    QLocalSocket* socket = nullptr;
    std::unique_ptr<ClientHandler> handler;
};

SocketServer::SocketServer(BoardOwner& owner, QObject* parent) : QObject(parent), owner_(owner) {
    connect(&owner_, &BoardOwner::DevicesChanged, this, [this] {
        for (const auto& c : clients_) c->handler->DevicesChanged();
    });
}

SocketServer::~SocketServer() {
    clients_.clear();
    if (server_) {
        server_->close();
        if (!path_.empty()) ::unlink(path_.c_str());
    }
}

bool SocketServer::Listen(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    sockaddr_un address;
    if (!FillAddress(path, address)) return fail("the socket path is too long: " + path);

    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return fail("cannot create " + folder.string() + ": " + ec.message());
        ::chmod(folder.c_str(), 0750);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return fail(path + " exists and is not a socket");
        if (Answers(address)) return fail("another service answers on " + path);
        ::unlink(path.c_str());
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return fail("cannot create a socket: " + Reason());
    // Never reachable for others, not even for a moment between bind and chmod.
    const mode_t mask = ::umask(0117);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(mask);
    if (bound != 0) {
        ::close(fd);
        return fail("cannot create the socket " + path + ": " + std::strerror(bindError));
    }
    identity_ = {::getuid(), ::getgid()};
    if (const group* g = ::getgrnam("quelvan")) {
        if (::chown(path.c_str(), static_cast<uid_t>(-1), g->gr_gid) == 0)
            identity_.group = g->gr_gid;
        else
            LogWarning("cannot give the socket to group quelvan: " + Reason());
    }
    ::chmod(path.c_str(), 0660);
    if (::listen(fd, 32) != 0) {
        ::close(fd);
        ::unlink(path.c_str());
        return fail("cannot listen on " + path + ": " + Reason());
    }
    server_ = new QLocalServer(this);
    if (!server_->listen(fd)) {
        ::close(fd);
        ::unlink(path.c_str());
        return fail("cannot listen on " + path + ": " + server_->errorString().toStdString());
    }
    path_ = path;
    connect(server_, &QLocalServer::newConnection, this, &SocketServer::Accept);
    return true;
}

void SocketServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        const auto peer = PeerOf(static_cast<int>(socket->socketDescriptor()));
        if (!peer || !PeerAllowed(*peer, identity_)) {
            LogWarning(peer ? "refused a client of user " + std::to_string(peer->uid) + " (process " +
                                  std::to_string(peer->pid) + ")"
                            : "refused a client whose credentials cannot be read");
            const std::string refusal = std::string(R"({"id":null,"ok":false,"code":")") + std::string(wire::kDenied) +
                                        R"(","error":"not allowed: root, the service's user and group only"})" + "\n";
            socket->write(refusal.data(), static_cast<qint64>(refusal.size()));
            socket->flush();
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (socket->state() == QLocalSocket::UnconnectedState) socket->deleteLater();
            continue;
        }
        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->handler = std::make_unique<ClientHandler>(
            owner_,
            [this, socket](const std::string& message) {
                socket->write(message.data(), static_cast<qint64>(message.size()));
                if (socket->bytesToWrite() > kMaxUnsentBytes) {
                    LogWarning("dropped a client that reads none of its replies");
                    QMetaObject::invokeMethod(
                        this, [this, socket] { Drop(socket); }, Qt::QueuedConnection);
                }
            },
            [this] { return ClientCount(); }, &hooks_);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            for (const auto& c : clients_) {
                if (c->socket != socket) continue;
                const QByteArray bytes = socket->readAll();
                c->handler->Feed(bytes.constData(), static_cast<std::size_t>(bytes.size()));
                return;
            }
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Drop(socket); });
        clients_.push_back(std::move(client));
        // Bytes that came with the connection.
        if (socket->bytesAvailable() > 0) emit socket->readyRead();
    }
}

void SocketServer::Drop(QLocalSocket* socket) {
    const auto it = std::find_if(clients_.begin(), clients_.end(), [&](const auto& c) { return c->socket == socket; });
    if (it == clients_.end()) return;
    // The handler gives up the client's sessions at once.
    std::unique_ptr<Client> client = std::move(*it);
    clients_.erase(it);
    client->handler.reset();
    socket->abort();
    socket->deleteLater();
}

}  // namespace quelvan::service
