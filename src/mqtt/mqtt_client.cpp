#include "mqtt/mqtt_client.h"

#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mqtt/mosquitto_library.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

std::string ErrorText(const MosquittoLibrary& lib, int code) {
    if (code == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return lib.strerror(code);
}

// A notifier is never deleted inside its own signal: disabled at once, deleted later.
void Drop(QSocketNotifier*& notifier) {
    if (!notifier) return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

}  // namespace

MqttClient::MqttClient(MqttClientOptions options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    misc_ = new QTimer(this);
    misc_->setInterval(1000);
    connect(misc_, &QTimer::timeout, this, &MqttClient::Tick);
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &MqttClient::Connect);
    connectTimeout_ = new QTimer(this);
    connectTimeout_->setSingleShot(true);
    connect(connectTimeout_, &QTimer::timeout, this, [this] { Lost("no answer from the broker"); });
}

MqttClient::~MqttClient() {
    Drop(reader_);
    Drop(writer_);
    if (client_) lib_->destroy(client_);
}

bool MqttClient::Start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::string why;
    lib_ = MosquittoLibrary::Load(&why);
    if (!lib_) return fail(why);
    client_ = lib_->create(options_.clientId.c_str(), true, this);
    if (!client_) return fail("cannot set up the MQTT client");
    lib_->connect_callback_set(client_, &MqttClient::OnConnect);
    lib_->disconnect_callback_set(client_, &MqttClient::OnDisconnect);
    lib_->message_callback_set(client_, &MqttClient::OnMessage);
    lib_->publish_callback_set(client_, &MqttClient::OnPublish);
    if (!options_.username.empty() &&
        lib_->username_pw_set(client_, options_.username.c_str(),
                              options_.password.empty() ? nullptr : options_.password.c_str()) != MOSQ_ERR_SUCCESS)
        return fail("the MQTT user name cannot be used");
    if (!options_.willTopic.empty() &&
        lib_->will_set(client_, options_.willTopic.c_str(), static_cast<int>(options_.willPayload.size()),
                       options_.willPayload.data(), 1, true) != MOSQ_ERR_SUCCESS)
        return fail("the will message cannot be set");
    if (!options_.caFile.empty()) {
        if (::access(options_.caFile.c_str(), R_OK) != 0) return fail("cannot read the CA file " + options_.caFile);
        const int rc = lib_->tls_set(client_, options_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) return fail("TLS with " + options_.caFile + ": " + ErrorText(*lib_, rc));
    }
    LogInfo("MQTT: connecting to " + options_.host + ":" + std::to_string(options_.port) + " as " + options_.clientId +
            (options_.caFile.empty() ? "" : " (TLS)"));
    misc_->start();
    Connect();
    return true;
}

void MqttClient::Connect() {
    if (!client_ || closing_) return;
    state_ = State::Connecting;
    const int rc = lib_->connect_async(client_, options_.host.c_str(), options_.port, options_.keepalive);
    if (rc != MOSQ_ERR_SUCCESS) {
        Lost(ErrorText(*lib_, rc));
        return;
    }
    connectTimeout_->start(kConnectTimeoutMs);
    // A new connection has a new socket (it may even carry the old one's number).
    Drop(reader_);
    Drop(writer_);
    socket_ = -1;
    SyncNotifiers();
}

void MqttClient::Lost(const std::string& why) {
    if (state_ == State::Waiting || state_ == State::Idle || closing_) return;
    const bool wasConnected = state_ == State::Connected;
    state_ = State::Waiting;
    connectTimeout_->stop();
    Drop(reader_);
    Drop(writer_);
    socket_ = -1;
    if (wasConnected) backoffMs_ = 1000;
    const int jitter = backoffMs_ / 4;
    const int delay = backoffMs_ - jitter + QRandomGenerator::global()->bounded(2 * jitter + 1);
    retry_->start(delay);
    backoffMs_ = std::min(backoffMs_ * 2, kMaxBackoffMs);
    if (why != lastError_ || wasConnected)
        LogWarning("MQTT: " + options_.host + ":" + std::to_string(options_.port) + ": " + why + "; trying again in " +
                   std::to_string((delay + 500) / 1000) + " s");
    lastError_ = why;
    if (wasConnected && onDisconnected) onDisconnected();
}

