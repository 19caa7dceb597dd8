// quelvanctl flash: end to end with the built binary on a simulated board kept in a state
// file (what arrived in its flash, the trace, exit codes), and in-process for what needs
// a terminal, injected failures or a board that does not come back.

#include "cli/flash_command.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "board_fixture.h"
#include "device/identification.h"
#include "files_test_support.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

using std::chrono::milliseconds;
using Summary = std::vector<std::string>;

using files::testing::PatternByte;

// A firmware file for start..end with the test pattern, and its checksum (or a wrong one).
void WriteFirmware(const std::string& path, std::int32_t start, std::int32_t end, bool goodChecksum = true) {
    std::vector<std::uint8_t> bytes = files::testing::FirmwareBytes(start, end);
    if (!goodChecksum) ++bytes.back();
    files::testing::WriteBytes(path, bytes);
}

Summary Flashing(int blocks) {
    Summary s = {"get 1"};
    s.insert(s.end(), static_cast<std::size_t>(blocks), "set 2");
    s.push_back("set 1");
    return s;
}

Summary Concat(Summary a, const Summary& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class FlashBinary : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBoardState(state_);
        WriteFirmware(firmware_, 0, 29999);
    }

    ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--simulate=" + state_, "--trace", trace_});
        ProcessResult r = RunQuelvanctlBinary(args);
        lines_ = ParseTrace(ReadLines(trace_));
        return r;
    }

    // The board as the state file holds it after the run.
    std::unique_ptr<sim::SimulatedHidBackend> Board() {
        auto backend = std::make_unique<sim::SimulatedHidBackend>();
        std::string error;
        EXPECT_TRUE(backend->LoadState(state_, &error)) << error;
        return backend;
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    const std::string firmware_ = dir_.File("new.vbf328p");
    std::vector<TraceLine> lines_;
};

