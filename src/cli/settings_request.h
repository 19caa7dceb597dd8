#pragma once
// What the settings commands of quelvanctl ask for, after parsing and range checks.

#include <optional>
#include <utility>
#include <vector>

namespace quelvan {
struct ConfigKey;
}

namespace quelvan::cli {

struct SettingsRequest {
    // config set: each key with the value it gets, in the order given.
    std::vector<std::pair<const ConfigKey*, long long>> changes;
    // weather set: the values given; the others stay as the board has them.
    std::optional<int> cloudsPerDay;
    std::optional<int> cloudSeconds;
    std::optional<int> stormsPerDay;
    std::optional<int> stormMinutes;
};

}  // namespace quelvan::cli
