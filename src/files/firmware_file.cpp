#include "files/firmware_file.h"

#include <cerrno>
#include <cstring>

#include "files/file_access.h"

namespace quelvan::files {

namespace {

// Reads exactly `length` bytes or fails; a file that ends early is a read error.
using ReadExactly = std::function<bool(std::uint8_t* to, std::size_t length)>;

bool ReadInt32(const ReadExactly& read, std::int32_t& value) {
    std::uint8_t b[4];
    if (!read(b, sizeof b)) return false;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                      static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
    return true;
}

void Report(const StatusSink& sink, const std::string& text) {
    if (sink) sink(text);
}

bool Refuse(const StatusSink& sink, const std::string& text) {
    Report(sink, text);
    return false;
}

bool ParseFirmware(const ReadExactly& read, FlashImage& image, std::int32_t& start, std::int32_t& end,
                   const StatusSink& report) {
    const std::string readError = "FEHLER beim Einlesen!";
    if (!ReadInt32(read, start)) return Refuse(report, readError);
    std::uint32_t sum = static_cast<std::uint32_t>(start);
    if (!ReadInt32(read, end)) return Refuse(report, readError);
    sum += static_cast<std::uint32_t>(end);
    if (end >= start) {
        // Nothing may land outside the image, whatever the header says.
        if (start < 0 || end >= static_cast<std::int32_t>(kFlashImageSize)) {
            return Refuse(report, "FEHLER: Adressen " + std::to_string(start) + " bis " + std::to_string(end) +
                                      " liegen außerhalb des Speichers (0 bis " + std::to_string(kFlashImageSize - 1) +
                                      ")!");
        }
        const auto first = static_cast<std::size_t>(start);
        const std::size_t count = static_cast<std::size_t>(end) - first + 1;
        if (!read(image.data() + first, count)) return Refuse(report, readError);
        for (std::size_t i = first; i < first + count; ++i) sum += image[i];
    }
    std::int32_t stored = 0;
    if (!ReadInt32(read, stored)) return Refuse(report, readError);
    if (static_cast<std::uint32_t>(stored) != sum) return Refuse(report, "Checksummenfehler in der Datei!");
    if (start >= end) return Refuse(report, "FEHLER: Keine Daten in der Datei!");
    return true;
}

}  // namespace

bool ReadFirmwareData(std::span<const std::uint8_t> data, FlashImage& Image, std::int32_t& StartAddress,
                      std::int32_t& EndAddress, const StatusSink& ReportStatus) {
    std::size_t position = 0;
    const ReadExactly read = [&](std::uint8_t* to, std::size_t length) {
        if (data.size() - position < length) return false;
        std::memcpy(to, data.data() + position, length);
        position += length;
        return true;
    };
    return ParseFirmware(read, Image, StartAddress, EndAddress, ReportStatus);
}

bool LoadFirmwareFile(const std::string& FileName, std::vector<std::uint8_t>& bytes, const StatusSink& ReportStatus,
                      int* error) {
    std::string contents;
    const int failure = ReadRegularFile(FileName, kMaxReadBytes, contents);
    if (error) *error = failure;
    if (failure == ENOENT || failure == ENOTDIR)
        return Refuse(ReportStatus, "FEHLER: Datei " + FileName + " nicht gefunden!");
    if (failure != 0) return Refuse(ReportStatus, "FEHLER beim Einlesen!");
    bytes.assign(contents.begin(), contents.end());
    return true;
}

bool ReadFirmwareFile(const std::string& FileName, FlashImage& Image, std::int32_t& StartAddress,
                      std::int32_t& EndAddress, const StatusSink& ReportStatus) {
    std::vector<std::uint8_t> bytes;
    if (!LoadFirmwareFile(FileName, bytes, ReportStatus)) return false;
    return ReadFirmwareData(bytes, Image, StartAddress, EndAddress, ReportStatus);
}

}  // namespace quelvan::files
