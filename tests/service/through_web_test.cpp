// quelvand's web page and JSON API in-process, on the owner of a simulated board, spoken to
// over loopback HTTP: every endpoint with its status codes and what reaches the board, the
// token, requests refused before they cost anything, two clients at once, and the event
// stream.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <nlohmann/json.hpp>

#include "device/channel_values.h"
#include "service/board_owner.h"
#include "service/web_server.h"
#include "simulator/simulated_backend.h"

namespace quelvan::service {
namespace {

using nlohmann::json;

constexpr const char* kToken = "abcdefghijklmnopqrstuvwxyz234567";

// Runs the event loop until `done` holds, for at most `ms`.
bool SpinUntil(const std::function<bool()>& done, int ms = 10000) {
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
        std::string error;
        ASSERT_TRUE(server_.StartWithToken(web, kToken, &error)) << error;
        base_ = "http://127.0.0.1:" + QString::number(server_.Port());
    }

    static WebServerOptions Options() {
        WebServerOptions options;
        options.failureDelayMs = 200;
        options.maxFailureDelayMs = 800;
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

const std::string kBoard = "/api/boards/QV2-000123/";

TEST_F(ThroughTheWeb, EveryEndpointAnswersWithItsCodeAndRefusalsSendNothingToTheBoard) {
    struct Case {
        const char* method;
        std::string path;
        std::string body;
        int status;
        std::vector<int> sets;  // report IDs written to the board, in order
        std::string token = kToken;
    };
    const std::vector<int> none, config = {2, 4, 5, 6};
    const Case cases[] = {
        {"GET", "/api/boards", "", 200, none},
        {"GET", kBoard + "status", "", 200, none},
        {"GET", kBoard + "config", "", 200, none},
        {"GET", kBoard + "weather", "", 200, none},
        {"GET", kBoard + "schedule", "", 200, none},
        {"POST", kBoard + "channels/C", R"({"percent": 10})", 200, {1}},
        {"POST", kBoard + "channels/all", R"({"percent": 0})", 200, {2, 4, 5, 6, 1}},
        {"POST", kBoard + "clock/sync", "", 200, {1}},
        {"POST", kBoard + "weather", R"({"clouds_per_day": 5, "storm_minutes": 30})", 200, config},
        {"POST", kBoard + "save-eeprom", "", 200, {3}},
        {"POST", kBoard + "mode", R"({"mode": "auto"})", 200, config},
        // The board's program sets the channels in "Auto": refused after the session's read.
        {"POST", kBoard + "channels/D", R"({"percent": 10})", 409, none},
        {"POST", kBoard + "mode", R"({"mode": "Manuell"})", 200, config},
        // Refused before the board is touched.
        {"GET", "/api/boards", "", 401, none, "wrongwrongwrongwrongwrongwrong12"},
        {"POST", kBoard + "channels/C", R"({"percent": 50})", 401, none, ""},
        {"POST", kBoard + "channels/C", R"({"percent": 50)", 400, none},
        {"POST", kBoard + "channels/C", R"([50])", 400, none},
        {"POST", kBoard + "channels/C", R"({"percent": "50"})", 400, none},
        {"POST", kBoard + "channels/C", R"({"percent": 50, "fade": 2})", 400, none},
        {"POST", kBoard + "channels/C", R"({"percent": 100.5})", 422, none},
        {"POST", kBoard + "channels/C", R"({"percent": -1})", 422, none},
        {"POST", kBoard + "channels/all", R"({"percent": 50})", 422, none},
        {"POST", kBoard + "mode", R"({"mode": "party"})", 422, none},
        {"POST", kBoard + "mode", R"({"mode": 1})", 400, none},
        {"POST", kBoard + "weather", R"({"clouds_per_day": 1001})", 422, none},
        {"POST", kBoard + "weather", R"({"cloud_seconds": 2.5})", 400, none},
        {"POST", kBoard + "weather", R"({})", 400, none},
        {"POST", kBoard + "schedule/0", R"({"hour": 25, "minute": 0})", 422, none},
        {"POST", kBoard + "schedule/0", R"({"hour": 7})", 400, none},
        {"POST", kBoard + "schedule/0", R"({"channels": [1, 2, 3]})", 400, none},
        {"POST", kBoard + "schedule/99", R"({"hour": 7, "minute": 0})", 404, none},
        {"POST", kBoard + "channels/M", R"({"percent": 1})", 404, none},
        {"POST", "/api/boards/QV2-999999/channels/C", R"({"percent": 1})", 404, none},
        {"GET", kBoard + "channels/C", "", 405, none},
        {"DELETE", kBoard + "status", "", 405, none},
        {"GET", "/api/nothing", "", 404, none},
    };
    Sets();
    for (const Case& c : cases) {
        const Answer answer = Ask(c.method, c.path, c.body, c.token);
        EXPECT_EQ(answer.status, c.status) << c.method << " " << c.path << " " << c.body << ": " << answer.body.data();
        EXPECT_EQ(Sets(), c.sets) << c.method << " " << c.path << " " << c.body;
        const json body = answer.Json();
        EXPECT_TRUE(body.is_object()) << c.path;
        if (c.status != 200) {
            EXPECT_EQ(body.value("ok", true), false) << c.path;
        }
        if (c.status == 401) {
            EXPECT_EQ(answer.reply->rawHeader("WWW-Authenticate"), "Bearer");
        }
    }
    // Answers in quelvanctl --json's names, read back from the board.
    EXPECT_EQ(backend_.Board().Live().ChannelValue[2], 0) << "all off after C at 10 %";
    const Answer status = Ask("POST", kBoard + "channels/C", R"({"percent": 25})");
    EXPECT_EQ(backend_.Board().Live().ChannelValue[2], ChannelValueFromPercent(25));
    EXPECT_EQ(status.Json()["channels"][2]["value"], ChannelValueFromPercent(25));
    EXPECT_EQ(status.Json()["mode_name"], "Manuell");
    const Answer schedule = Ask("POST", kBoard + "schedule/0", R"({"hour": 23, "minute": 59})");
    ASSERT_EQ(schedule.status, 200);
    const json entries = schedule.Json()["entries"];
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(backend_.Board().Live().EntryCount));
    // Sorted by time, as the board runs it: before the default table's last point at 24:00.
    EXPECT_EQ(entries[entries.size() - 2]["time"], "23:59");
    EXPECT_EQ(backend_.Board().Schedule().at(entries.size() - 2).Hour, 23) << "and written so";
    EXPECT_EQ(schedule.Json()["channels"].size(), 12u);
    EXPECT_EQ(Ask("GET", kBoard + "weather").Json()["storm_minutes"], 30);

    // The page needs no token and fetches nothing from elsewhere.
    const Answer page = Ask("GET", "/", "", "");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("Nur im Modus „Manuell“ änderbar"));
    EXPECT_FALSE(page.body.contains("src=")) << "no script or picture from a file or elsewhere";
    EXPECT_FALSE(page.body.contains("https://"));
    EXPECT_TRUE(page.reply->rawHeader("Content-Security-Policy").contains("connect-src 'self'"));
}

TEST_F(ThroughTheWeb, RequestsTooLargeOrOfUnknownLengthAreRefusedBeforeTheServerHoldsThem) {
    struct Case {
        const char* what;
        QByteArray bytes;
        const char* statusLine;
    };
    const QByteArray post = "POST " + QByteArray::fromStdString(kBoard) + "mode HTTP/1.1\r\nHost: x\r\n" +
                            "Authorization: Bearer " + kToken + "\r\n";
    const Case cases[] = {
        {"announced body too large", post + "Content-Length: 100000\r\n\r\n{\"mode\":", "HTTP/1.1 413"},
        {"body of unknown length", post + "Transfer-Encoding: chunked\r\n\r\n5\r\n{}\r\n", "HTTP/1.1 411"},
        {"head too long", post + "X-Padding: " + QByteArray(9000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
        {"two lengths", post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}", "HTTP/1.1 400"},
        {"another protocol", "GET /api/boards HTTP/2.0\r\n\r\n", "HTTP/1.1 505"},
    };
    Sets();
    for (const Case& c : cases) {
        const QByteArray answer = Raw(c.bytes);
        EXPECT_TRUE(answer.startsWith(c.statusLine)) << c.what << ": " << answer.left(60).data();
        EXPECT_EQ(Sets(), std::vector<int>{}) << c.what;
    }
    // A body within the limit, announced and sent whole, is taken.
    const QByteArray body = R"({"mode": "manual"})";
    EXPECT_TRUE(
        Raw(post + "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body)
            .startsWith("HTTP/1.1 200"));
    EXPECT_EQ(Ask("GET", "/api/boards").status, 200) << "the server goes on";
}

TEST_F(ThroughTheWeb, WrongTokensAreSlowedDownWithoutHoldingUpTheLoop) {
    const std::string wrong = "wrongwrongwrongwrongwrongwrong12";
    // The delays count from each failure, which the service notes before its answer is on
    // the way: timed from before the first try, so that a slow answer (an emulated build)
    // cannot make a delay look shorter than it was.
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(Ask("GET", "/api/boards", "", wrong).status, 401);
    EXPECT_EQ(Ask("GET", "/api/boards", "", wrong).status, 401);
    EXPECT_GE(timer.elapsed(), 150) << "the second try waited for the first failure's delay";
    // While the address waits, the owner's timers and other work go on.
    bool loopRan = false;
    QTimer::singleShot(10, [&] { loopRan = true; });
    const auto right = Start("GET", "/api/boards");
    EXPECT_TRUE(SpinUntil([&] { return right->reply != nullptr; }));
    EXPECT_TRUE(loopRan);
    EXPECT_GE(timer.elapsed(), 150 + 300) << "after two failures the wait doubled, for the right token too";
    EXPECT_EQ(right->status, 200);
    timer.restart();
    EXPECT_EQ(Ask("GET", "/api/boards").status, 200);
    EXPECT_LT(timer.elapsed(), 150) << "a right token ends the slow-down";
}

TEST_F(ThroughTheWeb, TwoClientsChangingChannelsAtOnceLoseNoValue) {
    QNetworkAccessManager other;
    for (int round = 0; round < 20; ++round) {
        const int c = round * 5, d = 100 - round * 5;
        const auto first = Start("POST", kBoard + "channels/C", R"({"percent": )" + std::to_string(c) + "}");
        const auto second =
            Start("POST", kBoard + "channels/D", R"({"percent": )" + std::to_string(d) + "}", kToken, &other);
        ASSERT_TRUE(SpinUntil([&] { return first->reply && second->reply; }));
        ASSERT_EQ(first->status, 200);
        ASSERT_EQ(second->status, 200);
        ASSERT_EQ(backend_.Board().Live().ChannelValue[2], ChannelValueFromPercent(c)) << "round " << round;
        ASSERT_EQ(backend_.Board().Live().ChannelValue[3], ChannelValueFromPercent(d)) << "round " << round;
    }
}

TEST_F(ThroughTheWeb, TheEventStreamCarriesTheStateAtOnceAtEveryChangeAndAtEveryPollThatFindsOne) {
    QTcpSocket stream;
    stream.connectToHost("127.0.0.1", server_.Port());
    ASSERT_TRUE(SpinUntil([&] { return stream.state() == QAbstractSocket::ConnectedState; }));
    stream.write(QByteArray("GET /api/events HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer ") + kToken + "\r\n\r\n");
    QByteArray got;
    auto waitFor = [&](const QByteArray& text) {
        return SpinUntil([&] {
            got += stream.readAll();
            return got.contains(text);
        });
    };
    ASSERT_TRUE(waitFor("event: status\ndata: ")) << got.data();
    EXPECT_TRUE(got.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream"));
    EXPECT_TRUE(got.contains("event: boards\ndata: {\"boards\":[{"));
    EXPECT_EQ(server_.Streams(), 1);

    got.clear();
    EXPECT_EQ(Ask("POST", kBoard + "channels/E", R"({"percent": 50})").status, 200);
    EXPECT_TRUE(waitFor(R"({"letter":"E","name":)")) << got.data();
    EXPECT_TRUE(got.contains(R"("percent":50.0,"value":2048})")) << got.data();

    // A change at the board itself (its program, another client) comes with the next poll.
    got.clear();
    backend_.Board().Live().ChannelValue[5] = 1024;
    owner_.PollBoards();
    EXPECT_TRUE(waitFor(R"("percent":25.0,"value":1024})")) << got.data();

    // What the client sends on a stream is not taken as a request.
    got.clear();
    stream.write("GET /api/boards HTTP/1.1\r\nHost: x\r\n\r\n");
    SpinUntil([] { return false; }, 200);
    got += stream.readAll();
    EXPECT_FALSE(got.contains("HTTP/1.1")) << got.data();
}

}  // namespace
}  // namespace quelvan::service
