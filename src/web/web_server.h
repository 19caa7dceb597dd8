#pragma once
// quelvand's web page and JSON API over HTTP (Qt's HTTP server on the service's one event
// loop): the page from the program's resources, the API (web/web_api.h) for requests
// that carry the token, and a stream of server-sent events with every board's live state,
// sent whenever the owner reads it anew (each poll, each change), so the page never polls.
//
// Every /api/ request carries "Authorization: Bearer <token>", compared in constant time
// before anything else: the right token is served at once, always. Wrong (or missing) tokens
// are answered one at a time, a fixed interval apart, whoever sends them from whatever
// address, with only a few waiting at once and the rest refused at once (429), so that no
// pattern of addresses or connections raises the rate of guesses answered. Refusals are
// logged once a minute as a count.
//
// A request whose Host header names neither this computer, a loopback name, the listen
// address nor public_url's host is answered 421, so that a page of a foreign name that
// resolves here (DNS rebinding) cannot talk to the API.

#include <QHash>
#include <QPointer>
#include <QString>
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
class QTimer;

namespace quelvan::service {

class GuardedTcpServer;

struct WebServerOptions {
    int wrongTokenSpacingMs = 600;  // wrong tokens are answered this far apart: 100 a minute at most
    int maxWaitingGuesses = 8;      // wrong tokens waiting at once; more get 429
    int refusalLogMs = 60'000;      // refused tokens are logged as a count this often
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
    // The address to give to others (Home Assistant's link to the page): public_url, or the
    // page's own address when it listens beyond loopback; empty when there is none that works
    // anywhere but on this computer.
    std::string LinkUrl() const { return linkUrl_; }
    // What quelvanctl service web-token is answered.
    nlohmann::json TokenReply() const;
    int Streams() const;
    // Every alarm raised now (alarm_keeper.h), sent to the page's event stream; unset: none.
    std::function<nlohmann::json()> alarms;
    void AlarmsChanged();
    // The day from the sun each board runs, in its status (WebApi::sun); a change of it is sent
    // to the event stream as the board's status.
    void SetSunState(std::function<std::optional<nlohmann::json>(const std::string& serial)> state);
    void SunChanged(const std::string& serial);

signals:
    // Accepting failed in a way that will not mend itself (out of descriptors mends itself).
    void Lost(const QString& why);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Pending {
        QPointer<QTcpSocket> socket;
        QString address;
        std::string method;
        QString path;
        std::string body;
        bool close = false;
        bool headOnly = false;  // HEAD: the answer to GET without its body
    };
    void KeepAccepting();
    void Refuse(Pending pending);
    void AnswerGuess();
    void Serve(const Pending& pending);
    void OpenStream(QTcpSocket* socket);
    void SendToStreams(const QByteArray& event);
    QByteArray StatusEvent(const HeldDevice& board) const;
    QByteArray BoardsEvent() const;
    // A board's weather (a change of it is sent alone), a hint that its day program changed.
    QByteArray WeatherEvent(const HeldDevice& board);
    static QByteArray ScheduleEvent(const std::string& serial);
    QByteArray AlarmsEvent() const;
    void OnStateChanged(const QString& device);

    BoardOwner& owner_;
    WebServerOptions options_;
    WebApi api_;
    GuardedTcpServer* tcp_ = nullptr;
    std::string token_;
    std::string url_, linkUrl_;
    WebSection settings_;
    // Wrong tokens waiting for their answer, answered one per tick of the timer.
    std::deque<Pending> guesses_;
    QTimer* guessTimer_;
    // Refused tokens since the last log line, and the address of the last one.
    int refusedSinceLog_ = 0;
    std::string lastRefusedFrom_;
    QTimer* refusalLogTimer_;
    QTimer* heartbeat_;
    std::vector<QPointer<QTcpSocket>> streams_;
    // Per board: the weather last sent on the streams, the day program's writes last seen.
    QHash<QString, QByteArray> sentWeather_;
    QHash<QString, unsigned> seenScheduleWrites_;
};

}  // namespace quelvan::service