TEST_F(FlashBinary, UpdatesTheBoardAndItsFlashKeepsTheFile) {
    const ProcessResult r = Run({"flash", firmware_, "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(TraceSummary(lines_), Concat({"set 3"}, Flashing(235)));
    std::vector<std::uint8_t> enter(28, 0);
    enter[0] = 3;
    enter[1] = 254;
    EXPECT_EQ(lines_.front().bytes, enter);
    EXPECT_EQ(lines_[1].bytes, (std::vector<std::uint8_t>{1, 128, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(lines_.back().bytes, lines_[1].bytes) << "the bootloader is left with the information as read";
    for (std::size_t i = 0; i < 235; ++i) {
        const TraceLine& block = lines_[2 + i];
        ASSERT_EQ(block.length, 132);
        ASSERT_EQ(block.bytes[1] | block.bytes[2] << 8 | block.bytes[3] << 16, static_cast<int>(i * 128));
    }

    // Not a terminal: the log's lines as they are, one per block.
    for (const char* line : {"Flashgröße: 29999 / 30720 Bytes\n", "Starte Flashvorgang, schreibe 30080 Bytes...\n",
                             "0x0000\n", "0x7500\n", "Reset...\n", "Fertig!\n"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << r.err;
    EXPECT_TRUE(r.out.empty());

    auto board = Board();
    EXPECT_EQ(board->Board().Mode(), sim::BoardMode::Application) << "the board came back";
    const auto& flash = board->Board().Flash();
    ASSERT_EQ(flash.size(), 32768u);
    for (std::size_t a = 0; a < flash.size(); ++a)
        ASSERT_EQ(flash[a], a < 30000 ? PatternByte(static_cast<std::int64_t>(a)) : 0xFF) << a;
    EXPECT_EQ(board->Board().BlocksWritten(), 235);
}

TEST_F(FlashBinary, WithoutTerminalOrYesNothingIsSent) {
    const ProcessResult r = Run({"flash", firmware_});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(Board()->Board().Mode(), sim::BoardMode::Application);
}

TEST_F(FlashBinary, AWaitingBootloaderIsFlashedAtOnce) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { SendEnterBootloader(b); });
    const ProcessResult r = Run({"--json", "flash", firmware_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(TraceSummary(lines_), Flashing(235));
    EXPECT_EQ(r.err.find("Vorgang fortsetzen"), std::string::npos) << "no question";
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["blocks"], 235);
    EXPECT_EQ(json["bytes"], 30080);
    EXPECT_EQ(json["failed_blocks"], 0);
    EXPECT_EQ(json["status"], "Fertig!");
    EXPECT_EQ(Board()->Board().Mode(), sim::BoardMode::Application);
}

TEST_F(FlashBinary, UnusableFilesAreReportedWithTheirMessages) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> write;
        std::string message;
        Summary trace;
        sim::BoardMode after;
    };
    const std::string file = dir_.File("bad.vbf328p");
    const Case cases[] = {
        {"missing",
         [](const std::string&) {},
         "FEHLER: Datei " + file + " nicht gefunden!",
         {},
         sim::BoardMode::Application},
        {"bad checksum",
         [](const std::string& p) { WriteFirmware(p, 0, 255, false); },
         "Checksummenfehler in der Datei!",
         {},
         sim::BoardMode::Application},
        {"no data",
         [](const std::string& p) { WriteFirmware(p, 5, 5); },
         "FEHLER: Keine Daten in der Datei!",
         {},
         sim::BoardMode::Application},
        // The size is known only to the bootloader: it stays active for another attempt.
        {"too large",
         [](const std::string& p) { WriteFirmware(p, 0, 32767); },
         "FEHLER: Datei ist 2047 Bytes zu groß!",
         {"set 3", "get 1"},
         sim::BoardMode::Bootloader},
    };
    for (const Case& c : cases) {
        WriteBoardState(state_);
        std::remove(file.c_str());
        c.write(file);
        const ProcessResult r = Run({"flash", file, "--yes"});
        EXPECT_EQ(r.exitCode, 5) << c.what << ": the file is what cannot be used";
        EXPECT_NE(r.err.find(c.message + "\n"), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(TraceSummary(lines_), c.trace) << c.what;
        EXPECT_EQ(Board()->Board().Mode(), c.after) << c.what;
    }
    // The bootloader left waiting takes the next, good file at once.
    const ProcessResult r = Run({"flash", firmware_});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(TraceSummary(lines_), Flashing(235));
}

TEST_F(FlashBinary, NoBoardAtAll) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Unplug(); });
    const ProcessResult r = Run({"flash", firmware_, "--yes"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("no Quelvan 2.x board found"), std::string::npos) << r.err;
}

// Hides some devices of the simulated bus from the tool: a bootloader that never arrives,
// a board that does not come back.
class HidingBackend final : public HidBackend {
public:
    explicit HidingBackend(sim::SimulatedHidBackend& inner) : inner_(inner) {}
    std::function<bool(const HidInterfaceInfo&)> hide;

    std::vector<HidInterfaceInfo> Enumerate() override {
        std::vector<HidInterfaceInfo> list = inner_.Enumerate();
        if (hide) std::erase_if(list, hide);
        return list;
    }
    HidOpenResult Open(const HidInterfaceInfo& d) override { return inner_.Open(d); }
    std::optional<std::u16string> ReadString(const HidInterfaceInfo& d, HidString w) override {
        return inner_.ReadString(d, w);
    }
    int ChangeFd() const override { return inner_.ChangeFd(); }
    bool TakeChange() override { return inner_.TakeChange(); }

private:
    sim::SimulatedHidBackend& inner_;
};

class FlashInProcess : public ::testing::Test {
protected:
    FlashInProcess() : backend_({}, &clock_), hiding_(backend_) {
        backend_.Board().SetFrozen(true);
        WriteFirmware(firmware_, 0, 1023);
        console_.sleep = [this](milliseconds time) { waits_.push_back(time); };
        console_.arrivalTimeout = milliseconds(300);
    }

    int Run(bool yes, HidBackend* backend = nullptr, const std::string& device = {}) {
        cli::Request request;
        request.command = cli::Command::Flash;
        request.firmwareFile = firmware_;
        request.assumeYes = yes;
        request.device = device;
        std::ostringstream out, err;
        backend_.ClearTransfers();
        const int code =
            cli::RunFlashCommand(request, backend ? *backend : backend_, clock_, nullptr, out, err, console_);
        out_ = out.str();
        err_ = err.str();
        return code;
    }

    ScratchDir dir_;
    const std::string firmware_ = dir_.File("small.vbf328p");
    ManualClock clock_{LocalDateTime{2026, 3, 14, 9, 0, 0, 0}};
    sim::SimulatedHidBackend backend_;
    HidingBackend hiding_;
    cli::FlashConsole console_;
    std::vector<milliseconds> waits_;
    std::string out_, err_;
};

TEST_F(FlashInProcess, TheUserIsAskedFirst) {
    struct Case {
        const char* answer;
        int exitCode;
        int setsOfReport3;
    };
    for (const Case c : {Case{"n\n", 1, 0}, Case{"\n", 1, 0}, Case{"", 1, 0}, Case{"nein\n", 1, 0}, Case{"j\n", 0, 1},
                         Case{" Ja \n", 0, 1}, Case{"y\n", 0, 1}}) {
        std::istringstream input(c.answer);
        console_.input = &input;
        console_.inputIsTerminal = true;
        EXPECT_EQ(Run(false), c.exitCode) << '"' << c.answer << '"' << err_;
        EXPECT_EQ(backend_.CountTransfers(true, 3), c.setsOfReport3) << c.answer;
        if (c.exitCode != 0) {
            EXPECT_TRUE(backend_.Transfers().empty()) << c.answer;
        }
        EXPECT_NE(err_.find("Firmware aktualisieren\n\nDas Aktualisieren der Firmware geschieht auf eigene Gefahr.\n"),
                  std::string::npos)
            << err_;
        EXPECT_NE(err_.find("Update wieder manuell auf den Modus \"Slave\" gestellt werden!\n\nVorgang fortsetzen?"),
                  std::string::npos);
    }
}

TEST_F(FlashInProcess, ProgressBarOnATerminal) {
    console_.errorIsTerminal = true;
    ASSERT_EQ(Run(true), 0) << err_;
    EXPECT_EQ(err_.find("0x0080"), std::string::npos) << "no line per block";
    EXPECT_NE(err_.find("\r["), std::string::npos);
    EXPECT_NE(err_.find("] 8/8 blocks\nReset...\nFertig!\n"), std::string::npos) << err_;
    EXPECT_NE(err_.find("Flashgröße: 1023 / 30720 Bytes\n"), std::string::npos);
}

TEST_F(FlashInProcess, ABlockFailingTenTimes) {
    backend_.FailNext(true, 2, 10);
    EXPECT_EQ(Run(true), 1);
    EXPECT_EQ(waits_, std::vector<milliseconds>(10, milliseconds(500)));
    EXPECT_NE(err_.find("FEHLER beim Flashen!\n"), std::string::npos) << err_;
    EXPECT_NE(err_.find("the board is back"), std::string::npos) << "the other blocks went out, then the restart";
    EXPECT_EQ(backend_.Board().BlocksWritten(), 7);
    EXPECT_EQ(backend_.Board().Mode(), sim::BoardMode::Application);
}

TEST_F(FlashInProcess, TimeLimitsForBootloaderAndBoard) {
    // The bootloader never shows up.
    hiding_.hide = [this](const HidInterfaceInfo& d) {
        return backend_.ReadString(d, HidString::Product) == std::u16string(kBootloader2Product);
    };
    EXPECT_EQ(Run(true, &hiding_), 1);
    EXPECT_NE(err_.find("error: the board's bootloader did not appear within 1 s"), std::string::npos) << err_;
    EXPECT_EQ(backend_.Board().Mode(), sim::BoardMode::Bootloader);
    backend_.Board().PowerCycle();

    // The board does not come back after the update.
    std::string first;
    for (const auto& d : backend_.Enumerate()) first = d.identity;
    hiding_.hide = [this, first](const HidInterfaceInfo& d) {
        return d.identity != first && backend_.ReadString(d, HidString::Product) == std::u16string(kBoardProduct);
    };
    EXPECT_EQ(Run(true, &hiding_), 1);
    EXPECT_NE(err_.find("Fertig!\n"), std::string::npos);
    EXPECT_NE(err_.find("error: the board did not come back within 1 s"), std::string::npos) << err_;
}

// The image flashed is the one read and checked before anything was sent, and the update
// ends when the same board is back: another board on the bus is not it, and a board left
// in its bootloader is said to wait there.
TEST_F(FlashInProcess, TheFileIsReadOnceAndTheSameBoardIsAwaited) {
    sim::ForeignDevice twin;  // a second board, serial TWIN-7, that answers nothing
    twin.vendorId = kBoardVendorId;
    twin.productId = kBoardProductId;
    twin.manufacturer = std::u16string(kMakerManufacturer);
    twin.product = std::u16string(kBoardProduct);
    twin.serialNumber = u"TWIN-7";
    const std::vector<std::uint8_t> image = files::testing::FirmwareBytes(0, 1023);
    bool bootloaderSeen = false;
    struct Case {
        const char* what;
        std::function<void()> prepare;
        int exitCode;
        std::vector<std::string> said;
        std::vector<std::string> notSaid;
        sim::BoardMode after;
    };
    const Case cases[] = {
        {"the file gone once the bootloader is there",
         [&] {
             hiding_.hide = [&](const HidInterfaceInfo& d) {
                 if (backend_.ReadString(d, HidString::Product) == std::u16string(kBootloader2Product))
                     std::remove(firmware_.c_str());
                 return false;
             };
         },
         0,
         {"Fertig!\n", "the board is back\n"},
         {},
         sim::BoardMode::Application},
        {"another board present all along",
         [&] { backend_.AddForeignDevice(twin); },
         0,
         {"the board is back\n"},
         {},
         sim::BoardMode::Application},
        {"the reset report failing, another board present",
         [&] {
             backend_.AddForeignDevice(twin);
             backend_.FailNext(true, 1, 1);
         },
         1,
         {"Fertig!\n",
          "error: the board did not restart: it waits in its bootloader with every block written\nhint: run "
          "'quelvanctl flash FILE' again\n"},
         {"the board is back", "did not come back"},
         sim::BoardMode::Bootloader},
        {"the board not coming back, another board present",
         [&] {
             backend_.AddForeignDevice(twin);
             hiding_.hide = [&](const HidInterfaceInfo& d) {
                 bootloaderSeen = bootloaderSeen || d.path.find("sim:bootloader/") == 0;
                 return bootloaderSeen && d.path.find("sim:board/") == 0;
             };
         },
         1,
         {"error: the board did not come back within 1 s"},
         {"the board is back"},
         sim::BoardMode::Application},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        backend_.Board().PowerCycle();
        files::testing::WriteBytes(firmware_, image);
        hiding_.hide = nullptr;
        bootloaderSeen = false;
        const int blocksBefore = backend_.Board().BlocksWritten();
        c.prepare();
        EXPECT_EQ(Run(true, &hiding_, "QV2-000123"), c.exitCode) << err_;
        for (const std::string& text : c.said) EXPECT_NE(err_.find(text), std::string::npos) << text << "\n" << err_;
        for (const std::string& text : c.notSaid) EXPECT_EQ(err_.find(text), std::string::npos) << text << "\n" << err_;
        EXPECT_EQ(backend_.Board().Mode(), c.after);
        EXPECT_EQ(backend_.Board().BlocksWritten() - blocksBefore, 8);
        EXPECT_TRUE(std::equal(image.begin() + 8, image.begin() + 8 + 1024, backend_.Board().Flash().begin()));
        for (int i = 0; i < 8; ++i) backend_.RemoveForeignDevice(i);
    }
}

// Two bootloaders waiting: neither has a serial number, so the choice is by path.
TEST_F(FlashInProcess, TwoBootloadersAreChosenByPath) {
    SendEnterBootloader(backend_);
    sim::ForeignDevice other;
    other.vendorId = kBoardVendorId;
    other.productId = kBoardProductId;
    other.manufacturer = std::u16string(kMakerManufacturer);
    other.product = std::u16string(kBootloader2Product);
    backend_.AddForeignDevice(other);
    EXPECT_EQ(Run(true), 2);
    EXPECT_NE(
        err_.find("error: 2 bootloaders found; choose one by its path with --device PATH:\n  (no serial number)  "),
        std::string::npos)
        << err_;
    std::string path;
    for (const HidInterfaceInfo& d : backend_.Enumerate())
        if (d.path.find("sim:bootloader/") == 0) path = d.path;
    EXPECT_NE(err_.find("\"" + path + "\""), std::string::npos) << err_;
    EXPECT_EQ(Run(true, nullptr, path), 0) << err_;
    EXPECT_EQ(backend_.Board().Mode(), sim::BoardMode::Application);
}

TEST_F(FlashInProcess, TheBootloaderCommandFailing) {
    backend_.FailNext(true, 3, 3);
    EXPECT_EQ(Run(true), 1);
    EXPECT_NE(err_.find("error: sending the board into its bootloader failed after 3 attempts"), std::string::npos)
        << err_;
    EXPECT_EQ(backend_.CountTransfers(true, 3), 3);
    EXPECT_EQ(backend_.Transfers().size(), 3u);
    EXPECT_EQ(backend_.Board().Mode(), sim::BoardMode::Application);
}

TEST_F(FlashInProcess, NoPermissionPointsToTheUdevRule) {
    backend_.SetOpenError(EACCES);
    EXPECT_EQ(Run(true), 3);
    EXPECT_NE(err_.find("70-quelvan.rules"), std::string::npos) << err_;
    EXPECT_EQ(backend_.Board().Mode(), sim::BoardMode::Application);
}

}  // namespace
}  // namespace quelvan::testing
