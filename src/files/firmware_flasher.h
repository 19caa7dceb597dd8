#pragma once
// Writing a firmware file through the board's bootloader, as one operation: the bootloader's
// information, the file, the size and alignment checks, the 128-byte blocks with their
// retries, and the restart into the application.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "files/firmware_file.h"

namespace quelvan {
class BootloaderProtocol;
}

namespace quelvan::files {

constexpr int kBlockAttempts = 10;
constexpr std::chrono::milliseconds kRetryWait{500};
// The top of the flash holds the bootloader itself.
constexpr std::int64_t kBootloaderAreaSize = 2048;

// What the flasher needs from its caller. Every member may be empty.
struct FlashSeams {
    StatusSink LogMessage;    // the message log only
    StatusSink ReportStatus;  // the status bar and the message log
    // The blocking wait after a failed block; tests pass one that only records the waits.
    std::function<void(std::chrono::milliseconds)> Sleep;
    // Before the first block with 0, then after each block (written or given up).
    std::function<void(int blocksDone, int blockCount)> Progress;
    // Asked after a block attempt failed: false once the bootloader has left the bus. Nothing
    // can reach it then, so the update ends at once instead of waiting out every retry of
    // every remaining block.
    std::function<bool()> BootloaderPresent;
};

enum class FlashOutcome {
    Done,                // every block written, the application restarted: "Fertig!"
    BlocksFailed,        // some block failed all its attempts; the others were written
    BootloaderGone,      // the bootloader left the bus during the blocks; the rest was not sent
    NoBootloader,        // no bootloader held: nothing happened
    BootloaderSilent,    // the information get failed
    BootloaderNonsense,  // page or flash size that no bootloader can have
    FileUnusable,        // missing, unreadable, bad checksum, no data, range outside the image
    FileTooLarge,        // the file reaches into the bootloader's area
};

struct FlashResult {
    FlashOutcome outcome = FlashOutcome::NoBootloader;
    std::int64_t bytes = 0;  // the aligned range, as announced
    int blockCount = 0;
    int failedBlocks = 0;  // blocks not written: failed, or not sent after the bootloader left
    // The bootloader was told to start the application (it stays active otherwise).
    bool LeftBootloader() const { return outcome == FlashOutcome::Done || outcome == FlashOutcome::BlocksFailed; }
    bool Succeeded() const { return outcome == FlashOutcome::Done; }
};

FlashResult FlashFirmware(BootloaderProtocol& bootloader, const std::string& FileName, const FlashSeams& seams);

// The same with the file read by `read` (ReadFirmwareFile, or ReadFirmwareData on bytes in
// memory), which reports its own failures through the status sink it is given.
using FirmwareReader = std::function<bool(FlashImage& image, std::int32_t& StartAddress, std::int32_t& EndAddress,
                                          const StatusSink& ReportStatus)>;
FlashResult FlashFirmware(BootloaderProtocol& bootloader, const FirmwareReader& read, const FlashSeams& seams);

}  // namespace quelvan::files
