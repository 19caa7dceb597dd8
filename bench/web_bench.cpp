// quelvand's web page on loopback, the owner and the HTTP server in-process on the simulated
// board, a Qt network client standing in for the browser: the first load of the page (a new
// connection, the HTML, then what its script asks for: the boards, then a board's status, day
// program and weather), and a slider's change from its POST to the answer after the board was
// written and read back. The page's size is reported with the first.
//
//     build/bench/web_bench [benchmark options]

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <memory>
#include <vector>

#include "service/board_owner.h"
#include "service/web_server.h"
#include "simulator/simulated_backend.h"

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
        base = "http://127.0.0.1:" + QString::number(server.Port());
    }
    quelvan::sim::SimulatedHidBackend backend;
    quelvan::SystemClock clock;
    BoardOwner owner;
    WebServer server;
    QString base;
};

InProcess& Service() {
    static InProcess service;
    return service;
}

QNetworkReply* Send(QNetworkAccessManager& network, const char* method, const QString& path,
                    const QByteArray& body = {}) {
    QNetworkRequest request(QUrl(Service().base + path));
    request.setRawHeader("Authorization", QByteArray("Bearer ") + kToken);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    return network.sendCustomRequest(request, method, body);
}

// Waits for every reply; the bytes they carried.
qint64 Finish(const std::vector<QNetworkReply*>& replies) {
    qint64 bytes = 0;
    for (QNetworkReply* reply : replies) {
        while (!reply->isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (reply->error() != QNetworkReply::NoError) std::abort();
        bytes += reply->readAll().size();
        reply->deleteLater();
    }
    return bytes;
}

void BM_FirstPageLoad(benchmark::State& state) {
    Service();
    qint64 pageBytes = 0, apiBytes = 0;
    for (auto _ : state) {
        QNetworkAccessManager network;  // a new connection, as a browser opening the page
        pageBytes = Finish({Send(network, "GET", "/")});
        apiBytes = Finish({Send(network, "GET", "/api/boards")});
        const QString board = "/api/boards/QV2-000123/";
        apiBytes += Finish({Send(network, "GET", board + "status"), Send(network, "GET", board + "schedule"),
                            Send(network, "GET", board + "weather")});
    }
    state.counters["page_bytes"] = static_cast<double>(pageBytes);
    state.counters["api_bytes"] = static_cast<double>(apiBytes);
}
BENCHMARK(BM_FirstPageLoad)->Unit(benchmark::kMicrosecond);

void BM_ChannelChangeAnswered(benchmark::State& state) {
    QNetworkAccessManager network;
    int percent = 0;
    for (auto _ : state) {
        percent = (percent + 7) % 101;
        Finish({Send(network, "POST", "/api/boards/QV2-000123/channels/C",
                     "{\"percent\": " + QByteArray::number(percent) + "}")});
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
