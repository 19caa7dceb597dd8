#include "backend/backend_factory.h"

#include "backend/hidapi_backend.h"
#include "simulator/simulated_backend.h"

namespace quelvan {

std::unique_ptr<HidBackend> MakeBackend(const BackendOptions& options, const Clock& clock, std::string* error) {
    if (!options.simulate) {
        HidapiBackend::Options real;
        if (!options.watchDevices) real.monitor = HidapiBackend::Monitor::Never;
        return HidapiBackend::Create(real, error);
    }

    auto simulated = std::make_unique<sim::SimulatedHidBackend>(sim::BoardSettings{}, &clock);
    if (!options.stateFile.empty()) {
        std::string message;
        if (!simulated->SetStateFile(options.stateFile, &message)) {
            if (error) *error = message.empty() ? "cannot use the state file " + options.stateFile : message;
            return nullptr;
        }
        if (options.holdStateFile) simulated->HoldStateLock(true);
    }
    return simulated;
}

}  // namespace quelvan
