#pragma once
// quelvand's Unix socket: made with mode 0660 and, where the group exists, owned by group
// "quelvan"; every connection's peer is checked (peer_access.h) before it is served.

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "service/board_owner.h"
#include "service/client_handler.h"
#include "service/peer_access.h"

class QLocalServer;
class QLocalSocket;

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

private:
    struct Client;
    void Accept();
    void Drop(QLocalSocket* socket);

    BoardOwner& owner_;
    QLocalServer* server_ = nullptr;
    std::string path_;
    ServiceIdentity identity_;
    std::vector<std::unique_ptr<Client>> clients_;
    BridgeHooks hooks_;
};

}  // namespace quelvan::service
