#pragma once
// What `quelvanctl status` prints: the board's live state and the settings that matter
// for its operation, as text or as JSON.

#include <nlohmann/json.hpp>
#include <ostream>

#include "device/records.h"

namespace quelvan::cli {

void PrintStatus(const LiveState& live, const DeviceConfig& config, std::ostream& out);
nlohmann::json StatusJson(const LiveState& live, const DeviceConfig& config);

}  // namespace quelvan::cli
