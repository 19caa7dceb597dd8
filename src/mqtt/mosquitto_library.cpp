#include "mqtt/mosquitto_library.h"

#include <dlfcn.h>

namespace quelvan::service {

namespace {

// The Debian package's soname; the package depends on it, so a missing library is an install fault.
constexpr const char* kSoname = "libmosquitto.so.1";

struct Loaded {
    MosquittoLibrary library;
    std::string error;
    bool ok = false;
};

Loaded Open() {
    Loaded loaded;
    void* handle = dlopen(kSoname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        loaded.error = std::string("cannot load ") + kSoname + ": " + (why ? why : "unknown error");
        return loaded;
    }
#define QUELVAN_MOSQUITTO_LOOKUP(member, name)                                                                    \
    loaded.library.member = reinterpret_cast<decltype(loaded.library.member)>(dlsym(handle, "mosquitto_" #name)); \
    if (!loaded.library.member) {                                                                                 \
        loaded.error = std::string(kSoname) + " lacks mosquitto_" #name;                                          \
        return loaded;                                                                                            \
    }
    QUELVAN_MOSQUITTO_CALLS(QUELVAN_MOSQUITTO_LOOKUP)
#undef QUELVAN_MOSQUITTO_LOOKUP
    loaded.library.lib_init();
    loaded.ok = true;
    return loaded;
}

}  // namespace

const MosquittoLibrary* MosquittoLibrary::Load(std::string* error) {
    static const Loaded loaded = Open();
    if (!loaded.ok && error) *error = loaded.error;
    return loaded.ok ? &loaded.library : nullptr;
}

}  // namespace quelvan::service
