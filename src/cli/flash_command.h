#pragma once
// quelvanctl flash FILE [--yes]: the firmware update from the command line. With the board
// running its application it asks for confirmation, sends it into its bootloader and waits
// for the bootloader to arrive; a bootloader already waiting is flashed at once. Afterwards
// it waits for the board to come back with its new firmware.

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <vector>

#include "cli/board_session.h"
#include "cli/command_line.h"
#include "device/clock.h"
#include "device/hid_backend.h"
#include "device/transfer_trace.h"

namespace quelvan::cli {

// What the command needs from the process around it; tests replace each part.
struct FlashConsole {
    bool inputIsTerminal = false;  // a user can answer the confirmation
    bool errorIsTerminal = false;  // progress as a bar instead of one line per block
    std::istream* input = nullptr;
    std::function<void(std::chrono::milliseconds)> sleep;  // the waits after a failed block
    // How long the bootloader may take to arrive, and the board to return after the update.
    std::chrono::milliseconds arrivalTimeout{20000};

    // Standard input and error as they are, and real waits.
    static FlashConsole FromProcess();
};

// Reads the firmware file once and checks it; a failure (exit 5) carries the reader's message.
std::optional<Failure> LoadFirmware(const std::string& path, std::vector<std::uint8_t>& bytes);

// `preloaded`: the file's bytes as LoadFirmware read them; read here when null.
int RunFlashCommand(const Request& request, HidBackend& backend, const Clock& clock, TransferTraceFile* trace,
                    std::ostream& out, std::ostream& err, const FlashConsole& console,
                    const std::vector<std::uint8_t>* preloaded = nullptr);

}  // namespace quelvan::cli
