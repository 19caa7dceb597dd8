#pragma once
// quelvand's Unix socket: made with mode 0660 and, where the group exists, owned by group
// "quelvan"; every connection's peer is checked (peer_access.h) before it is served.
//
// The server accepts by itself, not through Qt's server class: that one closes the socket
// (and its file) for good when the process runs out of file descriptors. Here clients beyond
// kMaxClients get a "busy" reply and are closed at once; running out of descriptors pauses
// accepting for a moment; any other failure to accept means the socket is lost: Lost() is
// emitted, and the service ends so that its supervisor starts it again.

#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "service/board_owner.h"
#include "service/client_handler.h"
#include "service/peer_access.h"

class QLocalSocket;
class QSocketNotifier;

namespace quelvan::service {

class SocketServer : public QObject {
    Q_OBJECT
public:
    explicit SocketServer(BoardOwner& owner, QObject* parent = nullptr);
    ~SocketServer() override;

    // Creates the socket (and its folder where missing) and listens. A socket file left by
    // a service that has ended is replaced; one that another service answers on is not.
    bool Listen(const std::string& path, std::string* error);
    const std::string& Path() const { return path_; }
    // What the bridges answer through the socket; clients connected later get them.
    void SetBridgeHooks(BridgeHooks hooks) { hooks_ = std::move(hooks); }
    const ServiceIdentity& Identity() const { return identity_; }
    int ClientCount() const { return static_cast<int>(clients_.size()); }

    // A client whose replies pile up unread beyond this is dropped.
    static constexpr qint64 kMaxUnsentBytes = 1 << 20;
    // Connected clients at most; far below the unit's LimitNOFILE and the usual 1024.
    static constexpr int kMaxClients = 256;
    // How long accepting pauses when the process has no file descriptor left.
    static constexpr int kPauseWhenOutOfFilesMs = 200;

signals:
    // Accepting failed in a way that will not mend itself.
    void Lost(const QString& why);

private:
    struct Client;
    void Accept();
    void Serve(int fd);
    void Refuse(int fd, std::string_view code, const std::string& why);
    void Drop(QLocalSocket* socket);

    BoardOwner& owner_;
    int listenFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    qint64 lastPauseLogMs_ = -1;
    std::string path_;
    ServiceIdentity identity_;
    std::vector<std::unique_ptr<Client>> clients_;
    BridgeHooks hooks_;
};

}  // namespace quelvan::service
