#include "files/firmware_flasher.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "device/bootloader_protocol.h"
#include "device/hid_device_controller.h"

namespace quelvan::files {

namespace {

void Send(const StatusSink& sink, const std::string& text) {
    if (sink) sink(text);
}

std::string BlockLine(std::int64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llX", static_cast<long long>(address));
    return text;
}

bool PowerOfTwo(unsigned value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The 128 image bytes of a block; the image ends before the last block can when the
// alignment reaches past it, and what lies beyond is sent as erased flash.
std::array<std::uint8_t, bootloader::kBlockSize> BlockBytes(const FlashImage& image, std::int64_t address) {
    std::array<std::uint8_t, bootloader::kBlockSize> block;
    block.fill(0xFF);
    for (std::size_t i = 0; i < block.size(); ++i) {
        const auto at = static_cast<std::size_t>(address) + i;
        if (at < image.size()) block[i] = image[at];
    }
    return block;
}

}  // namespace

FlashResult FlashFirmware(BootloaderProtocol& bootloader, const std::string& FileName, const FlashSeams& seams) {
    return FlashFirmware(
        bootloader,
        [&](FlashImage& image, std::int32_t& start, std::int32_t& end, const StatusSink& report) {
            return ReadFirmwareFile(FileName, image, start, end, report);
        },
        seams);
}

FlashResult FlashFirmware(BootloaderProtocol& bootloader, const FirmwareReader& read, const FlashSeams& seams) {
    FlashResult result;
    if (!bootloader.Device()) return result;
    // Shared through the service: the whole update is one turn on the bootloader.
    const ExclusiveUse exclusive(bootloader.Device());

    if (!bootloader.ReadInfo()) {
        Send(seams.ReportStatus, "FEHLER: Bootloader reagiert nicht!");
        result.outcome = FlashOutcome::BootloaderSilent;
        return result;
    }
    const unsigned pageSize = bootloader.PageSize();
    const std::int64_t flashSize = bootloader.FlashSize();
    const std::int64_t usableSize = flashSize - kBootloaderAreaSize;

    // Answers that no bootloader can give: the alignment would be meaningless, or there
    // would be no room for the application, or the last block would reach into the
    // bootloader's own area.
    if (pageSize >= bootloader::kBlockSize && !PowerOfTwo(pageSize)) {
        Send(seams.ReportStatus, "FEHLER: Bootloader meldet ungültige Seitengröße " + std::to_string(pageSize) + "!");
        result.outcome = FlashOutcome::BootloaderNonsense;
        return result;
    }
    if (usableSize <= 0 || usableSize % static_cast<std::int64_t>(bootloader::kBlockSize) != 0) {
        Send(seams.ReportStatus, "FEHLER: Bootloader meldet ungültige Flashgröße " + std::to_string(flashSize) + "!");
        result.outcome = FlashOutcome::BootloaderNonsense;
        return result;
    }

    // Bytes of the first and last block that the file does not cover go out as erased flash.
    const auto image = std::make_unique<FlashImage>();
    image->fill(0xFF);
    std::int32_t startAddress = static_cast<std::int32_t>(kFlashImageSize);
    std::int32_t endAddress = 0;
    if (!read(*image, startAddress, endAddress, seams.ReportStatus)) {
        result.outcome = FlashOutcome::FileUnusable;
        return result;
    }

    Send(seams.LogMessage, "Flashgröße: " + std::to_string(endAddress) + " / " + std::to_string(usableSize) + " Bytes");
    if (usableSize < endAddress) {
        Send(seams.ReportStatus, "FEHLER: Datei ist " + std::to_string(endAddress - usableSize) + " Bytes zu groß!");
        result.outcome = FlashOutcome::FileTooLarge;
        return result;
    }

    // Align to the page, at least to 128 bytes. The end is rounded up from the byte after
    // the last one, so that a last byte on an aligned address is written too; but no block
    // starts in the bootloader's area (a file ending exactly at the usable size keeps its
    // last byte out).
    const std::int64_t mask = pageSize >= bootloader::kBlockSize ? pageSize - 1 : bootloader::kBlockSize - 1;
    const std::int64_t first = startAddress & ~mask;
    const std::int64_t end = std::min((static_cast<std::int64_t>(endAddress) + 1 + mask) & ~mask, usableSize);
    constexpr auto kStep = static_cast<std::int64_t>(bootloader::kBlockSize);
    result.bytes = end - first;
    result.blockCount = static_cast<int>((end - first + kStep - 1) / kStep);
    Send(seams.ReportStatus, "Starte Flashvorgang, schreibe " + std::to_string(result.bytes) + " Bytes...");

    if (seams.Progress) seams.Progress(0, result.blockCount);
    int done = 0, written = 0;
    bool gone = false;
    for (std::int64_t address = first; address < end && !gone; address += kStep) {
        Send(seams.LogMessage, BlockLine(address));
        const auto block = BlockBytes(*image, address);
        for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
            if (bootloader.WriteBlock(static_cast<std::uint32_t>(address), block)) {
                ++written;
                break;
            }
            gone = seams.BootloaderPresent && !seams.BootloaderPresent();
            if (gone) break;
            if (seams.Sleep) seams.Sleep(kRetryWait);
        }
        if (!gone && seams.Progress) seams.Progress(++done, result.blockCount);
    }
    result.failedBlocks = result.blockCount - written;

    // Without its bootloader the board cannot be told to restart either.
    if (gone) {
        Send(seams.ReportStatus, "FEHLER beim Flashen!");
        result.outcome = FlashOutcome::BootloaderGone;
        return result;
    }
    Send(seams.LogMessage, "Reset...");
    bootloader.LeaveBootloader();
    if (result.failedBlocks > 0) {
        Send(seams.ReportStatus, "FEHLER beim Flashen!");
        result.outcome = FlashOutcome::BlocksFailed;
    } else {
        Send(seams.ReportStatus, "Fertig!");
        result.outcome = FlashOutcome::Done;
    }
    return result;
}

}  // namespace quelvan::files
