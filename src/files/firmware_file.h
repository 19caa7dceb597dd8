#pragma once
// The firmware file (".vbf", ".vbf328p"): start and end address, the image bytes for that
// range, and a checksum, all little-endian. The reader checks a file and places its bytes
// into the flash image at their addresses.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace quelvan::files {

// 64 KiB plus 256 bytes: addresses 0 to 65,791.
constexpr std::size_t kFlashImageSize = 65792;
using FlashImage = std::array<std::uint8_t, kFlashImageSize>;

// Receives the reader's and the flasher's status lines (UTF-8).
using StatusSink = std::function<void(const std::string& text)>;

// The file's bytes, read once: a regular file (never a device or FIFO) of at most
// kMaxReadBytes. Otherwise false, with "FEHLER: Datei ... nicht gefunden!" or "FEHLER beim
// Einlesen!" reported and the error code (see file_access.h) in `error`.
bool LoadFirmwareFile(const std::string& FileName, std::vector<std::uint8_t>& bytes, const StatusSink& ReportStatus,
                      int* error = nullptr);

// True when the file is usable: it exists and can be read as far as its header says, its
// range lies inside the image, its checksum matches and its start lies below its end.
// Otherwise reports why through `ReportStatus`. Image bytes outside the file's range are
// left as they were; StartAddress and EndAddress receive the header's addresses.
bool ReadFirmwareFile(const std::string& FileName, FlashImage& Image, std::int32_t& StartAddress,
                      std::int32_t& EndAddress, const StatusSink& ReportStatus);

// The same on a file's contents in memory (there is then no missing file to report).
bool ReadFirmwareData(std::span<const std::uint8_t> data, FlashImage& Image, std::int32_t& StartAddress,
                      std::int32_t& EndAddress, const StatusSink& ReportStatus);

}  // namespace quelvan::files