void MqttClient::SyncNotifiers() {
    const int fd = client_ ? lib_->socket(client_) : -1;
    const bool active = state_ == State::Connecting || state_ == State::Connected;
    if (fd != socket_ || !active) {
        Drop(reader_);
        Drop(writer_);
        socket_ = -1;
    }
    if (fd < 0 || !active) return;
    if (!reader_) {
        socket_ = fd;
        reader_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(reader_, &QSocketNotifier::activated, this, &MqttClient::Readable);
        writer_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(writer_, &QSocketNotifier::activated, this, &MqttClient::Writable);
    }
    writer_->setEnabled(lib_->want_write(client_));
}

void MqttClient::Readable() {
    const int rc = lib_->loop_read(client_, 1);
    if (rc != MOSQ_ERR_SUCCESS) Lost(ErrorText(*lib_, rc));
    SyncNotifiers();
}

void MqttClient::Writable() {
    const int rc = lib_->loop_write(client_, 1);
    if (rc != MOSQ_ERR_SUCCESS) Lost(ErrorText(*lib_, rc));
    SyncNotifiers();
}

void MqttClient::Tick() {
    if (state_ != State::Connecting && state_ != State::Connected) return;
    const int rc = lib_->loop_misc(client_);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) Lost(ErrorText(*lib_, rc));
    SyncNotifiers();
}

int MqttClient::Publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
    if (!Connected()) return 0;
    int mid = 0;
    const int rc =
        lib_->publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
    SyncNotifiers();
    if (rc != MOSQ_ERR_SUCCESS) {
        LogWarning("MQTT: cannot publish " + topic + ": " + ErrorText(*lib_, rc));
        return 0;
    }
    return mid;
}

bool MqttClient::Subscribe(const std::string& filter, int qos) {
    if (!Connected()) return false;
    const int rc = lib_->subscribe(client_, nullptr, filter.c_str(), qos);
    SyncNotifiers();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::Unsubscribe(const std::string& filter) {
    if (!Connected()) return false;
    const int rc = lib_->unsubscribe(client_, nullptr, filter.c_str());
    SyncNotifiers();
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::Close(int timeoutMs) {
    if (!client_ || closing_) return;
    const bool connected = Connected();
    closing_ = true;
    misc_->stop();
    retry_->stop();
    connectTimeout_->stop();
    Drop(reader_);
    Drop(writer_);
    if (!connected) return;
    // The goodbye goes out after everything queued before it; the broker then drops the will.
    lib_->disconnect(client_);
    QElapsedTimer waited;
    waited.start();
    while (lib_->want_write(client_) && lib_->socket(client_) >= 0 && !waited.hasExpired(timeoutMs)) {
        pollfd p{lib_->socket(client_), POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<qint64>(1, timeoutMs - waited.elapsed()))) <= 0) break;
        if (lib_->loop_write(client_, 1) != MOSQ_ERR_SUCCESS) break;
    }
    state_ = State::Idle;
}

std::string MqttClient::StateText() const {
    switch (state_) {
        case State::Connected:
            return "connected";
        case State::Connecting:
            return "connecting";
        case State::Waiting:
            return "waiting " + std::to_string((retry_->remainingTime() + 999) / 1000) + " s to reconnect";
        case State::Idle:
            break;
    }
    return "off";
}

// ---- the library's callbacks, inside its loop calls ----

void MqttClient::OnConnect(mosquitto*, void* self, int code) {
    auto* client = static_cast<MqttClient*>(self);
    if (code != 0) {
        client->Lost(std::string("the broker refused the connection: ") + client->lib_->connack_string(code));
        return;
    }
    client->state_ = State::Connected;
    client->connectTimeout_->stop();
    client->backoffMs_ = 1000;
    if (!client->lastError_.empty())
        LogInfo("MQTT: connected to " + client->options_.host + ":" + std::to_string(client->options_.port));
    client->lastError_.clear();
    if (client->onConnected) client->onConnected();
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int code) {
    auto* client = static_cast<MqttClient*>(self);
    client->Lost(code == 0 ? std::string("disconnected") : "connection lost: " + ErrorText(*client->lib_, code));
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (!client->onMessage || !message || !message->topic) return;
    const std::string payload =
        message->payload && message->payloadlen > 0
            ? std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen))
            : std::string();
    client->onMessage(message->topic, payload, message->retain);
}

void MqttClient::OnPublish(mosquitto*, void* self, int mid) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->onPublished) client->onPublished(mid);
}

}  // namespace quelvan::service
