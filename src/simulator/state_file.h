#pragma once
// The simulated board's state file: a JSON document with everything that makes up the
// board (RAM, EEPROM, flash, bus presence, settings) and the wall-clock time it was
// written, so that a later process finds the same board with its clock run on.
// The keys are described in README.md beside this file.

#include <cstdint>
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

struct StateSnapshot {
    BoardData board;
    BusState bus;
    std::int64_t savedAtUnixMs = 0;
};

std::string WriteStateJson(const StateSnapshot& state);
// Fills `state` only when the whole document is valid; otherwise false with a message.
bool ReadStateJson(const std::string& text, StateSnapshot& state, std::string* error);

// Whole-file helpers: the write goes to a temporary file that is then renamed over the
// target, so that a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);
bool ReadWholeFile(const std::string& path, std::string& text, std::string* error);

std::int64_t WallClockUnixMs();

}  // namespace quelvan::sim
