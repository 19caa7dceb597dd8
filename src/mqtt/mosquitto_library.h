#pragma once
// libmosquitto, opened when a broker is configured and not before. Linked directly, it brings
// OpenSSL into every quelvand, about 1.7 MB of resident pages a service without MQTT never uses.
// Only the calls the client makes are looked up; the types come from the library's own header.

#include <mosquitto.h>

#include <string>

namespace quelvan::service {

// Each call as the member that holds it and the library's name without its prefix ("new" is a
// keyword, so that one is held as `create`).
// clang-format off
#define QUELVAN_MOSQUITTO_CALLS(X)                                                                  \
    X(lib_init, lib_init) X(create, new) X(destroy, destroy)                                        \
    X(connect_callback_set, connect_callback_set) X(disconnect_callback_set, disconnect_callback_set) \
    X(message_callback_set, message_callback_set) X(publish_callback_set, publish_callback_set)     \
    X(username_pw_set, username_pw_set) X(will_set, will_set) X(tls_set, tls_set)                   \
    X(connect_async, connect_async) X(disconnect, disconnect) X(socket, socket)                     \
    X(want_write, want_write) X(loop_read, loop_read) X(loop_write, loop_write)                     \
    X(loop_misc, loop_misc) X(publish, publish) X(subscribe, subscribe)                             \
    X(unsubscribe, unsubscribe) X(strerror, strerror) X(connack_string, connack_string)
// clang-format on

struct MosquittoLibrary {
#define QUELVAN_MOSQUITTO_POINTER(member, name) decltype(&::mosquitto_##name) member = nullptr;
    QUELVAN_MOSQUITTO_CALLS(QUELVAN_MOSQUITTO_POINTER)
#undef QUELVAN_MOSQUITTO_POINTER

    // The library with every call found and initialised, or null with the reason in *error.
    // Opened once per process and kept.
    static const MosquittoLibrary* Load(std::string* error);
};

}  // namespace quelvan::service
