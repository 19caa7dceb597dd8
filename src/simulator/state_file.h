#pragma once
// The simulated board's state file: a JSON document with everything that makes up the
// board (RAM, EEPROM, flash, bus presence, settings) and the wall-clock time it was
// written, so that a later process finds the same board with its clock run on.
// The keys are described in README.md beside this file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simulator/board_model.h"

namespace quelvan::sim {

struct ForeignSlot {
    ForeignDevice device;
    std::string identity;
    bool present = true;
};

// What the bus holds besides the board.
struct BusState {
    std::vector<ForeignSlot> foreign;
    int openError = 0;
    bool stringsReadable = true;
};

// Field failures to replay: transfer attempts of the process that next uses the file are
// counted from 1; the listed ones fail, and the board leaves the bus right before one.
struct FaultPlan {
    std::vector<std::int64_t> failAttempts;
    std::optional<std::int64_t> unplugBeforeAttempt;
    bool Empty() const { return failAttempts.empty() && !unplugBeforeAttempt; }
};

struct StateSnapshot {
    BoardData board;
    BusState bus;
    std::int64_t savedAtUnixMs = 0;
    FaultPlan faults;  // optional in the file
};

std::string WriteStateJson(const StateSnapshot& state);
// Fills `state` only when the whole document is valid; otherwise false with a message.
bool ReadStateJson(const std::string& text, StateSnapshot& state, std::string* error);

// A state file is a regular file of at most this size (the largest flash, as hex, fits).
constexpr std::size_t kMaxStateFileBytes = 64u << 20;

// Whole-file helpers: the write goes to a fresh temporary file in the same folder that is
// then renamed over the target, so that a reader never sees half a file. Reading accepts
// only a regular file of at most kMaxStateFileBytes.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);
bool ReadWholeFile(const std::string& path, std::string& text, std::string* error);

std::int64_t WallClockUnixMs();

}  // namespace quelvan::sim
