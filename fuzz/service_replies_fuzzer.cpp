// The service's client backend under any reply bytes: what quelvanctl and the window do
// through it (hello, listing, strings, open, transfers, sessions, events) against a peer
// that answers with the fuzzer's bytes and then hangs up. No crash, no access outside a
// buffer, a get fills exactly its buffer or fails, and every call ends.

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "backend/service_backend.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) return 0;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
    // The peer's whole answer is there before the first question; then it hangs up.
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::send(ends[1], data + written, size - written, MSG_NOSIGNAL);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    ::shutdown(ends[1], SHUT_WR);

    quelvan::ServiceBackend::Options options;
    options.sessions =
        size % 2 ? quelvan::ServiceBackend::Sessions::OnDemand : quelvan::ServiceBackend::Sessions::WholeUse;
    options.replyTimeoutMs = 200;
    std::string error;
    auto backend = quelvan::ServiceBackend::Adopt(ends[0], "fuzz", options, &error);
    if (backend) {
        backend->TakeChange();
        for (const quelvan::HidInterfaceInfo& info : backend->Enumerate()) {
            backend->ReadString(info, quelvan::HidString::Manufacturer);
            backend->ReadString(info, quelvan::HidString::SerialNumber);
            quelvan::HidOpenResult opened = backend->Open(info);
            if (!opened.handle) continue;
            std::array<std::uint8_t, 48> buffer{};
            buffer.fill(0xA5);
            buffer[0] = 1;
            const bool got = opened.handle->GetFeature(buffer.data(), 42);
            // Nothing past the length asked for is touched, whatever the answer.
            for (std::size_t i = 42; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == 0xA5);
            if (!got) FUZZ_CHECK(buffer[1] == 0xA5);
            opened.handle->SetFeature(buffer.data(), 42);
            if (opened.handle->BeginExclusive()) opened.handle->EndExclusive();
        }
        backend->StatusJson();
        backend->TakeChange();
        FUZZ_CHECK(backend->Enumerate().empty() || backend->Connected());
    } else {
        ::close(ends[0]);
    }
    ::close(ends[1]);
    return 0;
}
