#pragma once
// quelvand's web page and JSON API over HTTP (Qt's HTTP server on the service's one event
// loop): the page from the program's resources, the API (web/web_api.h) for requests
// that carry the token, and a stream of server-sent events with every board's live state,
// sent whenever the owner reads it anew (each poll, each change), so the page never polls.
//
// Every /api/ request carries "Authorization: Bearer <token>". The token is compared in
// constant time; after a wrong one, the next request from the same address waits, longer
// after each further failure (by timer, never blocking the loop), so that guessing is slow.

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QtHttpServer/QAbstractHttpServer>
#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "service/board_owner.h"
#include "web/web_api.h"
#include "web/web_settings.h"

class QTcpSocket;

namespace quelvan::service {

class GuardedTcpServer;

struct WebServerOptions {
    int failureDelayMs = 500;       // after the first wrong token; doubled for each further one
    int maxFailureDelayMs = 8000;   // the longest wait
    int maxWaitingPerAddress = 16;  // requests held back at once per address; more get 429
    int maxConnections = 64;
    int maxStreams = 8;
};

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    WebServer(BoardOwner& owner, WebServerOptions options = {}, QObject* parent = nullptr);
    ~WebServer() override;

    // Takes the token (from its file, made there at the first start) and listens. False with
    // the reason when the token cannot be had or the address not taken: the page is then not
    // served at all.
    bool Start(const WebSection& settings, std::string* error);
    // For tests: listen with this token.
    bool StartWithToken(const WebSection& settings, const std::string& token, std::string* error);

    quint16 Port() const;
    std::string Url() const { return url_; }
    // What quelvanctl service web-token is answered.
    nlohmann::json TokenReply() const;
    int Streams() const;
    // Every alarm raised now (alarm_keeper.h), sent to the page's event stream; unset: none.
    std::function<nlohmann::json()> alarms;
    void AlarmsChanged();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Pending;
    void Admit(Pending pending);
    void Serve(const Pending& pending);
    void OpenStream(QTcpSocket* socket);
    void SendToStreams(const QByteArray& event);
    QByteArray StatusEvent(const HeldDevice& board) const;
    QByteArray BoardsEvent() const;
    QByteArray AlarmsEvent() const;
    void OnStateChanged(const QString& device);

    BoardOwner& owner_;
    WebServerOptions options_;
    WebApi api_;
    GuardedTcpServer* tcp_ = nullptr;
    std::string token_;
    std::string url_;
    // Per remote address: wrong tokens in a row and when its next request may be looked at.
    struct Penalty {
        int failures = 0;
        QElapsedTimer since;  // since the last failure
        qint64 waitMs = 0;
        int waiting = 0;
    };
    QHash<QString, Penalty> penalties_;
    std::vector<QPointer<QTcpSocket>> streams_;
};

}  // namespace quelvan::service
