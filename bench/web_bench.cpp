// quelvand's web page on loopback, the owner and the HTTP server in-process on the simulated
// board, a plain HTTP client on loopback standing in for the browser: the first load of the
// page (a new connection, the HTML, then what its script asks for: the boards, then a board's
// status, day program and weather, one after the other), and a slider's change from its POST
// to the answer after the board was written and read back. The page's size is reported with
// the first.
//
//     build/bench/web_bench [benchmark options]

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpSocket>
#include <memory>

#include "service/board_owner.h"
#include "simulator/simulated_backend.h"
#include "web/web_server.h"

namespace {

using quelvan::service::BoardOwner;
using quelvan::service::WebServer;

constexpr const char* kToken = "benchbenchbenchbenchbenchbench32";

struct InProcess {
    InProcess() : owner(backend, clock, quelvan::service::OwnerOptions{}), server(owner) {
        backend.Board().SetFrozen(true);
        backend.Board().Config().Mode = 0;
        owner.Start();
        quelvan::service::WebSection web;
        web.enabled = true;
        web.port = 0;
        std::string error;
        if (!server.StartWithToken(web, kToken, &error)) std::abort();
    }
    quelvan::sim::SimulatedHidBackend backend;
    quelvan::SystemClock clock;
    BoardOwner owner;
    WebServer server;
};

InProcess& Service() {
    static InProcess service;
    return service;
}

// A plain HTTP/1.1 client on the same event loop (Qt's network access manager would add its
// own thread hop and set-up, which a browser does not pay on every request).
class Client {
public:
    Client() {
        socket_.connectToHost(QHostAddress::LocalHost, Service().server.Port());
        while (socket_.state() != QAbstractSocket::ConnectedState) QCoreApplication::processEvents();
    }
    // One request; the length of the body that came back.
    qint64 Ask(const char* method, const QByteArray& path, const QByteArray& body = {}) {
        socket_.write(QByteArray(method) + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + "Authorization: Bearer " +
                      kToken + "\r\nContent-Type: application/json\r\n" +
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QByteArray got;
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            got += socket_.readAll();
            const qsizetype head = got.indexOf("\r\n\r\n");
            if (head < 0) continue;
            const qsizetype at = got.indexOf("Content-Length: ");
            const qint64 length = got.mid(at + 16, got.indexOf("\r\n", at) - at - 16).toLongLong();
            if (!got.startsWith("HTTP/1.1 200")) std::abort();
            if (got.size() >= head + 4 + length) return length;
        }
    }

private:
    QTcpSocket socket_;
};

void BM_FirstPageLoad(benchmark::State& state) {
    Service();
    qint64 pageBytes = 0, apiBytes = 0;
    for (auto _ : state) {
        Client browser;  // a new connection, as a browser opening the page
        pageBytes = browser.Ask("GET", "/");
        apiBytes = browser.Ask("GET", "/api/boards");
        for (const char* part : {"status", "schedule", "weather"})
            apiBytes += browser.Ask("GET", QByteArray("/api/boards/QV2-000123/") + part);
    }
    state.counters["page_bytes"] = static_cast<double>(pageBytes);
    state.counters["api_bytes"] = static_cast<double>(apiBytes);
}
BENCHMARK(BM_FirstPageLoad)->Unit(benchmark::kMicrosecond);

void BM_ChannelChangeAnswered(benchmark::State& state) {
    Client page;
    int percent = 0;
    for (auto _ : state) {
        percent = (percent + 7) % 101;
        page.Ask("POST", "/api/boards/QV2-000123/channels/C", "{\"percent\": " + QByteArray::number(percent) + "}");
    }
}
BENCHMARK(BM_ChannelChangeAnswered)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
