#pragma once
// What stands between a TCP connection and Qt's HTTP server, which buffers whatever a client
// sends before it hands a request over. The guard sees every byte first (its slot is
// connected before the server's): it follows the requests' framing, and a request whose head
// is too long, whose announced body is too large or of unknown length is answered at once and
// the connection closed, its bytes never reaching the server. Connections are limited in
// number and in how long a request may take to arrive, so that slow or idle clients cannot
// hold the service's memory or its connection slots: when every slot is taken, a new
// connection takes the slot of one that has nothing in hand (idle between requests, or with a
// request still arriving), those that never sent the right token first, the longest idle
// first. A request sent before the previous one was answered (pipelining) is not served: the
// connection is closed after the first answer, so that answers never come out of order.

#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <memory>
#include <string_view>
#include <vector>

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
class ConnectionGuard;
using GuardList = std::vector<ConnectionGuard*>;

class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    GuardedTcpServer(std::size_t maxBodyBytes, int maxConnections, QObject* parent = nullptr);
    int OpenConnections() const { return static_cast<int>(open_->size()); }

protected:
    void incomingConnection(qintptr handle) override;

private:
    // Closes the connection whose slot is given up first; false when every one is busy.
    bool FreeSlot();

    std::size_t maxBodyBytes_;
    int maxConnections_;
    std::shared_ptr<GuardList> open_ = std::make_shared<GuardList>();
};

class ConnectionGuard : public QObject {
    Q_OBJECT
public:
    // Becomes a child of `socket`; made before anyone else reads it.
    ConnectionGuard(QTcpSocket* socket, std::size_t maxBodyBytes, std::shared_ptr<GuardList> open);
    ~ConnectionGuard() override;
    static ConnectionGuard* Of(QTcpSocket* socket);

    // The connection carries an event stream from now on: it stays open however quiet it is,
    // and nothing more the client sends is taken as a request.
    void BecomeStream();

    // The server took a request from this connection: false when it must not be served (a
    // request pipelined behind one not answered yet, or the connection is closing).
    bool TakeRequest();
    // An answer goes out now; true when the connection is to be closed after it.
    bool Answered();
    // The connection sent the right token once.
    void Authenticated() { authenticated_ = true; }
    // How readily the slot is given up to a new connection: lower first; -1 never (a request
    // in hand or an event stream).
    int SlotRank() const;
    qint64 IdleMs() const { return idle_.elapsed(); }
    // Closes the connection at once and frees its slot.
    void Evict();

    static constexpr int kRequestMs = 10'000;  // a request must arrive whole within this
    static constexpr int kIdleMs = 60'000;     // a quiet connection between requests is closed

private:
    void OnReadyRead();
    void Refuse(int status, const char* reason);
    // A request arrived whole; `more`: bytes follow it at once.
    void Arrived(bool more);

    QTcpSocket* socket_;
    std::size_t maxBodyBytes_;
    std::shared_ptr<GuardList> open_;
    QTimer* deadline_;
    QElapsedTimer idle_;      // since the connection came or its last answer went out
    int arrived_ = 0;         // requests that arrived whole
    int taken_ = 0;           // requests the server handed over
    int answered_ = 0;        // answers sent
    bool pipelined_ = false;  // bytes came while a request was unanswered
    bool authenticated_ = false;
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
