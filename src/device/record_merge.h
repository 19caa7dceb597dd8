#pragma once
// Merging one program's edits into a record that another program may have changed since it
// was read: what differs between `base` (as this program last read it) and `mine` (its
// copy with its edits) is laid over `fresh` (as the board holds it now); the rest stays as
// fresh. Fields that are set together travel together (the clock, the moon transit).

#include "device/records.h"

namespace quelvan {

LiveState MergeLiveStateEdits(const LiveState& base, const LiveState& mine, LiveState fresh);
DeviceConfig MergeDeviceConfigEdits(const DeviceConfig& base, const DeviceConfig& mine, DeviceConfig fresh);

}  // namespace quelvan
