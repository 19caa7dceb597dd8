// quelvand's web server under any bytes: three loopback connections to a server on the owner
// of a simulated board, each fed pieces of the input split anywhere, through the connection
// guard, the token check and the API. Every answer is a whole HTTP/1.1 response with a known
// status; nothing is answered after an answer that closed the connection; and once every
// connection has gone, no session is left on the board.
//
// Input: a sequence of steps, one control byte each:
//   0..2  (byte % 8): send the next n bytes (n = the following byte) on that connection
//   3     run the event loop for a moment
//   4     the connection (next byte % 3) goes; a new one takes its place
//   5     send the right token's header line on the next connection
//   6, 7  send a ready-made request (next byte picks which) on the next connection

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "service/board_owner.h"
#include "simulator/simulated_backend.h"
#include "web/web_server.h"

namespace {

constexpr const char* kToken = "abcdefghijklmnopqrstuvwxyz234567";
const QByteArray kAuthorization = QByteArray("Authorization: Bearer ") + kToken + "\r\n";

const std::array<QByteArray, 8> kRequests = {
    "GET /api/boards HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuthorization + "\r\n",
    "GET /api/boards/QV2-000123/status HTTP/1.1\r\nHost: localhost\r\n" + kAuthorization + "\r\n",
    "POST /api/boards/QV2-000123/channels/C HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 15\r\n" + kAuthorization +
        "\r\n{\"percent\": 50}",
    "POST /api/boards/QV2-000123/schedule/1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 24\r\n" + kAuthorization +
        "\r\n{\"hour\": 7, \"minute\": 5}",
    "POST /api/boards/QV2-000123/mode HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 18\r\n" + kAuthorization +
        "\r\n{\"mode\": \"manual\"}",
    "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
    "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuthorization + "\r\n",
    "GET /api/boards/QV2-000123/weather HTTP/1.1\r\nHost: evil.example\r\n" + kAuthorization + "\r\n",
};

bool KnownStatus(int status) {
    for (int known : {200, 400, 401, 404, 405, 409, 411, 413, 421, 422, 429, 431, 502, 503, 505})
        if (status == known) return true;
    return false;
}

// The answers on one connection: whole responses, one after another; an event stream or a
// closing answer ends them. With HEAD sent, only the first head is looked at.
void CheckAnswers(const QByteArray& bytes, bool sentHead) {
    qsizetype at = 0;
    while (at < bytes.size()) {
        FUZZ_CHECK(bytes.mid(at, 9) == "HTTP/1.1 ");
        FUZZ_CHECK(KnownStatus(bytes.mid(at + 9, 3).toInt()));
        const qsizetype end = bytes.indexOf("\r\n\r\n", at);
        if (end < 0) return;  // cut off by the end of the run
        const QByteArray head = bytes.mid(at, end - at + 2);
        if (head.contains("Content-Type: text/event-stream") || sentHead) return;
        const qsizetype length = head.indexOf("Content-Length: ");
        FUZZ_CHECK(length >= 0);
        const qsizetype body = head.mid(length + 16, head.indexOf("\r\n", length) - length - 16).toLongLong();
        at = end + 4 + body;
        if (head.contains("Connection: close\r\n")) FUZZ_CHECK(at >= bytes.size());
    }
}

struct Connection {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray got;
    bool sentHead = false;
};

void Spin(int rounds) {
    for (int i = 0; i < rounds; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    quelvan::sim::SimulatedHidBackend backend;
    backend.Board().SetFrozen(true);
    backend.Board().Config().Mode = 0;
    const quelvan::SystemClock clock;
    quelvan::service::OwnerOptions ownerOptions;
    ownerOptions.pollMs = 60'000;  // read at the start and after writes, never by the timer
    quelvan::service::BoardOwner owner(backend, clock, ownerOptions);
    owner.Start();
    quelvan::service::WebServerOptions options;
    options.wrongTokenSpacingMs = 1;
    options.maxConnections = 4;
    quelvan::service::WebServer server(owner, options);
    quelvan::service::WebSection web;
    web.enabled = true;
    web.port = 0;
    std::string error;
    FUZZ_CHECK(server.StartWithToken(web, kToken, &error));

    std::array<Connection, 3> connections;
    auto open = [&](Connection& c) {
        c.socket->connectToHost(QHostAddress::LocalHost, server.Port());
        c.socket->waitForConnected(1000);
    };
    auto finish = [&](Connection& c) {
        Spin(4);
        c.got += c.socket->readAll();
        CheckAnswers(c.got, c.sentHead);
    };
    auto send = [&](Connection& c, const QByteArray& bytes) {
        c.sentHead = c.sentHead || bytes.contains("HEAD");
        c.socket->write(bytes);
        c.socket->flush();
        Spin(2);
        c.got += c.socket->readAll();
    };
    for (Connection& c : connections) open(c);
    std::size_t next = 0;
    for (std::size_t i = 0; i < size;) {
        const std::uint8_t step = data[i++] % 8;
        if (step <= 2) {
            std::size_t n = 0;
            if (i < size) {
                n = std::min<std::size_t>(data[i], size - i - 1);
                ++i;
            }
            send(connections[step], QByteArray(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(n)));
            i += n;
        } else if (step == 3) {
            Spin(8);
        } else if (step == 4) {
            Connection& c = connections[i < size ? data[i++] % 3 : 0];
            finish(c);
            c = Connection{};
            open(c);
        } else if (step == 5) {
            send(connections[next++ % 3], kAuthorization);
        } else {
            const std::size_t which = i < size ? data[i++] % kRequests.size() : 0;
            send(connections[next++ % 3], kRequests[which]);
        }
    }
    for (Connection& c : connections) {
        finish(c);
        c.socket->abort();
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200) {
        Spin(1);
        bool busy = false;
        for (const quelvan::service::HeldDevice* d : owner.Devices()) busy = busy || d->sessionHolder != 0;
        if (!busy) break;
    }
    for (const quelvan::service::HeldDevice* d : owner.Devices()) FUZZ_CHECK(d->sessionHolder == 0);
    return 0;
}
