#pragma once
// Prepares simulated boards for the command-line tests: a state file that the quelvanctl
// binary picks up with --simulate=FILE, and helpers to read a transfer trace.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulator/simulated_backend.h"

namespace quelvan::testing {

// Creates (or overwrites) a state file holding a board with `settings`, after `edit` has
// changed it. The board is frozen so that its own program changes nothing between calls.
void WriteBoardState(const std::string& path, const std::function<void(sim::SimulatedHidBackend&)>& edit = {},
                     const sim::BoardSettings& settings = {});

// Restarts the simulated board into its bootloader, as the firmware-update command does.
void SendEnterBootloader(sim::SimulatedHidBackend& backend);

// One parsed trace line: "get|set <id> <length> ok|fail <bytes>".
struct TraceLine {
    bool isSet = false;
    int reportId = 0;
    int length = 0;
    bool ok = false;
    std::vector<std::uint8_t> bytes;
};
std::vector<TraceLine> ParseTrace(const std::vector<std::string>& lines);
// "get 1", "set 2", ... for comparing the order of transfers.
std::vector<std::string> TraceSummary(const std::vector<TraceLine>& lines);

// A channel value in a report-1 buffer (channel A at bytes 13-14).
int ChannelInBuffer(const std::vector<std::uint8_t>& bytes, int channel);

}  // namespace quelvan::testing
