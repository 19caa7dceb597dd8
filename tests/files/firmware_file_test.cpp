// The firmware file reader: usable files land at their addresses; every kind of bad file
// is refused with its message and never writes outside the image.

#include "files/firmware_file.h"

#include <gtest/gtest.h>

#include <memory>

#include "files_test_support.h"

namespace quelvan::files::testing {
namespace {

struct Outcome {
    bool ok = false;
    std::vector<std::string> messages;
    std::int32_t start = 0, end = 0;
    std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();  // its own allocation, for ASan
};

Outcome Read(const std::vector<std::uint8_t>& bytes) {
    Outcome o;
    o.image->fill(0xAA);
    o.start = 65792;
    o.ok = ReadFirmwareData(bytes, *o.image, o.start, o.end, [&](const std::string& m) { o.messages.push_back(m); });
    return o;
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

std::uint32_t Sum(std::int32_t start, std::int32_t end) {
    const auto bytes = FirmwareBytes(start, end);
    std::uint32_t sum = 0;
    for (int i = 0; i < 4; ++i)
        sum |= static_cast<std::uint32_t>(bytes[bytes.size() - 4 + static_cast<std::size_t>(i)]) << (8 * i);
    return sum;
}

TEST(FirmwareFile, UsableFilesLandAtTheirAddresses) {
    struct Case {
        const char* what;
        std::int32_t start, end;
        std::vector<std::uint8_t> extra;  // after the checksum
    };
    const Case cases[] = {
        {"small range", 0x100, 0x1FF, {}},
        {"from address 0", 0, 29999, {}},
        {"trailing bytes are ignored", 10, 20, {1, 2, 3}},
        {"the whole image", 0, 65791, {}},
        {"two bytes", 65790, 65791, {}},
    };
    for (const Case& c : cases) {
        auto bytes = FirmwareBytes(c.start, c.end);
        bytes.insert(bytes.end(), c.extra.begin(), c.extra.end());
        const Outcome o = Read(bytes);
        ASSERT_TRUE(o.ok) << c.what;
        EXPECT_TRUE(o.messages.empty()) << c.what;
        EXPECT_EQ(o.start, c.start) << c.what;
        EXPECT_EQ(o.end, c.end) << c.what;
        for (std::int64_t a = 0; a < static_cast<std::int64_t>(kFlashImageSize); ++a) {
            const std::uint8_t expected = a >= c.start && a <= c.end ? PatternByte(a) : 0xAA;
            ASSERT_EQ((*o.image)[static_cast<std::size_t>(a)], expected) << c.what << " at " << a;
        }
    }
}

TEST(FirmwareFile, BadFilesAreRefusedWithTheirMessage) {
    const std::string kRead = "FEHLER beim Einlesen!";
    const std::string kChecksum = "Checksummenfehler in der Datei!";
    const std::string kNoData = "FEHLER: Keine Daten in der Datei!";
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string message;
        bool imageUntouched;
    };
    const auto good = FirmwareBytes(0x100, 0x1FF);
    const Case cases[] = {
        {"empty file", {}, kRead, true},
        {"half a start address", Cut(good, 3), kRead, true},
        {"no end address", Cut(good, 7), kRead, true},
        {"image shorter than the header says", Cut(good, 8 + 100), kRead, false},
        {"no checksum", Cut(good, good.size() - 4), kRead, false},
        {"half a checksum", Cut(good, good.size() - 2), kRead, false},
        {"bad checksum", FirmwareBytes(0x100, 0x1FF, Sum(0x100, 0x1FF) + 1), kChecksum, false},
        {"start equal to end", FirmwareBytes(0x80, 0x80), kNoData, false},
        {"start equal to end, bad checksum", FirmwareBytes(0x80, 0x80, 0), kChecksum, false},
        {"start above end", FirmwareBytes(0x200, 0x100), kNoData, true},
        {"start above end, both negative", FirmwareBytes(-5, -10), kNoData, true},
        {"negative start", FirmwareBytes(-1, 10),
         "FEHLER: Adressen -1 bis 10 liegen außerhalb des Speichers (0 bis 65791)!", true},
        {"end past the image", FirmwareBytes(65000, 65792),
         "FEHLER: Adressen 65000 bis 65792 liegen außerhalb des Speichers (0 bis 65791)!", true},
        {"header only", Cut(FirmwareBytes(0, 10), 8), kRead, true},
    };
    for (const Case& c : cases) {
        const Outcome o = Read(c.bytes);
        EXPECT_FALSE(o.ok) << c.what;
        EXPECT_EQ(o.messages, std::vector<std::string>{c.message}) << c.what;
        if (c.imageUntouched) {
            EXPECT_TRUE(std::all_of(o.image->begin(), o.image->end(), [](std::uint8_t b) { return b == 0xAA; }))
                << c.what;
        }
    }

    // A header that promises more than any image holds is refused before anything is read.
    std::vector<std::uint8_t> huge = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    const Outcome o = Read(huge);
    EXPECT_EQ(o.messages, std::vector<std::string>{
                              "FEHLER: Adressen 0 bis 2147483647 liegen außerhalb des Speichers (0 bis 65791)!"});
    EXPECT_EQ(o.end, 2147483647);
}

TEST(FirmwareFile, ChecksumWrapsAroundAndCountsBytesUnsigned) {
    // Addresses near the top of the signed range make the sum wrap; image bytes above 127
    // count as unsigned.
    auto bytes = FirmwareBytes(0, 3);
    for (std::size_t i = 8; i < 12; ++i) bytes[i] = 0xFF;
    std::uint32_t sum = 0 + 3 + 4 * 0xFF;
    for (int i = 0; i < 4; ++i) bytes[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(sum >> (8 * i));
    EXPECT_TRUE(Read(bytes).ok);

    // start > end: no image bytes, only the two addresses are summed, modulo 2^32.
    const std::int32_t start = 0x7FFFFFFF, end = 0x7FFFFFF0;
    const Outcome o = Read(FirmwareBytes(start, end, 0x7FFFFFFFu + 0x7FFFFFF0u));
    EXPECT_EQ(o.messages, std::vector<std::string>{"FEHLER: Keine Daten in der Datei!"});
}

TEST(FirmwareFile, MissingAndUnreadableFiles) {
    TempDir dir;
    FlashImage image{};
    std::int32_t start = 0, end = 0;
    std::vector<std::string> messages;
    auto report = [&](const std::string& m) { messages.push_back(m); };

    const std::string missing = dir.File("none.vbf");
    EXPECT_FALSE(ReadFirmwareFile(missing, image, start, end, report));
    EXPECT_EQ(messages, std::vector<std::string>{"FEHLER: Datei " + missing + " nicht gefunden!"});

    messages.clear();
    EXPECT_FALSE(ReadFirmwareFile(dir.Path().string(), image, start, end, report));
    EXPECT_EQ(messages, std::vector<std::string>{"FEHLER beim Einlesen!"});

    messages.clear();
    const std::string path = dir.File("ok.vbf328p");
    WriteBytes(path, FirmwareBytes(0x10, 0x20));
    EXPECT_TRUE(ReadFirmwareFile(path, image, start, end, report));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(start, 0x10);
    EXPECT_EQ(end, 0x20);
    EXPECT_EQ(image[0x20], PatternByte(0x20));

    WriteBytes(path, Cut(FirmwareBytes(0x10, 0x20), 20));
    EXPECT_FALSE(ReadFirmwareFile(path, image, start, end, report));
    EXPECT_EQ(messages, std::vector<std::string>{"FEHLER beim Einlesen!"});
}

}  // namespace
}  // namespace quelvan::files::testing
