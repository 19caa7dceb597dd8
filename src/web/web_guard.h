#pragma once
// What stands between a TCP connection and Qt's HTTP server, which buffers whatever a client
// sends before it hands a request over. The guard sees every byte first (its slot is
// connected before the server's): it follows the requests' framing, and a request whose head
// is too long, whose announced body is too large or of unknown length is answered at once and
// the connection closed, its bytes never reaching the server. Connections are limited in
// number and in how long a request may take to arrive, so that slow or idle clients cannot
// hold the service's memory or its connection slots.

#include <QObject>
#include <QTcpServer>
#include <memory>
#include <string_view>

class QTcpSocket;
class QTimer;

namespace quelvan::service {

inline constexpr std::size_t kMaxHeadBytes = 8192;

// The verdict on the bytes of one request from its start.
struct HeadCheck {
    enum class State { NeedMore, Complete, Refused } state = State::NeedMore;
    std::size_t headBytes = 0;  // with Complete: the head with its blank line
    std::size_t bodyBytes = 0;  // with Complete: Content-Length
    int status = 0;             // with Refused
    const char* reason = "";
};

HeadCheck CheckRequestHead(std::string_view bytes, std::size_t maxBodyBytes);

// The listening socket: every connection gets its guard before the HTTP server sees it.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    GuardedTcpServer(std::size_t maxBodyBytes, int maxConnections, QObject* parent = nullptr);
    int OpenConnections() const { return *open_; }

protected:
    void incomingConnection(qintptr handle) override;

private:
    std::size_t maxBodyBytes_;
    int maxConnections_;
    std::shared_ptr<int> open_ = std::make_shared<int>(0);
};

class ConnectionGuard : public QObject {
    Q_OBJECT
public:
    // Becomes a child of `socket`; made before anyone else reads it.
    ConnectionGuard(QTcpSocket* socket, std::size_t maxBodyBytes, std::shared_ptr<int> open);
    ~ConnectionGuard() override;
    static ConnectionGuard* Of(QTcpSocket* socket);

    // The connection carries an event stream from now on: it stays open however quiet it is,
    // and nothing more the client sends is taken as a request.
    void BecomeStream();

    static constexpr int kRequestMs = 10'000;  // a request must arrive whole within this
    static constexpr int kIdleMs = 60'000;     // a quiet connection between requests is closed

private:
    void OnReadyRead();
    void Refuse(int status, const char* reason);

    QTcpSocket* socket_;
    std::size_t maxBodyBytes_;
    std::shared_ptr<int> open_;
    QTimer* deadline_;
    QByteArray head_;                // the head of the request arriving now, so far
    std::size_t bodyRemaining_ = 0;  // body bytes of the last complete head still to come
    bool refused_ = false;
    bool stream_ = false;
};

// A whole HTTP/1.1 response.
QByteArray HttpResponse(int status, const QByteArray& contentType, const QByteArray& body,
                        const QList<QPair<QByteArray, QByteArray>>& headers = {}, bool close = false);
const char* HttpReason(int status);

}  // namespace quelvan::service
