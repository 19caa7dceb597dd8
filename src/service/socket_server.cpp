#include "service/socket_server.h"

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDateTime>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

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
    if (listenFd_ >= 0) {
        delete notifier_;
        ::close(listenFd_);
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
        // Under the unit the socket has the group already (and chown is not among the
        // system calls the unit allows).
        struct stat made {};
        if ((::stat(path.c_str(), &made) == 0 && made.st_gid == g->gr_gid) ||
            ::chown(path.c_str(), static_cast<uid_t>(-1), g->gr_gid) == 0)
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
    listenFd_ = fd;
    path_ = path;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SocketServer::Accept);
    return true;
}

void SocketServer::Accept() {
    // A bounded number per wake-up, so that a crowd at the door does not starve the boards.
    for (int i = 0; i < 64; ++i) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            Serve(fd);
            continue;
        }
        switch (errno) {
            case EAGAIN:
#if EAGAIN != EWOULDBLOCK
            case EWOULDBLOCK:
#endif
                return;
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                continue;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM: {
                // Temporary: the connection waits in the backlog until a descriptor is free.
                const std::string why = Reason();
                notifier_->setEnabled(false);
                QTimer::singleShot(kPauseWhenOutOfFilesMs, this, [this] {
                    if (notifier_) notifier_->setEnabled(true);
                });
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                if (lastPauseLogMs_ < 0 || now - lastPauseLogMs_ >= 60'000) {
                    lastPauseLogMs_ = now;
                    LogWarning("cannot accept clients for a moment: " + why + " (" + std::to_string(ClientCount()) +
                               " connected)");
                }
                return;
            }
            default: {
                const std::string why = "the socket " + path_ + " is lost: " + Reason();
                notifier_->setEnabled(false);
                emit Lost(QString::fromStdString(why));
                return;
            }
        }
    }
}

void SocketServer::Refuse(int fd, std::string_view code, const std::string& why) {
    const std::string refusal =
        nlohmann::json{{"id", nullptr}, {"ok", false}, {"code", code}, {"error", why}}.dump() + "\n";
    // One try, never waiting: a refused client gets its reason where the socket takes it.
    [[maybe_unused]] const auto sent = ::send(fd, refusal.data(), refusal.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(fd);
}

void SocketServer::Serve(int fd) {
    const auto peer = PeerOf(fd);
    if (!peer || !PeerAllowed(*peer, identity_)) {
        LogWarning(peer ? "refused a client of user " + std::to_string(peer->uid) + " (process " +
                              std::to_string(peer->pid) + ")"
                        : "refused a client whose credentials cannot be read");
        Refuse(fd, wire::kDenied, "not allowed: root, the service's user and group only");
        return;
    }
    if (ClientCount() >= kMaxClients) {
        Refuse(fd, wire::kBusy,
               "the service serves " + std::to_string(kMaxClients) + " clients already; try again later");
        return;
    }
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite)) {
        ::close(fd);
        delete socket;
        return;
    }
    auto client = std::make_unique<Client>();
    client->socket = socket;
    // One log line for a client that stops reading, however many replies are still to come.
    auto dropping = std::make_shared<bool>(false);
    client->handler = std::make_unique<ClientHandler>(
        owner_,
        [this, socket, dropping](const std::string& message) {
            if (*dropping) return;
            socket->write(message.data(), static_cast<qint64>(message.size()));
            if (socket->bytesToWrite() > kMaxUnsentBytes) {
                *dropping = true;
                LogWarning("dropped a client that reads none of its replies");
                QMetaObject::invokeMethod(
                    this, [this, socket] { Drop(socket); }, Qt::QueuedConnection);
            }
        },
        [this] { return ClientCount(); }, &hooks_);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, dropping] {
        if (*dropping) return;
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
