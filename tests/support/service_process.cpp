#include "service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace quelvan::testing {

namespace {

int ConnectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

ServiceProcess::ServiceProcess(const std::string& stateFile, int pollMs)
    : ServiceProcess(Options{{stateFile}, pollMs, {}, {}}) {}

ServiceProcess::ServiceProcess(const Options& options) {
    folder_ = dir_.File("");
    socket_ = dir_.File("quelvand.sock");
    log_ = dir_.File("quelvand.log");
    const std::string config = dir_.File("quelvand.conf");
    // The keepers that write to the board or read it on their own only where a test asks for
    // them: the other tests count the board's transfers.
    const bool clockSync = options.moreConfig.find("clock_sync") != std::string::npos;
    const bool history = options.moreConfig.find("[history]") != std::string::npos;
    std::ofstream(config) << "[service]\npoll_ms = " << options.pollMs << "\nsocket = " << socket_ << "\n"
                          << (clockSync ? "" : "clock_sync = off\n") << (history ? "" : "[history]\nkeep = off\n")
                          << options.moreConfig;
    std::vector<std::string> args = {QUELVAND_PATH, "--config", config};
    for (const std::string& file : options.stateFiles) args.push_back("--simulate=" + file);
    if (!options.traceFile.empty()) args.insert(args.end(), {"--trace", options.traceFile});
    pid_ = SpawnTied(args, {log_, log_});
    if (pid_ < 0) throw std::runtime_error("cannot start quelvand");
    for (int i = 0; i < 2000; ++i) {
        if (const int fd = ConnectTo(socket_); fd >= 0) {
            ::close(fd);
            ::setenv("QUELVAN_SOCKET", socket_.c_str(), 1);
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return;
        }
        ::usleep(5000);
    }
}

ServiceProcess::~ServiceProcess() {
    Stop();
}

int ServiceProcess::Stop(std::string* log) {
    ::unsetenv("QUELVAN_SOCKET");
    int code = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = 0;
    }
    if (log) *log = ReadFile(log_);
    return code;
}

void ServiceProcess::Kill() {
    ::unsetenv("QUELVAN_SOCKET");
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
}

std::string ServiceProcess::Log() const {
    return ReadFile(log_);
}

RawClient::RawClient(const std::string& socketPath) : fd_(ConnectTo(socketPath)) {}

RawClient::~RawClient() {
    if (fd_ >= 0) ::close(fd_);
}

void RawClient::SendRaw(const std::string& bytes) {
    std::size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::optional<nlohmann::json> RawClient::Receive(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (const auto end = buffer_.find('\n'); end != std::string::npos) {
            const std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return nlohmann::json::parse(line, nullptr, false);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

nlohmann::json RawClient::Ask(const nlohmann::json& request) {
    Send(request);
    while (auto message = Receive()) {
        if (!message->contains("event")) return *message;
    }
    return nullptr;
}

}  // namespace quelvan::testing
