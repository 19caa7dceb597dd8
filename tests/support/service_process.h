#pragma once
// A quelvand started for one test on a simulated board's state file, with its socket in a
// scratch folder, and the raw socket client the protocol tests speak with.

#include <sys/types.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "run_quelvanctl.h"

namespace quelvan::testing {

class ServiceProcess {
public:
    struct Options {
        std::vector<std::string> stateFiles;  // one simulated board each
        int pollMs = 0;
        std::string moreConfig;  // further sections of quelvand.conf ([mqtt])
        std::string traceFile;   // --trace
    };
    // Starts quelvand on `stateFile` and waits (bounded) until its socket answers.
    // QUELVAN_SOCKET points there while it runs, so that quelvanctl --service finds it.
    explicit ServiceProcess(const std::string& stateFile, int pollMs = 0);
    explicit ServiceProcess(const Options& options);
    // Stops it (SIGTERM) unless already stopped.
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Kills it by its process id with SIGKILL: no goodbye to anyone.
    void Kill();
    // Its log so far.
    std::string Log() const;
    const std::string& Socket() const { return socket_; }
    const std::string& Folder() const { return folder_; }
    // Stops it and returns its exit code (0: a clean end) and its log.
    int Stop(std::string* log = nullptr);

private:
    ScratchDir dir_;
    std::string folder_, socket_, log_;
    pid_t pid_ = 0;
};

// One connection spoken to line by line.
class RawClient {
public:
    explicit RawClient(const std::string& socketPath);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    void SendRaw(const std::string& bytes);
    void Send(const nlohmann::json& message) { SendRaw(message.dump() + "\n"); }
    // The next message, or nullopt when none came within `wait` (or the peer closed).
    std::optional<nlohmann::json> Receive(std::chrono::milliseconds wait = std::chrono::seconds(10));
    // A request and the next message that is not an event.
    nlohmann::json Ask(const nlohmann::json& request);

private:
    int fd_ = -1;
    std::string buffer_;
};

}  // namespace quelvan::testing
