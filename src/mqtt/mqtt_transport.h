#pragma once
// What the MQTT bridge needs of a connection to the broker: publishing and subscribing.
// libmosquitto stands behind it in the service (mqtt_client.h); tests and the fuzzer put a
// recording one in its place.

#include <string>

namespace quelvan::service {

class MqttTransport {
public:
    virtual ~MqttTransport() = default;
    virtual bool Connected() const = 0;
    // The message id (> 0) once the message is queued for the broker; 0 when it is not.
    // A message of QoS 1 is confirmed later through the bridge's OnPublished.
    virtual int Publish(const std::string& topic, const std::string& payload, int qos, bool retain) = 0;
    virtual bool Subscribe(const std::string& filter, int qos) = 0;
    virtual bool Unsubscribe(const std::string& filter) = 0;
};

}  // namespace quelvan::service
