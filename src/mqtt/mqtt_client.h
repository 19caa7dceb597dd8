#pragma once
// The connection to the MQTT broker: libmosquitto driven from the Qt event loop through its
// external-loop calls, no thread of its own. A read notifier on the library's socket calls
// loop_read, a write notifier (enabled only while the library has something to send) calls
// loop_write, and a one-second timer calls loop_misc for the keep-alive. The socket changes
// with every connection, so the notifiers are made anew each time.
//
// Connecting is asynchronous; a lost or refused connection is tried again after 1, 2, 4 ...
// up to 60 seconds (a quarter more or less at random, so that many services do not come
// back at the same moment), and a connection attempt without an answer is given up after
// 15 seconds. Username and password, TLS with a CA file, and a will message are set once.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "mqtt/mqtt_transport.h"

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;

namespace quelvan::service {

struct MosquittoLibrary;

struct MqttClientOptions {
    std::string host;
    int port = 1883;
    std::string clientId;
    std::string username;  // empty: none
    std::string password;
    std::string caFile;  // set: TLS, the broker's certificate and name checked
    int keepalive = 60;
    // Published by the broker when this client goes without saying goodbye.
    std::string willTopic;
    std::string willPayload;
};

class MqttClient : public QObject, public MqttTransport {
    Q_OBJECT
public:
    explicit MqttClient(MqttClientOptions options, QObject* parent = nullptr);
    ~MqttClient() override;

    // Sets the library's client up and starts connecting. False (with the reason) when the
    // options cannot be used at all (a CA file that cannot be read).
    bool Start(std::string* error);
    // Sends what is queued and says goodbye (no will), waiting at most `timeoutMs`.
    void Close(int timeoutMs);

    // MqttTransport
    bool Connected() const override { return state_ == State::Connected; }
    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain) override;
    bool Subscribe(const std::string& filter, int qos) override;
    bool Unsubscribe(const std::string& filter) override;

    std::function<void()> onConnected;
    std::function<void()> onDisconnected;
    std::function<void(const std::string& topic, const std::string& payload, bool retained)> onMessage;
    std::function<void(int messageId)> onPublished;

    // For `quelvanctl service status`: "connected", "connecting", or "waiting N s to
    // reconnect", and the last problem.
    std::string StateText() const;
    const std::string& LastError() const { return lastError_; }
    const MqttClientOptions& Options() const { return options_; }

    static constexpr int kMaxBackoffMs = 60000;
    static constexpr int kConnectTimeoutMs = 15000;

private:
    enum class State { Idle, Connecting, Connected, Waiting };
    static void OnConnect(mosquitto*, void* self, int code);
    static void OnDisconnect(mosquitto*, void* self, int code);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnPublish(mosquitto*, void* self, int mid);

    void Connect();
    void Lost(const std::string& why);
    void SyncNotifiers();
    void Readable();
    void Writable();
    void Tick();

    MqttClientOptions options_;
    const MosquittoLibrary* lib_ = nullptr;
    mosquitto* client_ = nullptr;
    State state_ = State::Idle;
    int socket_ = -1;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    QTimer* misc_ = nullptr;
    QTimer* retry_ = nullptr;
    QTimer* connectTimeout_ = nullptr;
    int backoffMs_ = 1000;
    std::string lastError_;
    bool closing_ = false;
};

}  // namespace quelvan::service
