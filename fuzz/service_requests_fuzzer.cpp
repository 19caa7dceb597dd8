// quelvand's request handling under any bytes: three clients of one owner on a simulated
// board, each fed pieces of the input split anywhere, in any order, with clients going
// away and the board leaving and coming back in between. Every message the service sends
// is one line holding one JSON object, a reply (with "id" and "ok") or an event; and once
// every client has gone, no session is left on any device.
//
// Input: a sequence of steps, one control byte each:
//   0..2  (low 2 bits of byte % 8): feed the next n bytes (n = the following byte) to that client
//   3     run the event loop once (queued hand-overs of a board)
//   4     the client (next byte % 3) goes; a new one takes its place
//   5     the board leaves the bus, or comes back
//   6, 7  feed a ready-made hello to the next client

#include <QCoreApplication>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "backend/service_protocol.h"
#include "fuzz_check.h"
#include "service/board_owner.h"
#include "service/client_handler.h"
#include "simulator/simulated_backend.h"

namespace {

void CheckMessage(const std::string& message) {
    FUZZ_CHECK(!message.empty() && message.back() == '\n');
    FUZZ_CHECK(message.find('\n') == message.size() - 1);
    const nlohmann::json parsed = nlohmann::json::parse(message, nullptr, false);
    FUZZ_CHECK(parsed.is_object());
    if (parsed.contains("event")) return;
    FUZZ_CHECK(parsed.contains("id") && parsed.contains("ok") && parsed["ok"].is_boolean());
    if (parsed["ok"] == false) FUZZ_CHECK(parsed["code"].is_string() && parsed["error"].is_string());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 32768) return 0;
    quelvan::sim::SimulatedHidBackend backend;
    backend.Board().SetFrozen(true);
    const quelvan::SystemClock clock;
    quelvan::service::OwnerOptions options;
    options.pollMs = 0;
    quelvan::service::BoardOwner owner(backend, clock, options);
    owner.Start();

    auto makeClient = [&] { return std::make_unique<quelvan::service::ClientHandler>(owner, CheckMessage); };
    std::unique_ptr<quelvan::service::ClientHandler> clients[3] = {makeClient(), makeClient(), makeClient()};
    const std::string hello = R"({"id":1,"op":"hello","version":1})"
                              "\n";
    bool present = true;
    std::size_t next = 0;
    for (std::size_t i = 0; i < size;) {
        const std::uint8_t step = data[i++] % 8;
        if (step <= 2) {
            const std::size_t n = i < size ? std::min<std::size_t>(data[i++], size - i) : 0;
            clients[step]->Feed(reinterpret_cast<const char*>(data + i), n);
            i += n;
        } else if (step == 3) {
            QCoreApplication::processEvents();
        } else if (step == 4) {
            const std::size_t which = i < size ? data[i++] % 3 : 0;
            clients[which] = makeClient();
        } else if (step == 5) {
            present ? backend.Unplug() : backend.Plug();
            present = !present;
            owner.ProcessDeviceChanges();
        } else {
            clients[next++ % 3]->Feed(hello.data(), hello.size());
        }
    }
    for (auto& c : clients) c.reset();
    QCoreApplication::processEvents();
    for (const quelvan::service::HeldDevice* d : owner.Devices()) FUZZ_CHECK(d->sessionHolder == 0);
    return 0;
}
