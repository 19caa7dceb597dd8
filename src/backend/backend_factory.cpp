#include "backend/backend_factory.h"

#include "backend/hidapi_backend.h"
#include "backend/service_backend.h"
#include "backend/service_protocol.h"
#include "simulator/simulated_backend.h"

namespace quelvan {

std::unique_ptr<HidBackend> MakeBackend(const BackendOptions& options, const Clock& clock, std::string* error,
                                        bool* usedService) {
    if (usedService) *usedService = false;
    if (!options.simulate && options.service != BackendOptions::Service::Never) {
        ServiceBackend::Options client;
        client.sessions = options.longLived ? ServiceBackend::Sessions::OnDemand : ServiceBackend::Sessions::WholeUse;
        client.client = options.clientName;
        std::string why;
        if (auto served = ServiceBackend::Connect(wire::ClientSocketPaths(), client, &why)) {
            if (usedService) *usedService = true;
            return served;
        }
        if (options.service == BackendOptions::Service::Required) {
            if (error) *error = why;
            return nullptr;
        }
    }
    if (!options.simulate) {
        HidapiBackend::Options real;
        if (!options.watchDevices) real.monitor = HidapiBackend::Monitor::Never;
        return HidapiBackend::Create(real, error);
    }

    sim::BoardSettings settings;
    if (!options.freshSerial.empty())
        settings.serialNumber.assign(options.freshSerial.begin(), options.freshSerial.end());
    auto simulated = std::make_unique<sim::SimulatedHidBackend>(settings, &clock);
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
