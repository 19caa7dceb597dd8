#pragma once
// The window running on the service tells the service's alarms (service_alarms.h): a line in
// its "Meldungen" and a desktop notification for each alarm raised.

#include <memory>

#include "app/service_alarms.h"

namespace quelvan {

class HidBackend;
class TfrmQuelvan;

// The watch over the service's alarms for `window`, asking the service that `backend` is a
// client of; null when the window runs on the bus or the simulated board, which raise no
// alarms. The watch must go before the window, the backend and the notifier.
std::unique_ptr<ServiceAlarmWatch> WatchServiceAlarms(HidBackend& backend, TfrmQuelvan& window,
                                                      DesktopNotifier& notifier);

}  // namespace quelvan
