#pragma once
// The third HID backend: a client of quelvand's socket. It lists the devices the service
// holds, hears of every change the service sees (ChangeFd becomes readable), and forwards
// every transfer attempt, bytes unchanged, to the service, which runs it between its own.
//
// Sessions. A short-lived program (quelvanctl) takes the device for itself from the moment
// it opens it until it lets it go (WholeUse): its reads, changes and writes are one piece.
// A long-lived one (the window) must not keep others out all the time (OnDemand): its
// handles say they are shared, and each of its operations that reads, changes and writes
// takes the device only for that operation (HidHandle::BeginExclusive).
//
// Plain POSIX, no Qt: quelvanctl links it and stays small and fast to start.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_backend.h"

namespace quelvan {

class ServiceBackend final : public HidBackend {
public:
    enum class Sessions { WholeUse, OnDemand };
    struct Options {
        Sessions sessions = Sessions::WholeUse;
        std::string client = "quelvanctl";
        // How long a reply may take; longer than the service lets a request wait for
        // another program's session, so that its "busy" answer arrives first.
        int replyTimeoutMs = 60000;
    };

    // Connects to the first of `paths` that a service answers on (says hello on it); nullptr
    // with the reason otherwise.
    static std::unique_ptr<ServiceBackend> Connect(const std::vector<std::string>& paths, const Options& options,
                                                   std::string* error);
    // The same over a socket already connected (tests and fuzzing); takes the descriptor.
    static std::unique_ptr<ServiceBackend> Adopt(int fd, const std::string& path, const Options& options,
                                                 std::string* error);
    ~ServiceBackend() override;
    ServiceBackend(const ServiceBackend&) = delete;
    ServiceBackend& operator=(const ServiceBackend&) = delete;

    std::vector<HidInterfaceInfo> Enumerate() override;
    HidOpenResult Open(const HidInterfaceInfo& device) override;
    std::optional<std::u16string> ReadString(const HidInterfaceInfo& device, HidString which) override;
    // Readable when the service sent an event (also one read while waiting for a reply),
    // or when the connection ended: the devices are then gone.
    int ChangeFd() const override;
    bool TakeChange() override;
    std::string Problem() const override;

    const std::string& SocketPath() const;
    bool Connected() const;
    // The service's report on itself (its "status" reply) as JSON text; nullopt when the
    // connection has ended.
    std::optional<std::string> StatusJson();
    // The service's reply to "forget" (ok or not) as JSON text; nullopt when the connection
    // has ended. `force`: also a board that another service held or that is online.
    std::optional<std::string> ForgetJson(const std::string& serial, bool force = false);
    // The web page's address and token (kWebToken's reply).
    std::optional<std::string> WebTokenJson();
    // Any other request given as a JSON object's text (an "op" and its fields), its reply
    // as text; nullopt when the connection has ended.
    std::optional<std::string> RequestJson(const std::string& request);

    struct Connection;

private:
    explicit ServiceBackend(std::shared_ptr<Connection> connection);
    std::shared_ptr<Connection> connection_;
};

}  // namespace quelvan
