#pragma once
// A broker for one test (Debian's mosquitto on a free loopback port, with a generated
// configuration) and a client standing in for Home Assistant (libmosquitto, driven by its
// own blocking loop with time limits: no threads).

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "run_quelvanctl.h"

struct mosquitto;
struct mosquitto_message;

namespace quelvan::testing {

// A loopback port nobody listens on now.
int FreeLoopbackPort();

class MqttBroker {
public:
    // `moreConfig` goes into the listener's part of the configuration (TLS files, passwords);
    // without it the listener lets anyone in.
    explicit MqttBroker(std::string moreConfig = {});
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    const std::string& Folder() const { return folder_; }
    // SIGKILL by its process id; then Start() again on the same port (nothing retained
    // survives: the broker keeps no persistence).
    void Kill();
    bool Start();

private:
    bool Launch(int port);

    ScratchDir dir_;
    std::string folder_, moreConfig_;
    int port_ = 0;
    pid_t pid_ = 0;
};

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

struct MqttClientSetup {
    std::string id = "home-assistant-test";
    std::string username, password;
    std::string caFile;
};

class MqttTestClient {
public:
    MqttTestClient(int port, MqttClientSetup setup = {});
    ~MqttTestClient();
    MqttTestClient(const MqttTestClient&) = delete;
    MqttTestClient& operator=(const MqttTestClient&) = delete;

    bool Connected() const { return connected_; }
    void Subscribe(const std::string& filter);
    void Publish(const std::string& topic, const std::string& payload, bool retain = false);
    // Runs the client's loop until `done()` or `limit` has passed; returns done().
    bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Runs the loop for `span` (to see that something does not come).
    void Listen(std::chrono::milliseconds span);

    const std::vector<MqttMessage>& Messages() const { return messages_; }
    // The last message on `topic`, if any came.
    std::optional<MqttMessage> Last(const std::string& topic) const;
    // Waits for the last message on `topic` to be `payload`.
    bool WaitFor(const std::string& topic, const std::string& payload,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));
    void Clear();

private:
    static void OnMessage(mosquitto*, void* self, const ::mosquitto_message* message);
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    int subscriptions_ = 0;
    std::vector<MqttMessage> messages_;
    std::map<std::string, MqttMessage> last_;
};

// A throw-away certificate authority and a broker certificate for 127.0.0.1 and localhost,
// made with openssl in `folder`: ca.crt, server.crt, server.key. False when openssl fails.
bool MakeTestCertificates(const std::string& folder);

}  // namespace quelvan::testing
