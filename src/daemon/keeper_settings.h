#pragma once
// The keepers' sections of quelvand.conf ([service] holds the clock's two keys): the
// settings history and the alarms' bounds. dist/service/quelvand.conf documents every key.
//
//   [history]   keep = on, folder =   (empty: the state directory's history/)
//   [alarm]     water_min, water_max, supply_min, supply_max (off while empty),
//               hysteresis_c = 0.3, hysteresis_v = 0.1, missing_after_s = 120

#include <optional>
#include <string>
#include <vector>

#include "service/service_config.h"

namespace quelvan::service {

struct HistorySection {
    bool keep = true;
    std::string folder;  // empty: DefaultHistoryFolder()
};

// A bound not set is off.
struct AlarmSection {
    std::optional<double> waterMin, waterMax;    // °C
    std::optional<double> supplyMin, supplyMax;  // V
    double hysteresisC = 0.3;
    double hysteresisV = 0.1;
    int missingAfterS = 120;  // 0: off
};

ConfigSection HistoryConfigSection(HistorySection& target);
ConfigSection AlarmConfigSection(AlarmSection& target);
// A lower bound must lie below its upper bound.
void CheckAlarmBounds(const AlarmSection& alarm, std::vector<std::string>& errors);

}  // namespace quelvan::service
