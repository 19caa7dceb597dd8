#pragma once
// What `quelvanctl status` prints: the board's live state and the settings that matter
// for its operation, as text (here) or as JSON (StatusJson, shared with quelvand's web API).

#include <ostream>

#include "device/records.h"
#include "schedule/board_json.h"

namespace quelvan::cli {

void PrintStatus(const LiveState& live, const DeviceConfig& config, std::ostream& out);

}  // namespace quelvan::cli
