// Flashing through the simulated bootloader: the reports and log lines, the blocks and
// their bytes as they arrive in the board's flash, retries with their waits, and the
// bootloader answers that make no sense.

#include "files/firmware_flasher.h"

#include <gtest/gtest.h>

#include "device/board_protocol.h"
#include "device/bootloader_protocol.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "files_test_support.h"
#include "simulator/simulated_backend.h"

namespace quelvan::files::testing {
namespace {

using std::chrono::milliseconds;

// A simulated board restarted into its bootloader, held as the window holds it.
class FlashBench {
public:
    explicit FlashBench(std::uint16_t pageSize = 128, std::uint32_t flashSize = 32768)
        : backend_(Settings(pageSize, flashSize)), controller_(backend_), protocol_(clock_) {
        backend_.Board().SetFrozen(true);
        controller_.ProcessNotifications();
        HidDevice* board = Acquire(kBoardProduct);
        protocol_.SetDevice(board);
        protocol_.EnterBootloader();
        protocol_.SetDevice(nullptr);
        controller_.ProcessNotifications();
        controller_.ReleaseDevice(board);
        bootloader_.SetDevice(Acquire(kBootloader2Product));
        backend_.ClearTransfers();
    }

    FlashResult Flash(const std::vector<std::uint8_t>& file) {
        WriteBytes(path_, file);
        return Flash(path_);
    }
    FlashResult Flash(const std::string& path) {
        FlashSeams seams;
        seams.LogMessage = [this](const std::string& line) { log.push_back(line); };
        seams.ReportStatus = [this](const std::string& line) { status.push_back(line); };
        seams.Sleep = [this](milliseconds time) { waits.push_back(time); };
        seams.Progress = [this](int done, int count) {
            progress.emplace_back(done, count);
            if (onProgress) onProgress(done);
        };
        seams.BootloaderPresent = [this] { return controller_.StillPresent(*bootloader_.Device()); };
        return FlashFirmware(bootloader_, path, seams);
    }

    sim::SimulatedHidBackend& Backend() { return backend_; }
    BootloaderProtocol& Bootloader() { return bootloader_; }
    const std::vector<std::uint8_t>& Flash() { return backend_.Board().Flash(); }

    // The addresses of the block reports that the bootloader took.
    std::vector<std::uint32_t> WrittenBlocks() const {
        std::vector<std::uint32_t> blocks;
        for (const auto& t : backend_.Transfers())
            if (IsBlock(t)) blocks.push_back(Address(t));
        return blocks;
    }
    std::vector<std::uint8_t> BlockReport(std::uint32_t address) const {
        for (const auto& t : backend_.Transfers())
            if (IsBlock(t) && Address(t) == address) return t.bytes;
        return {};
    }

    std::vector<std::string> log, status;
    std::vector<milliseconds> waits;
    std::vector<std::pair<int, int>> progress;
    std::function<void(int)> onProgress;

private:
    static bool IsBlock(const sim::SimTransfer& t) {
        return t.isSet && t.ok && t.bytes.size() == bootloader::kBlockLength && t.bytes[0] == 2;
    }
    static std::uint32_t Address(const sim::SimTransfer& t) {
        return static_cast<std::uint32_t>(t.bytes[1] | t.bytes[2] << 8 | t.bytes[3] << 16);
    }
    static sim::BoardSettings Settings(std::uint16_t pageSize, std::uint32_t flashSize) {
        sim::BoardSettings s;
        s.pageSize = pageSize;
        s.flashSize = flashSize;
        return s;
    }
    HidDevice* Acquire(std::u16string_view product) {
        HidDevice* held = nullptr;
        controller_.OnEnumerate = [&](HidDevice& device, int index) {
            if (!held && device.ProductString() == product) held = controller_.AcquireDevice(index);
            return true;
        };
        controller_.EnumerateDevices();
        controller_.OnEnumerate = nullptr;
        return held;
    }

