// The command layer in-process on a simulated board: failure paths that need hooks a
// state file does not carry (injected transfer failures, permissions, a fixed clock).

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "board_fixture.h"
#include "cli/quelvanctl.h"
#include "files_test_support.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

class QuelvanctlInProcess : public ::testing::Test {
protected:
    QuelvanctlInProcess() : clock_(LocalDateTime{2024, 5, 17, 13, 45, 30, 520}), backend_({}, &clock_) {
        backend_.Board().SetFrozen(true);
        backend_.Board().Config().Mode = 0;
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"quelvanctl", "--trace", trace_});
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        backend_.ClearTransfers();
        const int code = cli::RunQuelvanctl(static_cast<int>(argv.size()), argv.data(), backend_, clock_, out, err);
        out_ = out.str();
        err_ = err.str();
        lines_ = ParseTrace(ReadLines(trace_));
        return code;
    }

    ScratchDir dir_;
    const std::string trace_ = dir_.File("trace.txt");
    ManualClock clock_;
    sim::SimulatedHidBackend backend_;
    std::string out_, err_;
    std::vector<TraceLine> lines_;
};

TEST_F(QuelvanctlInProcess, ClockSyncSendsTheComputersTimeWithTick) {
    ASSERT_EQ(Run({"--json", "clock", "sync"}), 0) << err_;
    ASSERT_FALSE(lines_.empty());
    const TraceLine& set = lines_.back();
    ASSERT_TRUE(set.isSet);
    EXPECT_EQ(set.reportId, 1);
    EXPECT_EQ(set.bytes[5], 13) << "520 ms in 40 ms ticks";
    EXPECT_EQ(set.bytes[6], 30);
    EXPECT_EQ(set.bytes[7], 45);
    EXPECT_EQ(set.bytes[8], 13);
    EXPECT_EQ(set.bytes[11], 0xff);
    EXPECT_EQ(nlohmann::json::parse(out_)["clock"], "13:45:30");
}

TEST_F(QuelvanctlInProcess, FailedTransfersExitWithOneAndSayWhat) {
    struct Case {
        const char* what;
        bool isSet;
        int reportId;
        int failures;
        std::vector<std::string> args;
        const char* message;
        int failLines;
    };
    const Case cases[] = {
        {"live write", true, 1, 3, {"set", "B", "20"}, "error: writing the live state failed after 3 attempts", 3},
        {"clock write", true, 1, 3, {"clock", "12:00"}, "error: writing the live state failed after 3 attempts", 3},
        {"live read", false, 1, 3, {"status"}, "error: reading the live state failed after 3 attempts", 3},
        {"config read", false, 5, 1, {"status"}, "error: reading the configuration failed at report 5", 1},
        {"config write", true, 5, 3, {"mode", "auto"}, "report 5 failed after 3 attempts", 3},
        {"eeprom", true, 3, 3, {"save-eeprom"}, "error: saving the settings to EEPROM failed after 3 attempts", 3},
    };
    for (const Case& c : cases) {
        backend_.FailNext(c.isSet, static_cast<std::uint8_t>(c.reportId), c.failures);
        EXPECT_EQ(Run(c.args), 1) << c.what;
        EXPECT_NE(err_.find(c.message), std::string::npos) << c.what << ": " << err_;
        int fails = 0;
        for (const TraceLine& l : lines_) fails += l.ok ? 0 : 1;
        EXPECT_EQ(fails, c.failLines) << c.what;
    }
    // The configuration write goes on with the reports after the failing one.
    backend_.FailNext(true, 4, 3);
    EXPECT_EQ(Run({"mode", "auto"}), 1);
    EXPECT_EQ(backend_.CountTransfers(true, 5), 1);
    EXPECT_EQ(backend_.CountTransfers(true, 6), 1);
}

TEST_F(QuelvanctlInProcess, FailureWithJsonPrintsOkFalse) {
    backend_.FailNext(true, 1, 3);
    EXPECT_EQ(Run({"--json", "set", "A", "on"}), 1);
    const auto json = nlohmann::json::parse(out_);
    EXPECT_EQ(json["ok"], false);
    EXPECT_NE(json["error"].get<std::string>().find("live state"), std::string::npos);
}

TEST_F(QuelvanctlInProcess, NoPermissionPointsToTheUdevRule) {
    backend_.SetOpenError(EACCES);
    EXPECT_EQ(Run({"status"}), 3);
    EXPECT_NE(err_.find("no permission"), std::string::npos) << err_;
    EXPECT_NE(err_.find("70-quelvan.rules"), std::string::npos) << err_;
    EXPECT_TRUE(out_.empty());
}

TEST_F(QuelvanctlInProcess, WriteCommandsReportWhatWasSent) {
    ASSERT_EQ(Run({"--json", "set", "b", "33,3"}), 0) << err_;
    auto json = nlohmann::json::parse(out_);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["channel"], "B");
    EXPECT_EQ(json["value"], 1364);
    EXPECT_EQ(backend_.Board().Live().ChannelValue[1], 1364);

    ASSERT_EQ(Run({"--json", "set", "all", "off"}), 0) << err_;
    json = nlohmann::json::parse(out_);
    EXPECT_EQ(json["channel"], "all");
    EXPECT_EQ(json["value"], 0);

    ASSERT_EQ(Run({"--json", "save-eeprom"}), 0) << err_;
    EXPECT_EQ(nlohmann::json::parse(out_)["ok"], true);
    EXPECT_EQ(backend_.Board().EEPROMStoreCount(), 1);
}

