#include "mqtt_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace quelvan::testing {

namespace {

constexpr const char* kBrokerPath = "/usr/sbin/mosquitto";

bool Answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

int Run(const std::vector<std::string>& args, const std::string& log) {
    const pid_t pid = SpawnTied(args, {log, log, true});
    if (pid < 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

MqttBroker::MqttBroker(std::string moreConfig) : folder_(dir_.File("")), moreConfig_(std::move(moreConfig)) {
    for (int attempt = 0; attempt < 5 && !Running(); ++attempt) Launch(FreeLoopbackPort());
}

MqttBroker::~MqttBroker() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool MqttBroker::Launch(int port) {
    if (port <= 0) return false;
    const std::string config = dir_.File("mosquitto.conf");
    const passwd* user = ::getpwuid(::geteuid());
    std::ofstream(config) << "persistence false\n"
                          << "user " << (user ? user->pw_name : "root") << "\n"
                          << "listener " << port << " 127.0.0.1\n"
                          << (moreConfig_.empty() ? "allow_anonymous true\n" : moreConfig_);
    std::vector<std::string> args = {kBrokerPath, "-c", config};
    const pid_t pid = SpawnTied(args, {dir_.File("mosquitto.log"), dir_.File("mosquitto.log"), true});
    if (pid < 0) return false;
    for (int i = 0; i < 400; ++i) {
        if (Answers(port)) {
            pid_ = pid;
            port_ = port;
            return true;
        }
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;  // the port was taken meanwhile
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

void MqttBroker::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
}

bool MqttBroker::Start() {
    // The old socket may linger for a moment; the port is the same one the service knows.
    for (int attempt = 0; attempt < 40 && !Running(); ++attempt) {
        if (!Launch(port_)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Running();
}

MqttTestClient::MqttTestClient(int port, MqttClientSetup setup) {
    mosquitto_lib_init();
    // Two clients of one id knock each other off the broker.
    static int made = 0;
    client_ = mosquitto_new((setup.id + "-" + std::to_string(++made)).c_str(), true, this);
    mosquitto_message_callback_set(client_, &MqttTestClient::OnMessage);
    mosquitto_connect_callback_set(
        client_, [](mosquitto*, void* self, int code) { static_cast<MqttTestClient*>(self)->connected_ = code == 0; });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
        ++static_cast<MqttTestClient*>(self)->subscriptions_;
    });
    if (!setup.username.empty()) mosquitto_username_pw_set(client_, setup.username.c_str(), setup.password.c_str());
    if (!setup.caFile.empty()) mosquitto_tls_set(client_, setup.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (mosquitto_connect(client_, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS)
        WaitUntil([this] { return connected_; }, std::chrono::seconds(5));
}

MqttTestClient::~MqttTestClient() {
    if (connected_) {
        mosquitto_disconnect(client_);
        mosquitto_loop(client_, 100, 1);
    }
    mosquitto_destroy(client_);
}

void MqttTestClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttTestClient*>(self);
    MqttMessage m;
    m.topic = message->topic;
    if (message->payload && message->payloadlen > 0)
        m.payload.assign(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
    m.retained = message->retain;
    client->messages_.push_back(m);
    client->last_[m.topic] = m;
}

void MqttTestClient::Subscribe(const std::string& filter) {
    const int before = subscriptions_;
    mosquitto_subscribe(client_, nullptr, filter.c_str(), 1);
    WaitUntil([&] { return subscriptions_ > before; }, std::chrono::seconds(5));
}

void MqttTestClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
    int mid = 0;
    mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    // Out on the wire before the caller looks for what it causes.
    for (int i = 0; i < 20 && mosquitto_want_write(client_); ++i) mosquitto_loop(client_, 10, 1);
}

bool MqttTestClient::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (mosquitto_loop(client_, 20, 1) != MOSQ_ERR_SUCCESS)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void MqttTestClient::Listen(std::chrono::milliseconds span) {
    WaitUntil([] { return false; }, span);
}

std::optional<MqttMessage> MqttTestClient::Last(const std::string& topic) const {
    const auto it = last_.find(topic);
    if (it == last_.end()) return std::nullopt;
    return it->second;
}

bool MqttTestClient::WaitFor(const std::string& topic, const std::string& payload, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            const auto m = Last(topic);
            return m && m->payload == payload;
        },
        limit);
}

void MqttTestClient::Clear() {
    messages_.clear();
    last_.clear();
}

bool MakeTestCertificates(const std::string& folder) {
    const std::string log = folder + "/openssl.log";
    const std::string ext = folder + "/server.ext";
    std::ofstream(ext) << "subjectAltName = IP:127.0.0.1, DNS:localhost\n";
    return Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=Quelvan test CA", "-keyout", folder + "/ca.key", "-out", folder + "/ca.crt"},
               log) == 0 &&
           Run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                folder + "/server.key", "-out", folder + "/server.csr"},
               log) == 0 &&
           Run({"openssl", "x509", "-req", "-in", folder + "/server.csr", "-CA", folder + "/ca.crt", "-CAkey",
                folder + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", ext, "-out", folder + "/server.crt"},
               log) == 0;
}

}  // namespace quelvan::testing