    TempDir dir_;
    const std::string path_ = dir_.File("firmware.vbf328p");
    ManualClock clock_{LocalDateTime{2026, 3, 14, 9, 0, 0, 0}};
    sim::SimulatedHidBackend backend_;
    HidDeviceController controller_;
    BoardProtocol protocol_;
    BootloaderProtocol bootloader_;
};

std::vector<std::string> Lines(std::int64_t first, std::int64_t end) {
    std::vector<std::string> lines;
    char text[16];
    for (std::int64_t a = first; a < end; a += 128) {
        std::snprintf(text, sizeof text, "0x%04llX", static_cast<long long>(a));
        lines.push_back(text);
    }
    return lines;
}

std::vector<std::uint8_t> Prefix(std::vector<std::uint8_t> bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

std::vector<std::uint32_t> Blocks(std::uint32_t first, std::uint32_t end) {
    std::vector<std::uint32_t> blocks;
    for (std::uint32_t a = first; a < end; a += 128) blocks.push_back(a);
    return blocks;
}

// Every flash byte: the file's bytes in its range, erased flash everywhere else.
void ExpectFlashHolds(const std::vector<std::uint8_t>& flash, std::int64_t start, std::int64_t end,
                      std::int64_t unwrittenFrom = -1) {
    for (std::int64_t a = 0; a < static_cast<std::int64_t>(flash.size()); ++a) {
        const bool inFile = a >= start && a <= end && (unwrittenFrom < 0 || a < unwrittenFrom);
        ASSERT_EQ(flash[static_cast<std::size_t>(a)], inFile ? PatternByte(a) : 0xFF) << "flash address " << a;
    }
}

TEST(Flasher, WritesTheFileBlockByBlock) {
    FlashBench bench;
    const FlashResult r = bench.Flash(FirmwareBytes(0, 29999));
    EXPECT_EQ(r.outcome, FlashOutcome::Done);
    EXPECT_EQ(r.blockCount, 235);
    EXPECT_EQ(r.bytes, 30080);

    std::vector<std::string> log = {"Flashgröße: 29999 / 30720 Bytes"};
    const auto blockLines = Lines(0, 0x7580);
    ASSERT_EQ(blockLines.back(), "0x7500");
    log.insert(log.end(), blockLines.begin(), blockLines.end());
    log.push_back("Reset...");
    EXPECT_EQ(bench.log, log);
    EXPECT_EQ(bench.status, (std::vector<std::string>{"Starte Flashvorgang, schreibe 30080 Bytes...", "Fertig!"}));
    EXPECT_TRUE(bench.waits.empty());
    ASSERT_EQ(bench.progress.size(), 236u);
    EXPECT_EQ(bench.progress.front(), std::make_pair(0, 235));
    EXPECT_EQ(bench.progress.back(), std::make_pair(235, 235));

    // Exactly: one information get, 235 block sets in order, and the restart with the
    // information buffer as read.
    const auto& transfers = bench.Backend().Transfers();
    ASSERT_EQ(transfers.size(), 237u);
    EXPECT_FALSE(transfers.front().isSet);
    EXPECT_EQ(transfers.front().bytes, (std::vector<std::uint8_t>{1, 128, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(bench.WrittenBlocks(), Blocks(0, 0x7580));
    EXPECT_TRUE(transfers.back().isSet);
    EXPECT_EQ(transfers.back().bytes, (std::vector<std::uint8_t>{1, 128, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(bench.Backend().Board().Mode(), sim::BoardMode::Application);

    // The last block carries the file's tail and erased flash beyond it.
    const auto last = bench.BlockReport(0x7500);
    ASSERT_EQ(last.size(), 132u);
    EXPECT_EQ(last[4 + 29999 - 0x7500], PatternByte(29999));
    EXPECT_EQ(last[4 + 30000 - 0x7500], 0xFF);
    ExpectFlashHolds(bench.Flash(), 0, 29999);
}

TEST(Flasher, RangeAlignment) {
    struct Case {
        const char* what;
        std::uint16_t pageSize;
        std::uint32_t flashSize;
        std::int32_t start, end;
        std::uint32_t first, stop;  // blocks first, first+128, ... below stop
        std::int64_t unwrittenFrom;
    };
    const Case cases[] = {
        {"page 256", 256, 32768, 0x100, 0x1FF, 0x100, 0x200, -1},
        {"page 64 aligns to 128", 64, 16384, 0x50, 0x1A0, 0x000, 0x200, -1},
        {"page 512 rounds start down", 512, 32768, 0x2C0, 0x300, 0x200, 0x400, -1},
        {"end on an aligned address is written", 128, 32768, 0x80, 0x100, 0x80, 0x180, -1},
        {"end on an aligned address, page 256", 256, 32768, 0x100, 0x200, 0x100, 0x300, -1},
        {"end equal to the usable size", 128, 32768, 30000, 30720, 0x7500, 30720, 30720},
        {"page 0 counts as 128", 0, 32768, 0x10, 0x90, 0x0, 0x100, -1},
        {"page 1 counts as 128", 1, 32768, 0x10, 0x90, 0x0, 0x100, -1},
        {"page 32768 never passes the usable size", 32768, 65536, 0x10, 0x2FF, 0x0, 0x8000, -1},
    };
    for (const Case& c : cases) {
        FlashBench bench(c.pageSize, c.flashSize);
        const FlashResult r = bench.Flash(FirmwareBytes(c.start, c.end));
        EXPECT_EQ(r.outcome, FlashOutcome::Done) << c.what;
        EXPECT_EQ(bench.WrittenBlocks(), Blocks(c.first, c.stop)) << c.what;
        EXPECT_EQ(bench.status.front(),
                  "Starte Flashvorgang, schreibe " + std::to_string(c.stop - c.first) + " Bytes...")
            << c.what;
        ExpectFlashHolds(bench.Flash(), c.start, c.end, c.unwrittenFrom);
    }
}

TEST(Flasher, RefusedFilesSendNothingMore) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        std::vector<std::string> status;
        std::vector<std::string> log;
        FlashOutcome outcome;
    };
    const Case cases[] = {
        {"too large",
         FirmwareBytes(0, 32767),
         {"FEHLER: Datei ist 2047 Bytes zu groß!"},
         {"Flashgröße: 32767 / 30720 Bytes"},
         FlashOutcome::FileTooLarge},
        {"one byte too large",
         FirmwareBytes(100, 30721),
         {"FEHLER: Datei ist 1 Bytes zu groß!"},
         {"Flashgröße: 30721 / 30720 Bytes"},
         FlashOutcome::FileTooLarge},
        {"start equal to end",
         FirmwareBytes(0x80, 0x80),
         {"FEHLER: Keine Daten in der Datei!"},
         {},
         FlashOutcome::FileUnusable},
        {"bad checksum",
         FirmwareBytes(0, 255, 12345),
         {"Checksummenfehler in der Datei!"},
         {},
         FlashOutcome::FileUnusable},
        {"short file", Prefix(FirmwareBytes(0, 255), 100), {"FEHLER beim Einlesen!"}, {}, FlashOutcome::FileUnusable},
        {"negative start",
         FirmwareBytes(-128, 255),
         {"FEHLER: Adressen -128 bis 255 liegen außerhalb des Speichers (0 bis 65791)!"},
         {},
         FlashOutcome::FileUnusable},
    };
    for (const Case& c : cases) {
        FlashBench bench;
        const FlashResult r = bench.Flash(c.file);
        EXPECT_EQ(r.outcome, c.outcome) << c.what;
        EXPECT_FALSE(r.LeftBootloader()) << c.what;
        EXPECT_EQ(bench.status, c.status) << c.what;
        EXPECT_EQ(bench.log, c.log) << c.what;
        EXPECT_EQ(bench.Backend().CountTransfers(false, 1), 1) << c.what;
        EXPECT_EQ(bench.Backend().Transfers().size(), 1u) << c.what << ": nothing but the information get";
        EXPECT_EQ(bench.Backend().Board().Mode(), sim::BoardMode::Bootloader) << c.what;
    }

    FlashBench bench;
    const FlashResult r = bench.Flash(std::string("/nonexistent/firmware.vbf"));
    EXPECT_EQ(r.outcome, FlashOutcome::FileUnusable);
    EXPECT_EQ(bench.status, std::vector<std::string>{"FEHLER: Datei /nonexistent/firmware.vbf nicht gefunden!"});
}

TEST(Flasher, SilentBootloaderGetsOneAttempt) {
    FlashBench bench;
    bench.Backend().FailNext(false, 1, 1);
    const FlashResult r = bench.Flash(FirmwareBytes(0, 255));
    EXPECT_EQ(r.outcome, FlashOutcome::BootloaderSilent);
    EXPECT_EQ(bench.status, std::vector<std::string>{"FEHLER: Bootloader reagiert nicht!"});
    EXPECT_TRUE(bench.log.empty());
    ASSERT_EQ(bench.Backend().Transfers().size(), 1u);
    EXPECT_EQ(bench.Backend().Transfers().front().bytes.size(), 7u);
    EXPECT_EQ(bench.Backend().Board().Mode(), sim::BoardMode::Bootloader);
}

TEST(Flasher, FailingBlocksAreRetriedWithWaits) {
    struct Case {
        int failures;
        int atBlock;  // the failures begin with this block's first attempt
        FlashOutcome outcome;
        const char* last;
    };
    for (const Case c :
         {Case{9, 0, FlashOutcome::Done, "Fertig!"}, Case{10, 0, FlashOutcome::BlocksFailed, "FEHLER beim Flashen!"},
          Case{10, 3, FlashOutcome::BlocksFailed, "FEHLER beim Flashen!"},
          Case{10, 7, FlashOutcome::BlocksFailed, "FEHLER beim Flashen!"}}) {
        SCOPED_TRACE(::testing::Message() << c.failures << " failures from block " << c.atBlock);
        FlashBench bench;
        bench.onProgress = [&](int done) {
            if (done == c.atBlock) bench.Backend().FailNext(true, 2, c.failures);
        };
        const FlashResult r = bench.Flash(FirmwareBytes(0, 1023));
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(bench.status.back(), c.last);
        EXPECT_EQ(bench.waits, std::vector<milliseconds>(static_cast<std::size_t>(c.failures), milliseconds(500)));
        // Eight blocks; a block given up had no successful attempt.
        EXPECT_EQ(bench.Backend().CountTransfers(true, 2), 8 + c.failures - (c.failures == 10 ? 1 : 0));
        EXPECT_EQ(bench.log.back(), "Reset...");
        EXPECT_EQ(bench.Backend().Board().Mode(), sim::BoardMode::Application) << "the bootloader was left";
        const std::uint32_t failed = static_cast<std::uint32_t>(c.atBlock) * 128;
        std::vector<std::uint32_t> expected = Blocks(0, 1024);
        if (c.failures == 10) {
            expected.erase(expected.begin() + c.atBlock);
            EXPECT_EQ(r.failedBlocks, 1);
            for (std::uint32_t a = failed; a < failed + 128; ++a) ASSERT_EQ(bench.Flash()[a], 0xFF) << a;
        }
        EXPECT_EQ(bench.WrittenBlocks(), expected);
    }
}

// Unplugged in the middle: the block that failed is not waited for, the rest is not sent,
// and there is nobody left to be told to restart.
TEST(Flasher, ABootloaderThatLeavesEndsTheUpdateAtOnce) {
    FlashBench bench;
    bench.onProgress = [&](int done) {
        if (done == 3) bench.Backend().Unplug();
    };
    const FlashResult r = bench.Flash(FirmwareBytes(0, 1023));
    EXPECT_EQ(r.outcome, FlashOutcome::BootloaderGone);
    EXPECT_FALSE(r.LeftBootloader());
    EXPECT_EQ(r.blockCount, 8);
    EXPECT_EQ(r.failedBlocks, 5);
    EXPECT_TRUE(bench.waits.empty());
    EXPECT_EQ(bench.Backend().CountTransfers(true, 2), 4) << "three blocks and one attempt of the fourth";
    EXPECT_EQ(bench.Backend().CountTransfers(true, 1), 0) << "no restart";
    EXPECT_EQ(bench.status.back(), "FEHLER beim Flashen!");
    EXPECT_EQ(bench.log.back(), "0x0180");
    EXPECT_EQ(bench.progress.back(), (std::pair<int, int>{3, 8}));
}

TEST(Flasher, NonsenseFromTheBootloaderIsRefused) {
    struct Case {
        std::uint16_t pageSize;
        std::uint32_t flashSize;
        std::string status;
    };
    const Case cases[] = {
        {65535, 32768, "FEHLER: Bootloader meldet ungültige Seitengröße 65535!"},
        {200, 32768, "FEHLER: Bootloader meldet ungültige Seitengröße 200!"},
        {128, 0, "FEHLER: Bootloader meldet ungültige Flashgröße 0!"},
        {128, 1000, "FEHLER: Bootloader meldet ungültige Flashgröße 1000!"},
        {128, 2048, "FEHLER: Bootloader meldet ungültige Flashgröße 2048!"},
        {128, 32768 + 64, "FEHLER: Bootloader meldet ungültige Flashgröße 32832!"},
    };
    for (const Case& c : cases) {
        FlashBench bench(c.pageSize, c.flashSize);
        const FlashResult r = bench.Flash(FirmwareBytes(0, 255));
        EXPECT_EQ(r.outcome, FlashOutcome::BootloaderNonsense) << c.status;
        EXPECT_EQ(bench.status, std::vector<std::string>{c.status});
        EXPECT_EQ(bench.Backend().Transfers().size(), 1u) << c.status;
    }
}

TEST(Flasher, ImageEndBeyondTheBufferIsSentErased) {
    // A large flash and a page bigger than the image's last alignment step: the last two
    // blocks lie past the image buffer and go out as erased flash.
    FlashBench bench(512, 131072);
    const FlashResult r = bench.Flash(FirmwareBytes(0, 65791));
    EXPECT_EQ(r.outcome, FlashOutcome::Done);
    EXPECT_EQ(bench.WrittenBlocks(), Blocks(0, 66048));
    for (const std::uint32_t a : {65792u, 65920u}) {
        const auto report = bench.BlockReport(a);
        ASSERT_EQ(report.size(), 132u);
        EXPECT_TRUE(std::all_of(report.begin() + 4, report.end(), [](std::uint8_t b) { return b == 0xFF; })) << a;
    }
    ExpectFlashHolds(bench.Flash(), 0, 65791);
}

TEST(Flasher, WithoutBootloaderNothingHappens) {
    FlashBench bench;
    bench.Bootloader().SetDevice(nullptr);
    const FlashResult r = bench.Flash(FirmwareBytes(0, 255));
    EXPECT_EQ(r.outcome, FlashOutcome::NoBootloader);
    EXPECT_TRUE(bench.status.empty());
    EXPECT_TRUE(bench.log.empty());
    EXPECT_TRUE(bench.Backend().Transfers().empty());
}

}  // namespace
}  // namespace quelvan::files::testing