TEST_F(QuelvanctlInProcess, TheFirstBoardIsUsedWhenOtherDevicesComeFirst) {
    backend_.Unplug();
    backend_.AddForeignDevice({});
    backend_.Plug();
    ASSERT_EQ(Run({"set", "D", "100"}), 0) << err_;
    EXPECT_EQ(backend_.Board().Live().ChannelValue[3], 4096);
}

TEST_F(QuelvanctlInProcess, ListShowsDeviceStringsEscaped) {
    sim::ForeignDevice forger;
    forger.manufacturer = u"\x07ring\r\nHID 9: 16C0:05DF";
    backend_.AddForeignDevice(forger);
    ASSERT_EQ(Run({"list"}), 0) << err_;
    EXPECT_NE(out_.find("\"\\x07ring\\x0d\\x0aHID 9: 16C0:05DF\" \"USB Keyboard\""), std::string::npos) << out_;
    EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 2) << out_;  // the board and the gadget

    // The lists of boards that a refused choice prints escape a serial number the same way.
    sim::ForeignDevice twin;
    twin.manufacturer = u"www.dravik.info";
    twin.product = u"Quelvan2";
    twin.serialNumber = u"EVIL\x1b[2J\x07\r\nX";
    backend_.AddForeignDevice(twin);
    const std::string shown = "\"EVIL\\x1b[2J\\x07\\x0d\\x0aX\"";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"status"}, {"--device", "NOPE", "status"}}) {
        EXPECT_NE(Run(args), 0);
        EXPECT_NE(err_.find(shown), std::string::npos) << err_;
        EXPECT_EQ(err_.find('\x1b'), std::string::npos) << "no raw escape reaches the terminal";
        EXPECT_EQ(err_.find('\x07'), std::string::npos);
    }
}

// Bytes that are not UTF-8 in any argument: the command does what it does, JSON carries a
// replacement character instead, and the exit code is the real result.
TEST_F(QuelvanctlInProcess, ArgumentsThatAreNotUtf8StillGiveJson) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const std::string ini = dir_.File("caf\xe9.ini");
    const Case cases[] = {
        {{"export", ini}, 0},
        {{"import", "config", ini}, 0},
        {{"import", "table", dir_.File("t\xe9.ini")}, 5},
        {{"--device", "\xff\xfe", "status"}, 3},
        {{"set", "A", "caf\xe9"}, 2},
        {{"config", "set", "Fan\xe9", "1"}, 2},
        {{"flash", dir_.File("fw\xe9.vbf328p"), "--yes"}, 5},
        {{"graph", "--output", dir_.File("x\xe9.png")}, 4},  // no renderer beside this test program
        {{"\xe9"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        EXPECT_EQ(Run(args), c.exitCode) << err_;
        const auto json = nlohmann::json::parse(out_);
        EXPECT_EQ(json["ok"], c.exitCode == 0) << out_;
    }
    EXPECT_TRUE(std::filesystem::exists(ini)) << "written under the name given, byte for byte";
}

// A tank per board: with two boards a command needs --device (serial number or path) and
// refuses to pick one silently; list shows both with their serial numbers.
TEST_F(QuelvanctlInProcess, SeveralBoardsNeedTheDeviceOption) {
    sim::ForeignDevice twin;  // the maker's strings on a second interface
    twin.manufacturer = u"www.dravik.info";
    twin.product = u"Quelvan2";
    twin.serialNumber = u"TWIN-7";
    backend_.AddForeignDevice(twin);
    std::string boardPath;
    for (const HidInterfaceInfo& info : backend_.Enumerate())
        if (info.path.find("board") != std::string::npos) boardPath = info.path;
    ASSERT_FALSE(boardPath.empty());
    const std::string firmware = dir_.File("new.vbf328p");
    files::testing::WriteBytes(firmware, files::testing::FirmwareBytes(0, 255));

    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_NE(out_.find("\"QV2-000123\" board"), std::string::npos) << out_;
    EXPECT_NE(out_.find("\"TWIN-7\" board"), std::string::npos) << out_;

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
        bool transfers;
    };
    const Case cases[] = {
        {{"status"}, 2, "2 boards found; choose one with --device", false},
        {{"--json", "set", "A", "on"}, 2, "TWIN-7", false},
        {{"--device", "QV2-000123", "set", "A", "on"}, 0, "", true},
        {{"--device", boardPath, "status"}, 0, "", true},
        {{"--device", "NOPE", "status"}, 3, "no board with the serial number or path 'NOPE'", false},
        {{"flash", "--yes", firmware}, 2, "2 boards found", false},
        {{"--device", "QV2-000123", "flash", "--yes", firmware}, 0, "Fertig!", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        EXPECT_EQ(Run(c.args), c.exitCode);
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_EQ(!lines_.empty(), c.transfers);
    }
    // Both serial numbers are listed when the choice is refused.
    ASSERT_EQ(Run({"status"}), 2);
    EXPECT_NE(err_.find("QV2-000123"), std::string::npos);
    EXPECT_NE(err_.find("TWIN-7"), std::string::npos);
}

}  // namespace
}  // namespace quelvan::testing
