#pragma once
// What stands between a TCP connection and Qt's HTTP server, which buffers whatever a client
// sends: each request's head is looked at as it arrives, before the server reads it, and a
// request that is too large (head or announced body), that announces a body of unknown length
// or that asks for another protocol is answered at once and the connection closed, so the
// server never holds more than one small request per connection. Connections are limited in
// number and in how long a request may take to arrive; a connection whose reply waits (for
// the board, or for the slow-down after a wrong token) is held: its further requests wait
// unread until the reply is out, so replies never overtake each other.

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <memory>
#include <string_view>

class QTcpSocket;
class QTimer;

namespace quelvan::service {

inline constexpr int kMaxHeadBytes = 8192;
inline constexpr int kMaxConnections = 64;

// The verdict on a request head seen so far.
struct HeadCheck {
    enum class State { NeedMore, Complete, Refused } state = State::NeedMore;
    int status = 0;  // with Refused
    const char* reason = "";
    bool expectContinue = false;  // "Expect: 100-continue": the client waits before the body
    bool close = false;           // "Connection: close", or HTTP/1.0
};

// Looks at the bytes of one request from its start (the head and perhaps more).
HeadCheck CheckRequestHead(std::string_view bytes, std::size_t maxBodyBytes);

// The listening socket: every connection gets its guard before the HTTP server sees it.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    GuardedTcpServer(std::size_t maxBodyBytes, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr handle) override;

private:
    std::size_t maxBodyBytes_;
    std::shared_ptr<int> open_ = std::make_shared<int>(0);
};

class ConnectionGuard : public QObject {
    Q_OBJECT
public:
    // Becomes a child of `socket` and watches it; connect it before anyone else reads it.
    ConnectionGuard(QTcpSocket* socket, std::size_t maxBodyBytes, std::shared_ptr<int> open);
    ~ConnectionGuard() override;
    static ConnectionGuard* Of(QTcpSocket* socket);

    // The HTTP server has taken a whole request.
    void RequestTaken();
    // A reply that is not written at once: nothing more is read until Release().
    void Hold();
    void Release();
    bool Held() const { return held_; }
    // The connection carries an event stream from now on: nothing the client sends is read
    // as a request, and it stays open however long it is quiet.
    void BecomeStream();
    bool CloseAfterReply() const { return closeAfter_; }

    static constexpr int kRequestMs = 10'000;  // a request must arrive whole within this
    static constexpr int kIdleMs = 60'000;     // a quiet connection between requests is closed

private:
    void OnReadyRead();
    void Refuse(int status, const char* reason);
    void OnDeadline();

    QTcpSocket* socket_;
    std::size_t maxBodyBytes_;
    std::shared_ptr<int> open_;
    QTimer* deadline_;
    QByteArray head_;
    bool headChecked_ = false;
    bool closeAfter_ = false;
    bool held_ = false;
    bool stream_ = false;
};

// A whole HTTP/1.1 response, for the replies the guard and the server write themselves.
QByteArray HttpResponse(int status, const QByteArray& contentType, const QByteArray& body,
                        const QList<QPair<QByteArray, QByteArray>>& headers = {}, bool close = false);

}  // namespace quelvan::service
