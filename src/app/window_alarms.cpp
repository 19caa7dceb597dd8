#include "app/window_alarms.h"

#include "backend/service_backend.h"
#include "window/main_window.h"

namespace quelvan {

std::unique_ptr<ServiceAlarmWatch> WatchServiceAlarms(HidBackend& backend, TfrmQuelvan& window,
                                                      DesktopNotifier& notifier) {
    auto* service = dynamic_cast<ServiceBackend*>(&backend);
    if (!service) return nullptr;
    return std::make_unique<ServiceAlarmWatch>(
        [service]() -> std::optional<nlohmann::json> {
            const std::optional<std::string> text = service->StatusJson();
            if (!text) return std::nullopt;
            return nlohmann::json::parse(*text, nullptr, false);
        },
        [&window](const QString& line) { window.LogMessage(line); }, notifier);
}

}  // namespace quelvan
