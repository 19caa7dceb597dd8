#pragma once
// quelvand's web server in-process on the owner of a simulated board, and what its tests
// need to speak to it over loopback: requests through Qt's network access, raw bytes on a
// connection, and the transfers the board saw.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "service/board_owner.h"
#include "simulator/simulated_backend.h"
#include "web/web_server.h"

namespace quelvan::service {

using nlohmann::json;

inline const std::string kBoard = "/api/boards/QV2-000123/";

inline constexpr const char* kToken = "abcdefghijklmnopqrstuvwxyz234567";

// Runs the event loop until `done` holds, for at most `ms`.
inline bool SpinUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct Answer {
    int status = 0;
    QByteArray body;
    QNetworkReply* reply = nullptr;
    json Json() const { return json::parse(body.toStdString(), nullptr, false); }
};

class ThroughTheWeb : public ::testing::Test {
protected:
    void SetUp() override {
        backend_.Board().SetFrozen(true);
        backend_.Board().Config().Mode = 0;
        owner_.Start();
        WebSection web;
        web.enabled = true;
        web.port = 0;
        web.publicUrl = "https://tank.example.lan/";
        std::string error;
        ASSERT_TRUE(server_.StartWithToken(web, kToken, &error)) << error;
        base_ = "http://127.0.0.1:" + QString::number(server_.Port());
    }

    static WebServerOptions Options() {
        WebServerOptions options;
        options.wrongTokenSpacingMs = 200;
        return options;
    }

    // Starts a request; the answer is filled in when it arrives.
    std::shared_ptr<Answer> Start(const std::string& method, const std::string& path, const std::string& body = {},
                                  const std::string& token = kToken, QNetworkAccessManager* manager = nullptr) {
        QNetworkRequest request(QUrl(base_ + QString::fromStdString(path)));
        if (!token.empty()) request.setRawHeader("Authorization", QByteArray("Bearer ") + token.c_str());
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        auto answer = std::make_shared<Answer>();
        QNetworkReply* reply =
            (manager ? manager : &network_)
                ->sendCustomRequest(request, QByteArray::fromStdString(method), QByteArray::fromStdString(body));
        QObject::connect(reply, &QNetworkReply::finished, [answer, reply] {
            answer->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            answer->body = reply->readAll();
            answer->reply = reply;
        });
        return answer;
    }
    Answer Ask(const std::string& method, const std::string& path, const std::string& body = {},
               const std::string& token = kToken) {
        const auto answer = Start(method, path, body, token);
        EXPECT_TRUE(SpinUntil([&] { return answer->status != 0 || answer->reply; })) << method << " " << path;
        return *answer;
    }

    // The report IDs of the set transfers since the last call.
    std::vector<int> Sets() {
        std::vector<int> ids;
        for (const sim::SimTransfer& t : backend_.Transfers())
            if (t.isSet) ids.push_back(t.bytes.at(0));
        backend_.ClearTransfers();
        return ids;
    }

    // Bytes straight onto a connection; what comes back until the server closes it.
    QByteArray Raw(const QByteArray& bytes) {
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", server_.Port());
        EXPECT_TRUE(SpinUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        socket.write(bytes);
        QByteArray got;
        SpinUntil([&] {
            got += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        });
        return got;
    }

    sim::SimulatedHidBackend backend_;
    SystemClock clock_;
    BoardOwner owner_{backend_, clock_, OwnerOptions{}};
    WebServer server_{owner_, Options()};
    QNetworkAccessManager network_;
    QString base_;
};

}  // namespace quelvan::service
